// The seeking base: position flags, hooks, rate, time formats,
// capabilities, and a seek that restarts a streaming worker.
#include <vfwmsgs.h>

#include "harness.h"

namespace kestrel::test {
namespace {

using Strings = std::vector<std::string>;
constexpr LONGLONG kSecond = 10'000'000;

class Seeking : public FrameworkTest {
 protected:
  void SetUp() override {
    FrameworkTest::SetUp();
    pin = AddPin(L"Video");
    pin->SetDuration(20 * kSecond);
    ASSERT_HR(S_OK, static_cast<IPin*>(pin)->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking)));
  }
  void TearDown() override {
    if (seeking) seeking->Release();
    FrameworkTest::TearDown();
  }
  Strings Hooks() {
    Strings out;
    for (const std::string& call : pin->Calls()) {
      if (call.rfind("Change", 0) == 0) out.push_back(call);
    }
    pin->ClearCalls();
    return out;
  }
  TestPin* pin = nullptr;
  IMediaSeeking* seeking = nullptr;
};

// A seeking object on its own, aggregated by an outer object.
class PlainSeeking : public CSourceSeeking {
 public:
  PlainSeeking(IUnknown* outer, CCritSec* lock) : CSourceSeeking(L"PlainSeeking", outer, nullptr, lock) {}
  HRESULT ChangeStart() override { return S_OK; }
  HRESULT ChangeStop() override { return S_OK; }
  HRESULT ChangeRate() override { return S_OK; }
};

TEST(SeekingBase, DefaultsAndItsOwnQuery) {
  CCritSec lock;
  CountingOuter outer;
  auto* object = new PlainSeeking(&outer, &lock);
  IMediaSeeking* seeking = nullptr;
  ASSERT_HR(S_OK, object->NonDelegatingQueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking)));
  EXPECT_EQ(outer.refs, 2u);  // the reference is the outer object's
  void* p = nullptr;
  EXPECT_HR(E_NOINTERFACE, object->NonDelegatingQueryInterface(IID_IPin, &p));
  EXPECT_EQ(p, nullptr);
  DWORD caps = 0;
  EXPECT_HR(S_OK, seeking->GetCapabilities(&caps));
  EXPECT_EQ(caps, 0x37u);
  LONGLONG value = 0;
  EXPECT_HR(S_OK, seeking->GetDuration(&value));
  EXPECT_EQ(value, 0x3FFFFFFFFFFFFFFFLL);
  EXPECT_HR(S_OK, seeking->GetStopPosition(&value));
  EXPECT_EQ(value, 0x3FFFFFFFFFFFFFFFLL);
  LONGLONG start = -1;
  EXPECT_HR(S_OK, seeking->GetPositions(&start, nullptr));
  EXPECT_EQ(start, 0);
  double rate = 0;
  EXPECT_HR(S_OK, seeking->GetRate(&rate));
  EXPECT_EQ(rate, 1.0);
  seeking->Release();
  EXPECT_EQ(outer.refs, 1u);
  delete object;
  EXPECT_EQ(CBaseObject::ObjectsActive(), 0);
}

TEST_F(Seeking, InterfaceBelongsToThePin) {
  EXPECT_EQ(RefCount(static_cast<IBaseFilter*>(source)), 2u);  // this seeking reference
  IPin* back = nullptr;
  EXPECT_HR(S_OK, seeking->QueryInterface(IID_IPin, reinterpret_cast<void**>(&back)));
  EXPECT_EQ(back, static_cast<IPin*>(pin));
  back->Release();
  IUnknown* unknown = nullptr;
  EXPECT_HR(S_OK, seeking->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)));
  IUnknown* pin_unknown = nullptr;
  EXPECT_HR(S_OK, static_cast<IPin*>(pin)->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pin_unknown)));
  EXPECT_EQ(unknown, pin_unknown);  // one identity
  unknown->Release();
  pin_unknown->Release();
  EXPECT_EQ(RefCount(static_cast<IBaseFilter*>(source)), 2u);
}

