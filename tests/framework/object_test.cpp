// The object base, media types and the filter's own queries.
#include <evcode.h>
#include <vfwmsgs.h>

#include <cwchar>
#include <string>

#include "harness.h"

namespace kestrel::test {
namespace {

// An object with one interface, built on the base, aggregatable.
class Persisted : public CUnknown, public IPersist {
 public:
  explicit Persisted(IUnknown* outer) : CUnknown(L"Persisted", outer) {}
  ~Persisted() override { ++destroyed; }
  KESTREL_DECLARE_IUNKNOWN
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IPersist) return GetInterface(static_cast<IPersist*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
  }
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* id) override {
    *id = CLSID_TestSource;
    return S_OK;
  }
  static inline int destroyed = 0;
};

TEST(ObjectBase, CountsReferencesAndLiveObjects) {
  ASSERT_EQ(CBaseObject::ObjectsActive(), 0);
  Persisted::destroyed = 0;
  auto* object = new Persisted(nullptr);
  EXPECT_EQ(CBaseObject::ObjectsActive(), 1);
  IUnknown* self = AsUnknown(static_cast<INonDelegatingUnknown*>(object));
  EXPECT_EQ(object->GetOwner(), self);
  EXPECT_EQ(object->NonDelegatingAddRef(), 1u);
  EXPECT_EQ(object->NonDelegatingAddRef(), 2u);

  void* p = reinterpret_cast<void*>(1);
  EXPECT_HR(E_NOINTERFACE, object->NonDelegatingQueryInterface(IID_IBaseFilter, &p));
  EXPECT_EQ(p, nullptr);
  EXPECT_HR(E_POINTER, object->NonDelegatingQueryInterface(IID_IUnknown, nullptr));
  EXPECT_HR(S_OK, object->NonDelegatingQueryInterface(IID_IUnknown, &p));
  EXPECT_EQ(p, self);
  EXPECT_EQ(object->NonDelegatingRelease(), 2u);

  IPersist* persist = nullptr;
  ASSERT_HR(S_OK, self->QueryInterface(IID_IPersist, reinterpret_cast<void**>(&persist)));
  EXPECT_EQ(persist->AddRef(), 4u);  // an interface's count is the object's
  EXPECT_EQ(persist->Release(), 3u);
  persist->Release();
  EXPECT_EQ(object->NonDelegatingRelease(), 1u);
  EXPECT_EQ(Persisted::destroyed, 0);
  EXPECT_EQ(object->NonDelegatingRelease(), 0u);
  EXPECT_EQ(Persisted::destroyed, 1);
  EXPECT_EQ(CBaseObject::ObjectsActive(), 0);
}

TEST(ObjectBase, AggregatedObjectPassesItsInterfacesCallsToTheOuter) {
  CountingOuter outer;
  auto* inner = new Persisted(&outer);
  EXPECT_EQ(inner->GetOwner(), &outer);
  inner->NonDelegatingAddRef();
  IPersist* persist = nullptr;
  ASSERT_HR(S_OK, inner->NonDelegatingQueryInterface(IID_IPersist, reinterpret_cast<void**>(&persist)));
  EXPECT_EQ(outer.refs, 2u);  // the reference taken for the caller is the outer's
  void* p = nullptr;
  EXPECT_HR(E_NOINTERFACE, persist->QueryInterface(IID_IPersist, &p));
  EXPECT_EQ(outer.queries, 1);
  persist->Release();
  EXPECT_EQ(outer.refs, 1u);
  EXPECT_EQ(inner->NonDelegatingRelease(), 0u);
  EXPECT_EQ(CBaseObject::ObjectsActive(), 0);
}

TEST(MediaType, CopiesComparesAndFrees) {
  CMediaType a = VideoType(MEDIASUBTYPE_RGB32);
  CMediaType b(a);
  ASSERT_NE(a.pbFormat, b.pbFormat);  // a deep copy
  EXPECT_TRUE(a == b);
  reinterpret_cast<VIDEOINFOHEADER*>(b.pbFormat)->bmiHeader.biWidth = 17;
  EXPECT_FALSE(a == b);  // format bytes differ
  CMediaType c = VideoType(MEDIASUBTYPE_RGB32);
  c.lSampleSize = 7;
  c.bTemporalCompression = TRUE;
  EXPECT_TRUE(a == c);  // sample size and flags are not compared
  c.SetSubtype(MEDIASUBTYPE_RGB24);
  EXPECT_FALSE(a == c);
  CMediaType d = a;
  d.SetFormat(d.pbFormat, d.cbFormat - 1);
  EXPECT_FALSE(a == d);  // format length differs

  CMediaType partial;
  partial.SetType(MEDIATYPE_Video);
  EXPECT_FALSE(partial.IsFullySpecified());
  EXPECT_TRUE(partial.MatchesPartial(a));
  EXPECT_FALSE(partial.MatchesPartial(AudioType(2)));
  partial.SetType(GUID_NULL);
  partial.SetSubtype(MEDIASUBTYPE_RGB24);
  EXPECT_FALSE(partial.MatchesPartial(a));
  EXPECT_TRUE(partial.MatchesPartial(c));

  AM_MEDIA_TYPE* heap = CreateMediaType(&a);
  ASSERT_NE(heap, nullptr);
  EXPECT_TRUE(a == *heap);
  EXPECT_NE(heap->pbFormat, a.pbFormat);
  DeleteMediaType(heap);
  a.Clear();
  EXPECT_EQ(a.pbFormat, nullptr);
  EXPECT_EQ(a.cbFormat, 0u);
  EXPECT_FALSE(a.IsValid());
}

