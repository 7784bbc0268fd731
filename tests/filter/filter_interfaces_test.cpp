// CKestrel's own interfaces: the query table, IFileSourceFilter's Load
// outcomes and GetCurFile, the misc flags and pages, IQTControl and IQTInfo
// before a Load and with video only, sound only, both and neither, pins
// held across a new Load, and two filters that each report their own movie.
#include <ole2.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <thread>

#include "base/log.h"
#include "filter/filter_harness.h"
#include "support/test_env.h"

namespace kestrel::test {
namespace {

std::string Narrow(const wchar_t* w) {
  std::string out;
  for (; w && *w; ++w) out += static_cast<char>(*w);
  return out;
}

class Interfaces : public FilterTest {
 protected:
  void SetUp() override {
    FilterTest::SetUp();
    NewFilter();
    ASSERT_HR(S_OK, filter->QueryInterface(IID_IQTInfo, info.ReleaseAndGetVoidAddress()));
    ASSERT_HR(S_OK, filter->QueryInterface(IID_IQTControl, control.ReleaseAndGetVoidAddress()));
    ASSERT_HR(S_OK, filter->QueryInterface(IID_IFileSourceFilter, source.ReleaseAndGetVoidAddress()));
  }
  void TearDown() override {
    info.Reset();
    control.Reset();
    source.Reset();
    FilterTest::TearDown();
  }

  struct VideoInfo {
    HRESULT hr;
    std::string codec;
    ULONG width = 0, height = 0, depth = 0, frames = 0;
    double rate = 0, duration = 0;
  };
  VideoInfo GetVideo() {
    VideoInfo v;
    BSTR codec = nullptr;
    v.hr = info->GetVideoInfo(&codec, &v.width, &v.height, &v.depth, &v.rate, &v.frames, &v.duration);
    v.codec = Narrow(codec);
    SysFreeString(codec);
    return v;
  }
  HRESULT GetAudio(std::string* codec, std::string* layout, ULONG* rate) {
    BSTR c = nullptr, l = nullptr;
    HRESULT hr = info->GetAudioInfo(&c, &l, rate);
    *codec = Narrow(c);
    *layout = Narrow(l);
    SysFreeString(c);
    SysFreeString(l);
    return hr;
  }
  std::wstring CurFile(GUID* major = nullptr) {
    LPOLESTR name = nullptr;
    AM_MEDIA_TYPE mt = {};
    EXPECT_HR(S_OK, source->GetCurFile(&name, &mt));
    std::wstring out = name ? name : L"";
    CoTaskMemFree(name);
    if (major) *major = mt.majortype;
    FreeMediaType(mt);
    return out;
  }
  size_t PinCount() {
    size_t n = 0;
    ComPtr<IEnumPins> pins;
    filter->EnumPins(pins.ReleaseAndGetAddressOf());
    for (ComPtr<IPin> pin; pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK;) ++n;
    return n;
  }