TEST_F(Seeking, SetPositionsFlagRules) {
  LONGLONG start = 5 * kSecond, stop = 0;
  EXPECT_HR(S_OK, seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0));
  EXPECT_EQ(pin->SeekStart(), 5 * kSecond);
  EXPECT_EQ(pin->SeekStop(), 20 * kSecond);  // kept
  EXPECT_EQ(Hooks(), Strings({"ChangeStart"}));

  start = -2 * kSecond;
  stop = 1 * kSecond;
  EXPECT_HR(S_OK,
            seeking->SetPositions(&start, AM_SEEKING_RelativePositioning, &stop, AM_SEEKING_IncrementalPositioning));
  EXPECT_EQ(pin->SeekStart(), 3 * kSecond);
  EXPECT_EQ(pin->SeekStop(), 4 * kSecond);
  EXPECT_EQ(Hooks(), Strings({"ChangeStop", "ChangeStart"}));  // stop first
  stop = 2 * kSecond;
  EXPECT_HR(S_OK, seeking->SetPositions(nullptr, 0, &stop, AM_SEEKING_RelativePositioning));
  EXPECT_EQ(pin->SeekStop(), 6 * kSecond);
  stop = 7 * kSecond;
  EXPECT_HR(S_OK, seeking->SetPositions(nullptr, 0, &stop, AM_SEEKING_AbsolutePositioning));
  EXPECT_EQ(pin->SeekStop(), 7 * kSecond);
  EXPECT_EQ(Hooks(), Strings({"ChangeStop", "ChangeStop"}));

  // Stop flags with any other bit are refused and change nothing.
  start = 1;
  stop = 1;
  EXPECT_HR(E_INVALIDARG, seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop,
                                                AM_SEEKING_AbsolutePositioning | AM_SEEKING_SeekToKeyFrame));
  EXPECT_HR(E_INVALIDARG, seeking->SetPositions(nullptr, 0, &stop, AM_SEEKING_ReturnTime));
  EXPECT_EQ(pin->SeekStart(), 3 * kSecond);
  EXPECT_EQ(pin->SeekStop(), 7 * kSecond);
  // The same bits on the start are accepted; incremental is not.
  EXPECT_HR(S_OK,
            seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning | AM_SEEKING_SeekToKeyFrame, nullptr, 0));
  EXPECT_EQ(pin->SeekStart(), 1);
  EXPECT_HR(E_INVALIDARG, seeking->SetPositions(&start, AM_SEEKING_IncrementalPositioning, nullptr, 0));
  EXPECT_EQ(Hooks(), Strings({"ChangeStart"}));
  // No positioning with a flag leaves the start alone and calls no hook.
  start = 9;
  EXPECT_HR(S_OK, seeking->SetPositions(&start, AM_SEEKING_NoPositioning | AM_SEEKING_ReturnTime, nullptr, 0));
  EXPECT_EQ(pin->SeekStart(), 1);

  // Null pointers with flags; both flags 0 change nothing and call nothing.
  EXPECT_HR(E_POINTER, seeking->SetPositions(nullptr, AM_SEEKING_AbsolutePositioning, nullptr, 0));
  EXPECT_HR(E_POINTER, seeking->SetPositions(nullptr, 0, nullptr, AM_SEEKING_AbsolutePositioning));
  EXPECT_HR(S_OK, seeking->SetPositions(nullptr, 0, nullptr, 0));
  EXPECT_TRUE(Hooks().empty());

  // No range test: a start after the stop is stored as given.
  start = 30 * kSecond;
  EXPECT_HR(S_OK, seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0));
  LONGLONG current = 0;
  EXPECT_HR(S_OK, seeking->GetPositions(&current, &stop));
  EXPECT_EQ(current, 30 * kSecond);
  EXPECT_EQ(stop, 7 * kSecond);
  EXPECT_HR(S_OK, seeking->GetPositions(nullptr, nullptr));

  // The result: ChangeStop's, replaced by ChangeStart's.
  pin->change_stop_result = E_ABORT;
  EXPECT_HR(E_ABORT, seeking->SetPositions(nullptr, 0, &stop, AM_SEEKING_AbsolutePositioning));
  EXPECT_HR(S_OK, seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop, AM_SEEKING_AbsolutePositioning));
  pin->change_start_result = E_UNEXPECTED;
  EXPECT_HR(E_UNEXPECTED, seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0));
}