using FilterQueries = FrameworkTest;

TEST_F(FilterQueries, InterfacesInfoAndGraph) {
  void* p = nullptr;
  IBaseFilter* filter = static_cast<IBaseFilter*>(source);
  EXPECT_HR(S_OK, filter->QueryInterface(IID_IMediaFilter, &p));
  EXPECT_EQ(p, filter);
  static_cast<IUnknown*>(p)->Release();
  EXPECT_HR(S_OK, filter->QueryInterface(IID_IPersist, &p));
  EXPECT_EQ(p, filter);
  static_cast<IUnknown*>(p)->Release();
  IAMovieSetup* setup = nullptr;
  ASSERT_HR(S_OK, filter->QueryInterface(IID_IAMovieSetup, reinterpret_cast<void**>(&setup)));
  EXPECT_HR(S_FALSE, setup->Register());
  EXPECT_HR(S_FALSE, setup->Unregister());
  setup->Release();
  EXPECT_HR(E_NOINTERFACE, filter->QueryInterface(IID_IPin, &p));
  EXPECT_EQ(RefCount(filter), 1u);

  CLSID clsid;
  EXPECT_HR(S_OK, filter->GetClassID(&clsid));
  EXPECT_TRUE(clsid == CLSID_TestSource);
  LPWSTR vendor = reinterpret_cast<LPWSTR>(1);
  EXPECT_HR(E_NOTIMPL, filter->QueryVendorInfo(&vendor));

  FILTER_INFO info;
  EXPECT_HR(S_OK, filter->QueryFilterInfo(&info));
  EXPECT_STREQ(info.achName, L"");
  EXPECT_EQ(info.pGraph, nullptr);

  auto* graph = new FakeGraph;
  std::wstring longName(300, L'n');
  EXPECT_HR(S_OK, filter->JoinFilterGraph(static_cast<IFilterGraph*>(graph), longName.c_str()));
  EXPECT_EQ(RefCount(static_cast<IFilterGraph*>(graph)), 1u);  // the graph is not held
  EXPECT_HR(S_OK, filter->QueryFilterInfo(&info));
  EXPECT_EQ(wcslen(info.achName), 127u);
  EXPECT_EQ(info.pGraph, static_cast<IFilterGraph*>(graph));
  EXPECT_EQ(RefCount(static_cast<IFilterGraph*>(graph)), 2u);
  info.pGraph->Release();

  // EC_COMPLETE carries the filter itself as its second parameter.
  EXPECT_HR(S_OK, source->NotifyEvent(EC_COMPLETE, 5, 6));
  EXPECT_HR(S_OK, source->NotifyEvent(EC_ERRORABORT, E_FAIL, 6));
  auto events = graph->Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].code, EC_COMPLETE);
  EXPECT_EQ(events[0].param1, 5);
  EXPECT_EQ(events[0].param2, reinterpret_cast<LONG_PTR>(filter));
  EXPECT_EQ(events[1].param2, 6);

  EXPECT_HR(S_OK, filter->JoinFilterGraph(nullptr, nullptr));
  EXPECT_HR(E_NOTIMPL, source->NotifyEvent(EC_COMPLETE, 0, 0));
  EXPECT_HR(E_POINTER, filter->QueryFilterInfo(nullptr));
  static_cast<IFilterGraph*>(graph)->Release();
}