  ComPtr<IQTInfo> info;
  ComPtr<IQTControl> control;
  ComPtr<IFileSourceFilter> source;
};

TEST_F(Interfaces, TheQueryTable) {
  for (const IID* iid :
       {&IID_IFileSourceFilter, &IID_IAMFilterMiscFlags, &IID_ISpecifyPropertyPages, &IID_IQTControl, &IID_IQTInfo,
        &IID_IBaseFilter, &IID_IMediaFilter, &IID_IPersist, &IID_IAMovieSetup, &IID_IUnknown}) {
    ComPtr<IUnknown> p;
    EXPECT_HR(S_OK, filter->QueryInterface(*iid, p.ReleaseAndGetVoidAddress()));
    EXPECT_NE(p.Get(), nullptr);
  }
  ComPtr<IUnknown> none;
  EXPECT_HR(E_NOINTERFACE, filter->QueryInterface(IID_IPin, none.ReleaseAndGetVoidAddress()));
  EXPECT_EQ(none.Get(), nullptr);

  ComPtr<IAMFilterMiscFlags> flags;
  ASSERT_HR(S_OK, filter->QueryInterface(IID_IAMFilterMiscFlags, flags.ReleaseAndGetVoidAddress()));
  EXPECT_EQ(flags->GetMiscFlags(), static_cast<ULONG>(AM_FILTER_MISC_FLAGS_IS_SOURCE));
  ComPtr<ISpecifyPropertyPages> pages;
  ASSERT_HR(S_OK, filter->QueryInterface(IID_ISpecifyPropertyPages, pages.ReleaseAndGetVoidAddress()));
  CAUUID uuids = {};
  ASSERT_HR(S_OK, pages->GetPages(&uuids));
  ASSERT_EQ(uuids.cElems, 1u);
  EXPECT_EQ(uuids.pElems[0], CLSID_KestrelProp);
  CoTaskMemFree(uuids.pElems);
  EXPECT_HR(E_POINTER, pages->GetPages(nullptr));
  CLSID clsid = {};
  ComPtr<IPersist> persist;
  ASSERT_HR(S_OK, filter->QueryInterface(IID_IPersist, persist.ReleaseAndGetVoidAddress()));
  EXPECT_HR(S_OK, persist->GetClassID(&clsid));
  EXPECT_EQ(clsid, CLSID_Kestrel);
}

TEST_F(Interfaces, BeforeAnyLoad) {
  GUID major = MEDIATYPE_Video;
  EXPECT_EQ(CurFile(&major), L"");
  EXPECT_EQ(major, GUID_NULL);
  EXPECT_HR(E_POINTER, source->GetCurFile(nullptr, nullptr));
  QT_VIDEO_QUALITY quality = Video_MaxQuality;
  QT_VIDEO_FIELDMODE mode = Video_FieldMode_TopFieldOnly;
  EXPECT_HR(E_FAIL, control->SetVideoQuality(Video_HighQuality));
  EXPECT_HR(E_FAIL, control->GetVideoQuality(&quality));
  EXPECT_HR(E_FAIL, control->SetVideoFieldMode(Video_FieldMode_BothFields));
  EXPECT_HR(E_FAIL, control->GetVideoFieldMode(&mode));
  EXPECT_HR(S_FALSE, GetVideo().hr);
  std::string codec, layout;
  ULONG rate = 7;
  EXPECT_HR(S_FALSE, GetAudio(&codec, &layout, &rate));
  ULONG count = 99;
  EXPECT_HR(S_FALSE, info->GetUserDataCount(&count));
  EXPECT_EQ(count, 0u);
  BSTR text = nullptr;
  EXPECT_HR(S_FALSE, info->GetUserDataName(0, &text));
  EXPECT_HR(S_FALSE, info->GetUserDataValue(0, &text));
  EXPECT_EQ(text, nullptr);
  LONG drop = 5;
  BYTE h = 5, m = 5, s = 5, f = 5;
  EXPECT_HR(E_FAIL, info->GetTimeCode(&drop, &h, &m, &s, &f));
  EXPECT_EQ(drop + h + m + s + f, 0);
  EXPECT_HR(E_POINTER, info->GetUserDataCount(nullptr));
  EXPECT_HR(E_POINTER, info->GetVideoInfo(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(Interfaces, VideoOnly) {
  ASSERT_HR(S_OK, Load("frames250.mov"));  // 10 s, 25 frames a second, no sound
  VideoInfo v = GetVideo();
  ASSERT_HR(S_OK, v.hr);
  EXPECT_EQ(v.codec, "Lavc mjpeg");
  EXPECT_EQ(v.width, 64u);
  EXPECT_EQ(v.height, 48u);
  EXPECT_EQ(v.depth, 24u);
  EXPECT_DOUBLE_EQ(v.rate, 25.0);
  EXPECT_EQ(v.frames, 250u);
  EXPECT_DOUBLE_EQ(v.duration, 10.0);
  std::string codec, layout;
  ULONG rate = 0;
  EXPECT_HR(S_FALSE, GetAudio(&codec, &layout, &rate));
  std::vector<std::string> log = LogMessages();
  EXPECT_NE(std::find(log.begin(), log.end(), "Video duration: 100000000 (10000 ms)"), log.end());
  EXPECT_NE(std::find(log.begin(), log.end(), "File doesn't have audio."), log.end());

  // No decoder yet: the settings are not there to read or change.
  QT_VIDEO_QUALITY quality = Video_MinQuality;
  EXPECT_HR(E_FAIL, control->SetVideoQuality(Video_HighQuality));
  ASSERT_NE(Connect(L"Video"), nullptr);
  // Nothing in the registry: normal quality, both fields.
  EXPECT_HR(S_OK, control->GetVideoQuality(&quality));
  EXPECT_EQ(quality, Video_NormalQuality);
  QT_VIDEO_FIELDMODE mode = Video_FieldMode_DeinterlaceFields;
  EXPECT_HR(S_OK, control->GetVideoFieldMode(&mode));
  EXPECT_EQ(mode, Video_FieldMode_BothFields);
  EXPECT_HR(S_OK, control->SetVideoQuality(Video_HighQuality));
  EXPECT_HR(S_OK, control->GetVideoQuality(&quality));
  EXPECT_EQ(quality, Video_HighQuality);
  EXPECT_HR(S_OK, control->SetVideoQuality(static_cast<QT_VIDEO_QUALITY>(5)));  // passed on unchanged
  EXPECT_HR(S_OK, control->GetVideoQuality(&quality));
  EXPECT_EQ(static_cast<int>(quality), 5);
  EXPECT_HR(S_OK, control->SetVideoFieldMode(Video_FieldMode_TopFieldOnly));
  EXPECT_HR(S_OK, control->GetVideoFieldMode(&mode));
  EXPECT_EQ(mode, Video_FieldMode_TopFieldOnly);
  EXPECT_HR(E_POINTER, control->GetVideoQuality(nullptr));
  // A new decoder starts from the registry again.
  CMediaType mt;
  ASSERT_HR(S_OK, VideoPin()->GetMediaType(0, &mt));
  EXPECT_HR(S_OK, PinNamed(L"Video")->QueryAccept(&mt));
  EXPECT_HR(S_OK, control->GetVideoQuality(&quality));
  EXPECT_EQ(quality, Video_NormalQuality);
  // No time-code track.
  LONG drop = 0;
  BYTE h, m, s, f;
  EXPECT_HR(S_FALSE, info->GetTimeCode(&drop, &h, &m, &s, &f));
}

TEST_F(Interfaces, SoundOnly) {
  ASSERT_HR(S_OK, Load("audio.m4a"));
  EXPECT_HR(S_FALSE, GetVideo().hr);
  EXPECT_HR(E_FAIL, control->SetVideoQuality(Video_HighQuality));
  std::string codec, layout;
  ULONG rate = 0;
  ASSERT_HR(S_OK, GetAudio(&codec, &layout, &rate));
  EXPECT_EQ(codec, "MPEG-4 Low Complexity AAC");
  EXPECT_EQ(layout, "Mono");
  EXPECT_EQ(rate, 44100u);
  LONG drop = 3;
  BYTE h, m, s, f;
  EXPECT_HR(E_FAIL, info->GetTimeCode(&drop, &h, &m, &s, &f));  // no video pin
  EXPECT_EQ(drop, 0);
  std::vector<std::string> log = LogMessages();
  EXPECT_NE(std::find(log.begin(), log.end(), "File doesn't have video."), log.end());
}

TEST_F(Interfaces, NeitherKindOfTrack) {
  ASSERT_HR(S_OK, Load("neither.mov"));
  EXPECT_EQ(PinCount(), 0u);
  EXPECT_HR(S_FALSE, GetVideo().hr);
  std::string codec, layout;
  ULONG rate = 0;
  EXPECT_HR(S_FALSE, GetAudio(&codec, &layout, &rate));
  ULONG count = 0;
  EXPECT_HR(S_OK, info->GetUserDataCount(&count));
  EXPECT_EQ(count, 31u);
}

// The catalogue through IQTInfo says what the probe says, and the time code
// is the one at the video position.
TEST_F(Interfaces, UserDataAndTimeCode) {
  ASSERT_HR(S_OK, Load("md_tags.mov"));
  ULONG count = 0;
  ASSERT_HR(S_OK, info->GetUserDataCount(&count));
  ASSERT_EQ(count, 31u);
  std::map<std::string, std::string> tags;
  for (ULONG i = 0; i < count; ++i) {
    BSTR name = nullptr, value = nullptr;
    ASSERT_HR(S_OK, info->GetUserDataName(i, &name));
    ASSERT_HR(S_OK, info->GetUserDataValue(i, &value));
    if (SysStringLen(value) > 0) tags[Narrow(name)] = Narrow(value);
    if (i == 30) {
      EXPECT_EQ(Narrow(name), "URL Link");
    }
    SysFreeString(name);
    SysFreeString(value);
  }
  BSTR none = nullptr;
  EXPECT_HR(E_INVALIDARG, info->GetUserDataName(31, &none));
  EXPECT_HR(E_INVALIDARG, info->GetUserDataValue(31, &none));
  EXPECT_EQ(none, nullptr);
  std::string probe = RunProbe("--json " + FixturePath("md_tags.mov"));
  for (const auto& [name, value] : tags)
    EXPECT_NE(probe.find("\"" + name + "\": \"" + value + "\""), std::string::npos) << name;
  EXPECT_EQ(tags.size(), 12u);

  ASSERT_HR(S_OK, Load("md_tc_df.mov"));
  LONG drop = 0;
  BYTE h = 9, m = 9, s = 9, f = 9;
  ASSERT_HR(S_OK, info->GetTimeCode(&drop, &h, &m, &s, &f));
  EXPECT_EQ(drop, 1);
  EXPECT_EQ(h, 1);
  EXPECT_EQ(m + s + f, 0);
  EXPECT_HR(E_POINTER, info->GetTimeCode(nullptr, &h, &m, &s, &f));
}

TEST_F(Interfaces, LoadOutcomes) {
  const std::wstring first = Wide(FixturePath("h264_bframes.mov"));
  const std::wstring second = Wide(FixturePath("mjpeg.mov"));
  // Without a media type the stream type is kept.
  ASSERT_HR(S_OK, LoadPath(first));
  GUID major = GUID_NULL;
  EXPECT_EQ(CurFile(&major), first);
  EXPECT_EQ(major, MEDIATYPE_Stream);
  EXPECT_EQ(PinCount(), 2u);
  // No name: nothing changes.
  EXPECT_HR(E_POINTER, source->Load(nullptr, nullptr));
  EXPECT_EQ(CurFile(), first);
  EXPECT_EQ(PinCount(), 2u);
  // Connected, then running: refused, nothing changes.
  ASSERT_NE(Connect(L"Video"), nullptr);
  EXPECT_HR(VFW_E_ALREADY_CONNECTED, source->Load(second.c_str(), nullptr));
  ASSERT_HR(S_OK, graph->RemoveClock());
  ASSERT_TRUE(SUCCEEDED(graph->Run()));
  EXPECT_HR(VFW_E_NOT_STOPPED, source->Load(second.c_str(), nullptr));
  EXPECT_EQ(CurFile(), first);
  graph.reset();
  recorders.clear();
  // A second file replaces the first one's pins; the given type is kept.
  AM_MEDIA_TYPE mt = {};
  mt.majortype = MEDIATYPE_Video;
  ASSERT_HR(S_OK, source->Load(second.c_str(), &mt));
  EXPECT_EQ(CurFile(&major), second);
  EXPECT_EQ(major, MEDIATYPE_Video);
  EXPECT_EQ(PinCount(), 1u);
  // Not a movie: the previous pins are gone and there is no file.
  EXPECT_HR(E_FAIL, Load("not_a_movie.mov"));
  EXPECT_EQ(PinCount(), 0u);
  EXPECT_EQ(CurFile(), L"");
  EXPECT_HR(E_FAIL, Load("empty.mov"));
  EXPECT_HR(E_FAIL, LoadPath(L"Z:\\no\\such\\file.mov"));
}

// Pins, their seeking and an enumerator taken before a new Load stay safe to
// call: the old pins are out of the filter, hold no movie, and answer.
TEST_F(Interfaces, PinsHeldAcrossALoadStaySafe) {
  ASSERT_HR(S_OK, Load("h264_bframes.mov"));
  ComPtr<IPin> old_video;
  ComPtr<IMediaSeeking> old_seeking;
  ComPtr<IEnumPins> old_pins;
  ASSERT_HR(S_OK, filter->FindPin(L"1", old_video.ReleaseAndGetAddressOf()));
  ASSERT_HR(S_OK, old_video->QueryInterface(IID_IMediaSeeking, old_seeking.ReleaseAndGetVoidAddress()));
  ASSERT_HR(S_OK, filter->EnumPins(old_pins.ReleaseAndGetAddressOf()));
  for (int i = 0; i < 3; ++i) ASSERT_HR(S_OK, Load(i % 2 ? "h264_bframes.mov" : "audio.m4a"));

  PIN_INFO pin_info = {};
  ASSERT_HR(S_OK, old_video->QueryPinInfo(&pin_info));
  EXPECT_STREQ(pin_info.achName, L"Video");
  pin_info.pFilter->Release();
  LONGLONG start = 5000000;
  EXPECT_HR(S_OK, old_seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0));
  ComPtr<IEnumMediaTypes> types;
  ASSERT_HR(S_OK, old_video->EnumMediaTypes(types.ReleaseAndGetAddressOf()));
  AM_MEDIA_TYPE* mt = nullptr;
  EXPECT_NE(types->Next(1, &mt, nullptr), S_OK);  // no movie behind it any more
  if (mt) DeleteMediaType(mt);
  // The enumerator made for the first pins now walks the filter's pins.
  ComPtr<IPin> now;
  ULONG fetched = 0;
  EXPECT_HR(S_OK, old_pins->Reset());
  EXPECT_HR(S_OK, old_pins->Next(1, now.ReleaseAndGetAddressOf(), &fetched));
  ASSERT_EQ(fetched, 1u);
  EXPECT_NE(now.Get(), old_video.Get());
}

// What one filter reports of its movie through IQTInfo: every tag with a
// value, the time code, the video facts.
struct Report {
  std::map<std::string, std::string> tags;
  HRESULT time_code = E_UNEXPECTED;
  LONG drop = -1;
  BYTE clock[4] = {};
  ULONG width = 0, height = 0, frames = 0;
  double rate = 0, duration = 0;
  bool operator==(const Report& o) const {
    return tags == o.tags && time_code == o.time_code && drop == o.drop && std::equal(clock, clock + 4, o.clock) &&
           width == o.width && height == o.height && frames == o.frames && rate == o.rate && duration == o.duration;
  }
};

Report ReportOf(IBaseFilter* filter) {
  Report r;
  ComPtr<IQTInfo> info;
  if (FAILED(filter->QueryInterface(IID_IQTInfo, info.ReleaseAndGetVoidAddress()))) return r;
  for (ULONG i = 0; i < 31; ++i) {
    BSTR name = nullptr, value = nullptr;
    if (info->GetUserDataName(i, &name) == S_OK && info->GetUserDataValue(i, &value) == S_OK && SysStringLen(value) > 0)
      r.tags[Narrow(name)] = Narrow(value);
    SysFreeString(name);
    SysFreeString(value);
  }
  r.time_code = info->GetTimeCode(&r.drop, &r.clock[0], &r.clock[1], &r.clock[2], &r.clock[3]);
  BSTR codec = nullptr;
  ULONG depth = 0;
  info->GetVideoInfo(&codec, &r.width, &r.height, &depth, &r.rate, &r.frames, &r.duration);
  SysFreeString(codec);
  return r;
}

HRESULT LoadInto(IBaseFilter* filter, const char* movie) {
  ComPtr<IFileSourceFilter> source;
  HRESULT hr = filter->QueryInterface(IID_IFileSourceFilter, source.ReleaseAndGetVoidAddress());
  return FAILED(hr) ? hr : source->Load(Wide(FixturePath(movie)).c_str(), nullptr);
}

// Two filters in one process with different movies: each reports its own
// tags, time code and facts, whichever loaded last, and when both load over
// and over at the same time on two threads.
TEST_F(FilterTest, TwoFiltersEachReportTheirOwnMovie) {
  const char* movies[2] = {"md_tags.mov", "md_tc_df.mov"};
  ComPtr<IBaseFilter> filters[2];
  Report alone[2];
  for (int k = 0; k < 2; ++k) {
    ASSERT_HR(S_OK, NewKestrelFilter(filters[k].ReleaseAndGetAddressOf()));
    ASSERT_HR(S_OK, LoadInto(filters[k].Get(), movies[k]));
    alone[k] = ReportOf(filters[k].Get());
  }
  // What each movie is: tags but no time code at 25 frames a second; a
  // drop-frame time code from 01:00:00;00 and no tags at 29.97.
  EXPECT_EQ(alone[0].tags.size(), 12u);
  EXPECT_EQ(alone[0].tags["Full Name"], "The Title");
  EXPECT_HR(S_FALSE, alone[0].time_code);
  EXPECT_DOUBLE_EQ(alone[0].rate, 25.0);
  EXPECT_TRUE(alone[1].tags.empty());
  EXPECT_HR(S_OK, alone[1].time_code);
  EXPECT_EQ(alone[1].drop, 1);
  EXPECT_EQ(alone[1].clock[0], 1);
  EXPECT_NEAR(alone[1].rate, 29.97, 0.01);

  // Either order: the filter loaded first still reports its own movie.
  for (int first : {0, 1}) {
    SCOPED_TRACE(first);
    int second = 1 - first;
    ASSERT_HR(S_OK, LoadInto(filters[first].Get(), movies[first]));
    ASSERT_HR(S_OK, LoadInto(filters[second].Get(), movies[second]));
    EXPECT_EQ(ReportOf(filters[first].Get()), alone[first]);
    EXPECT_EQ(ReportOf(filters[second].Get()), alone[second]);
  }

  // At the same time: each thread loads its filter again and again and reads
  // back what it loaded while the other loads.
  std::atomic<int> wrong[2] = {0, 0};
  auto run = [&](int k) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    for (int i = 0; i < 30; ++i) {
      if (LoadInto(filters[k].Get(), movies[k]) != S_OK || !(ReportOf(filters[k].Get()) == alone[k])) ++wrong[k];
    }
    CoUninitialize();
  };
  std::thread other(run, 1);
  run(0);
  other.join();
  EXPECT_EQ(wrong[0].load(), 0);
  EXPECT_EQ(wrong[1].load(), 0);
}

}  // namespace
}  // namespace kestrel::test