TEST_F(Seeking, RateFormatsAndCapabilities) {
  EXPECT_HR(S_OK, seeking->SetRate(2.0));
  double rate = 0;
  EXPECT_HR(S_OK, seeking->GetRate(&rate));
  EXPECT_EQ(rate, 2.0);
  EXPECT_EQ(Hooks(), Strings({"ChangeRate"}));
  EXPECT_HR(E_POINTER, seeking->GetRate(nullptr));

  LONGLONG value = 0;
  EXPECT_HR(S_OK, seeking->ConvertTimeFormat(&value, nullptr, 1234, nullptr));
  EXPECT_EQ(value, 1234);
  EXPECT_HR(S_OK, seeking->ConvertTimeFormat(&value, &TIME_FORMAT_MEDIA_TIME, 77, nullptr));
  EXPECT_EQ(value, 77);
  value = 5;
  EXPECT_HR(E_INVALIDARG, seeking->ConvertTimeFormat(&value, &TIME_FORMAT_MEDIA_TIME, 77, &TIME_FORMAT_FRAME));
  EXPECT_HR(E_INVALIDARG, seeking->ConvertTimeFormat(&value, &TIME_FORMAT_FRAME, 77, nullptr));
  EXPECT_EQ(value, 5);
  EXPECT_HR(E_POINTER, seeking->ConvertTimeFormat(nullptr, nullptr, 77, nullptr));

  GUID format = GUID_NULL;
  EXPECT_HR(S_OK, seeking->IsFormatSupported(&TIME_FORMAT_MEDIA_TIME));
  EXPECT_HR(S_FALSE, seeking->IsFormatSupported(&TIME_FORMAT_FRAME));
  EXPECT_HR(S_OK, seeking->QueryPreferredFormat(&format));
  EXPECT_TRUE(format == TIME_FORMAT_MEDIA_TIME);
  format = GUID_NULL;
  EXPECT_HR(S_OK, seeking->GetTimeFormat(&format));
  EXPECT_TRUE(format == TIME_FORMAT_MEDIA_TIME);
  EXPECT_HR(S_OK, seeking->IsUsingTimeFormat(&TIME_FORMAT_MEDIA_TIME));
  EXPECT_HR(S_FALSE, seeking->IsUsingTimeFormat(&TIME_FORMAT_FRAME));
  EXPECT_HR(S_OK, seeking->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME));
  EXPECT_HR(E_INVALIDARG, seeking->SetTimeFormat(&TIME_FORMAT_FRAME));

  DWORD caps = 0;
  EXPECT_HR(S_OK, seeking->GetCapabilities(&caps));
  EXPECT_EQ(caps, 0x3Fu);
  caps = AM_SEEKING_CanGetCurrentPos;
  EXPECT_HR(S_OK, seeking->CheckCapabilities(&caps));
  caps = AM_SEEKING_CanPlayBackwards;  // 0x40
  EXPECT_HR(S_FALSE, seeking->CheckCapabilities(&caps));
  EXPECT_EQ(caps, 0x40u);  // left as given
  caps = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanPlayBackwards;
  EXPECT_HR(S_FALSE, seeking->CheckCapabilities(&caps));

  LONGLONG duration = 0, earliest = -1, latest = 0, preroll = -1, current = 0;
  EXPECT_HR(S_OK, seeking->GetDuration(&duration));
  EXPECT_EQ(duration, 20 * kSecond);
  EXPECT_HR(S_OK, seeking->GetStopPosition(&value));
  EXPECT_EQ(value, 20 * kSecond);
  EXPECT_HR(S_OK, seeking->GetAvailable(&earliest, &latest));
  EXPECT_EQ(earliest, 0);
  EXPECT_EQ(latest, 20 * kSecond);
  EXPECT_HR(S_OK, seeking->GetAvailable(nullptr, nullptr));
  EXPECT_HR(S_OK, seeking->GetPreroll(&preroll));
  EXPECT_EQ(preroll, 0);
  EXPECT_HR(E_NOTIMPL, seeking->GetCurrentPosition(&current));
  EXPECT_HR(E_POINTER, seeking->GetDuration(nullptr));
  EXPECT_HR(E_POINTER, seeking->GetCapabilities(nullptr));
}

TEST_F(Seeking, SeekWhilePausedRestartsTheWorker) {
  TestInputPin* sink = Connected(pin);
  EXPECT_HR(S_OK, static_cast<IBaseFilter*>(source)->Pause());
  ASSERT_TRUE(Wait(sink->eos_event));
  sink->ClearCalls();
  EXPECT_HR(S_OK, seeking->SetRate(2.0));  // stored only: the segment stays at 1.0

  LONGLONG start = 5 * kSecond;
  EXPECT_HR(S_OK, seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0));
  ASSERT_TRUE(Wait(sink->eos_event));
  Strings calls = sink->Calls();
  ASSERT_GE(calls.size(), 4u);
  EXPECT_EQ(Strings(calls.begin(), calls.begin() + 3), Strings({"BeginFlush", "EndFlush", "NewSegment"}));
  EXPECT_EQ(calls.back(), "EndOfStream");
  EXPECT_EQ(sink->segment_start, 5 * kSecond);
  EXPECT_EQ(sink->segment_stop, 20 * kSecond);
  EXPECT_EQ(sink->segment_rate, 1.0);
  EXPECT_EQ(pin->start_plays.load(), 2);
  EXPECT_EQ(sink->received.load(), 6);
  EXPECT_EQ(sink->discontinuities, std::vector<bool>({true, false, false, true, false, false}));
  EXPECT_EQ(pin->thread_creates.load(), 1);  // the same worker, restarted
  EXPECT_HR(S_OK, static_cast<IBaseFilter*>(source)->Stop());

  // Stopped: a seek moves the positions only; the next pause announces them.
  start = 1 * kSecond;
  sink->ClearCalls();
  EXPECT_HR(S_OK, seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0));
  EXPECT_TRUE(sink->Calls().empty());
  EXPECT_HR(S_OK, static_cast<IBaseFilter*>(source)->Pause());
  ASSERT_TRUE(Wait(sink->eos_event));
  EXPECT_EQ(sink->segment_start, 1 * kSecond);
  EXPECT_HR(S_OK, static_cast<IBaseFilter*>(source)->Stop());
}

}  // namespace
}  // namespace kestrel::test