TEST_F(FilterQueries, StateClockAndStreamTime) {
  IBaseFilter* filter = static_cast<IBaseFilter*>(source);
  FILTER_STATE state;
  EXPECT_HR(S_OK, filter->GetState(0, &state));
  EXPECT_EQ(state, State_Stopped);
  EXPECT_HR(E_POINTER, filter->GetState(0, nullptr));

  REFERENCE_TIME t = 0;
  EXPECT_HR(VFW_E_NO_CLOCK, source->StreamTime(&t));
  auto* clock = new FixedClock(50'000);
  auto* other = new FixedClock(0);
  EXPECT_HR(S_OK, filter->SetSyncSource(clock));
  EXPECT_EQ(RefCount(clock), 2u);
  IReferenceClock* got = nullptr;
  EXPECT_HR(S_OK, filter->GetSyncSource(&got));
  EXPECT_EQ(got, clock);
  EXPECT_EQ(RefCount(clock), 3u);
  got->Release();

  EXPECT_HR(S_OK, filter->Run(20'000));  // no pins: the state changes only
  EXPECT_EQ(source->StartTime(), 20'000);
  EXPECT_HR(S_OK, filter->GetState(0, &state));
  EXPECT_EQ(state, State_Running);
  EXPECT_HR(S_OK, source->StreamTime(&t));
  EXPECT_EQ(t, 30'000);
  EXPECT_HR(S_OK, filter->Pause());
  EXPECT_EQ(source->State(), State_Paused);
  EXPECT_HR(S_OK, filter->Stop());
  EXPECT_HR(S_OK, filter->Stop());  // stopping a stopped filter does nothing

  EXPECT_HR(S_OK, filter->SetSyncSource(other));
  EXPECT_EQ(RefCount(clock), 1u);
  EXPECT_EQ(RefCount(other), 2u);
  EXPECT_HR(S_OK, filter->SetSyncSource(nullptr));
  EXPECT_EQ(RefCount(other), 1u);
  EXPECT_HR(S_OK, filter->GetSyncSource(&got));
  EXPECT_EQ(got, nullptr);
  clock->Release();
  other->Release();
}

TEST_F(FilterQueries, PinsRegisterFindAndIdentify) {
  TestPin* video = AddPin(L"Video");
  TestPin* audio = AddPin(L"Audio");
  EXPECT_EQ(source->GetPinCount(), 2);
  EXPECT_EQ(source->GetPin(0), video);
  EXPECT_EQ(source->GetPin(1), audio);
  EXPECT_EQ(source->GetPin(2), nullptr);
  EXPECT_EQ(source->GetPin(-1), nullptr);

  IBaseFilter* filter = static_cast<IBaseFilter*>(source);
  IPin* found = nullptr;
  EXPECT_HR(S_OK, filter->FindPin(L"2", &found));
  EXPECT_EQ(found, static_cast<IPin*>(audio));
  EXPECT_EQ(RefCount(filter), 2u);  // a pin's reference is the filter's
  found->Release();
  for (const wchar_t* bad : {L"0", L"x", L"3", L"", L"1x", L"-1", L"99999999999"}) {
    found = reinterpret_cast<IPin*>(1);
    EXPECT_HR(VFW_E_NOT_FOUND, filter->FindPin(bad, &found)) << "id " << std::string(bad, bad + wcslen(bad));
    EXPECT_EQ(found, nullptr);
  }

  LPWSTR id = nullptr;
  EXPECT_HR(S_OK, audio->QueryId(&id));
  EXPECT_STREQ(id, L"2");
  CoTaskMemFree(id);
  EXPECT_HR(S_OK, video->QueryId(&id));
  EXPECT_STREQ(id, L"1");
  CoTaskMemFree(id);

  PIN_INFO info;
  EXPECT_HR(S_OK, audio->QueryPinInfo(&info));
  EXPECT_STREQ(info.achName, L"Audio");
  EXPECT_EQ(info.dir, PINDIR_OUTPUT);
  EXPECT_EQ(info.pFilter, filter);
  EXPECT_EQ(RefCount(filter), 2u);
  info.pFilter->Release();

  // A pin removed: the later ones move down.
  delete video;
  EXPECT_EQ(source->GetPinCount(), 1);
  EXPECT_EQ(source->GetPin(0), audio);
  EXPECT_HR(S_OK, audio->QueryId(&id));
  EXPECT_STREQ(id, L"1");
  CoTaskMemFree(id);

  void* p = nullptr;
  EXPECT_HR(S_OK, static_cast<IPin*>(audio)->QueryInterface(IID_IQualityControl, &p));
  IQualityControl* quality = static_cast<IQualityControl*>(p);
  Quality q = {};
  EXPECT_HR(E_NOTIMPL, quality->Notify(filter, q));
  EXPECT_HR(S_OK, quality->SetSink(nullptr));
  quality->Release();
  EXPECT_HR(E_NOINTERFACE, static_cast<IPin*>(audio)->QueryInterface(IID_IMemInputPin, &p));
  EXPECT_EQ(RefCount(filter), 1u);
}

TEST_F(FilterQueries, PinIdentifiersPastThreeDigits) {
  // The identifier fits whatever the position: pin 1000 is "1000".
  TestPin* last = nullptr;
  for (int i = 0; i < 1000; ++i) last = AddPin(L"p");
  LPWSTR id = nullptr;
  ASSERT_HR(S_OK, last->QueryId(&id));
  EXPECT_STREQ(id, L"1000");
  CoTaskMemFree(id);
  IPin* found = nullptr;
  ASSERT_HR(S_OK, static_cast<IBaseFilter*>(source)->FindPin(L"1000", &found));
  EXPECT_EQ(found, static_cast<IPin*>(last));
  found->Release();
}

}  // namespace
}  // namespace kestrel::test
