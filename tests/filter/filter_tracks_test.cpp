// The movies people have, through the filter in Wine's filter graph: sound
// formats at the audio pin's depth with their speakers (every byte as the
// ffmpeg tool decodes it), sound tracks listed and switched through
// IAMStreamSelect, chapters through IAMExtendedSeeking as ffprobe lists
// them, and cover pictures that never become the video.
#include <windows.h>

#include <mmreg.h>
#include <ole2.h>

#include <string>
#include <vector>

#include "filter/filter_harness.h"
#include "support/test_env.h"

namespace kestrel::test {
namespace {

std::vector<CMediaType> OfferedTypes(IPin* pin) {
  std::vector<CMediaType> out;
  ComPtr<IEnumMediaTypes> types;
  if (!pin || FAILED(pin->EnumMediaTypes(types.ReleaseAndGetAddressOf()))) return out;
  for (AM_MEDIA_TYPE* mt = nullptr; types->Next(1, &mt, nullptr) == S_OK && mt; mt = nullptr) {
    out.emplace_back(*mt);
    DeleteMediaType(mt);
  }
  return out;
}

const WAVEFORMATEX* Wave(const AM_MEDIA_TYPE& mt) {
  return mt.cbFormat >= sizeof(WAVEFORMATEX) ? reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat) : nullptr;
}

std::string Utf8(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
  return out;
}

// ---- Sound formats.

struct FormatCase {
  const char* movie;
  const char* oracle;  // the ffmpeg tool's decode beside the movie
  int bits;
  int channels;
  DWORD speakers;
};

class SoundFormats : public FilterTest, public testing::WithParamInterface<FormatCase> {};

TEST_P(SoundFormats, EveryByteAsFfmpegDecodesItAtThePinsDepthWithTheSpeakers) {
  const FormatCase& c = GetParam();
  std::string expected = ReadFileBytes(FixturePath(std::string(c.movie) + "." + c.oracle));
  ASSERT_FALSE(expected.empty());
  ASSERT_HR(S_OK, Load(c.movie));
  std::vector<CMediaType> types = OfferedTypes(PinNamed(L"Audio"));
  const bool extensible = c.channels > 2 || c.bits > 16;
  ASSERT_EQ(types.size(), extensible ? 2u : 1u);
  for (const CMediaType& mt : types) {
    EXPECT_EQ(mt.majortype, MEDIATYPE_Audio);
    EXPECT_EQ(mt.subtype, MEDIASUBTYPE_PCM);
    EXPECT_EQ(mt.formattype, FORMAT_WaveFormatEx);
    const WAVEFORMATEX* wf = Wave(mt);
    ASSERT_NE(wf, nullptr);
    EXPECT_EQ(wf->nChannels, c.channels);
    EXPECT_EQ(wf->wBitsPerSample, c.bits);
    EXPECT_EQ(wf->nBlockAlign, c.channels * c.bits / 8);
    EXPECT_EQ(mt.lSampleSize, wf->nBlockAlign);
  }
  // The layout first, where there is one to tell; today's type after it.
  if (extensible) {
    ASSERT_EQ(types[0].cbFormat, sizeof(WAVEFORMATEXTENSIBLE));
    const auto* x = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(types[0].pbFormat);
    EXPECT_EQ(x->Format.wFormatTag, WAVE_FORMAT_EXTENSIBLE);
    EXPECT_EQ(x->Format.cbSize, 22);
    EXPECT_EQ(x->Samples.wValidBitsPerSample, c.bits);
    EXPECT_EQ(x->dwChannelMask, c.speakers);
    EXPECT_EQ(x->SubFormat, MEDIASUBTYPE_PCM);  // KSDATAFORMAT_SUBTYPE_PCM
  }
  EXPECT_EQ(Wave(types.back())->wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(types.back().cbFormat, sizeof(WAVEFORMATEX));

  ASSERT_NE(Connect(L"Audio"), nullptr);
  ASSERT_EQ(RunToEnd(), play::EndResult::kComplete);
  Delivery d = Delivered(L"Audio");
  EXPECT_TRUE(d.pcm == expected) << d.pcm.size() << " bytes, expected " << expected.size();
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, SoundFormats,
    testing::Values(FormatCase{"snd_ac3_51.mp4", "s16le", 16, 6, 0x60F},  // 5.1 with side surrounds
                    FormatCase{"snd_eac3_51.mp4", "s16le", 16, 6, 0x60F}, FormatCase{"snd_opus.mp4", "s16le", 16, 2, 3},
                    FormatCase{"snd_flac16.mp4", "s16le", 16, 2, 3},
                    FormatCase{"snd_flac24_71.mp4", "s24le", 24, 8, 0x63F},  // 7.1: back, then side
                    FormatCase{"snd_mp3.mp4", "s16le", 16, 2, 3},
                    FormatCase{"snd_alac24_51.m4a", "s24le", 24, 6, 0x3F},  // 5.1 with back surrounds
                    FormatCase{"snd_lpcm24.mov", "s24le", 24, 2, 3}, FormatCase{"snd_lpcm16be.mov", "s16le", 16, 2, 3},
                    FormatCase{"snd_lpcmf32.mov", "s32le", 32, 2, 3}, FormatCase{"snd_fl32.mov", "s32le", 32, 2, 3},
                    FormatCase{"snd_fl64.mov", "s32le", 32, 2, 3}, FormatCase{"snd_pcm_71.mov", "s16le", 16, 8, 0x63F},
                    FormatCase{"snd_ipcm24be.mp4", "s24le", 24, 2, 3},
                    FormatCase{"snd_ipcm16le.mp4", "s16le", 16, 2, 3}),
    [](const auto& info) {
      std::string name = info.param.movie;
      for (char& c : name)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
      return name;
    });

// A renderer that does not know WAVEFORMATEXTENSIBLE connects with today's
// type and gets the same bytes.
TEST_F(FilterTest, ARendererOfPlainPcmGetsTheSameBytes) {
  ASSERT_HR(S_OK, Load("snd_ac3_51.mp4"));
  std::vector<CMediaType> types = OfferedTypes(PinNamed(L"Audio"));
  ASSERT_EQ(types.size(), 2u);
  ASSERT_NE(ConnectType(L"Audio", types[1]), nullptr);
  ASSERT_EQ(RunToEnd(), play::EndResult::kComplete);
  EXPECT_TRUE(Delivered(L"Audio").pcm == ReadFileBytes(FixturePath("snd_ac3_51.mp4.s16le")));
}

// ---- Sound tracks.

class Tracks : public FilterTest {
 protected:
  void LoadSelect(const std::string& movie) {
    ASSERT_HR(S_OK, Load(movie));
    ASSERT_HR(S_OK, filter->QueryInterface(IID_IAMStreamSelect, select.ReleaseAndGetVoidAddress()));
  }
  void TearDown() override {
    select.Reset();
    FilterTest::TearDown();
  }
  struct TrackInfo {
    HRESULT hr = E_FAIL;
    DWORD flags = 0, group = 0;
    LCID lcid = 0;
    std::wstring name;
    CMediaType type;
  };
  TrackInfo Info(LONG index) {
    TrackInfo t;
    AM_MEDIA_TYPE* mt = nullptr;
    WCHAR* name = nullptr;
    IUnknown *object = reinterpret_cast<IUnknown*>(1), *unk = reinterpret_cast<IUnknown*>(1);
    t.hr = select->Info(index, &mt, &t.flags, &t.lcid, &t.group, &name, &object, &unk);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(unk, nullptr);
    if (name) t.name = name;
    CoTaskMemFree(name);
    if (mt) {
      t.type.Set(*mt);
      DeleteMediaType(mt);
    }
    return t;
  }
  LONG Playing() {
    DWORD count = 0;
    select->Count(&count);
    for (DWORD i = 0; i < count; ++i)
      if (Info(static_cast<LONG>(i)).flags & AMSTREAMSELECTINFO_ENABLED) return static_cast<LONG>(i);
    return -1;
  }
  std::string PlayToEnd() {
    EXPECT_NE(Connect(L"Audio"), nullptr);
    EXPECT_EQ(RunToEnd(), play::EndResult::kComplete);
    return Delivered(L"Audio").pcm;
  }
  ComPtr<IAMStreamSelect> select;
};

TEST_F(Tracks, EachTrackWithItsLanguageNameCodecChannelsRateAndGroup) {
  LoadSelect("trk_lang.mp4");
  DWORD count = 0;
  ASSERT_HR(S_OK, select->Count(&count));
  ASSERT_EQ(count, 3u);
  struct Want {
    const wchar_t* name;
    LCID lcid;
    DWORD codec;  // FOURCC subtype's first field
    int channels;
    bool plays;
  } want[] = {
      // No name of its own: the handler's. ffmpeg's German track is "ger".
      {L"SoundHandler [eng]", 0x0009, MAKEFOURCC('a', 'a', 'c', ' '), 2, false},
      {L"Deutsch [ger]", 0x0007, MAKEFOURCC('a', 'c', '-', '3'), 6, true},
      {L"Commentary [eng]", 0x0009, MAKEFOURCC('a', 'a', 'c', ' '), 2, false},
  };
  for (LONG i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    TrackInfo t = Info(i);
    ASSERT_HR(S_OK, t.hr);
    EXPECT_EQ(t.name, want[i].name);
    EXPECT_EQ(t.lcid, want[i].lcid);
    EXPECT_EQ(t.group, 1u);
    EXPECT_EQ(t.flags, want[i].plays ? DWORD{AMSTREAMSELECTINFO_ENABLED | AMSTREAMSELECTINFO_EXCLUSIVE} : 0u);
    EXPECT_EQ(t.type.majortype, MEDIATYPE_Audio);
    EXPECT_EQ(t.type.subtype.Data1, want[i].codec);
    const WAVEFORMATEX* wf = Wave(t.type);
    ASSERT_NE(wf, nullptr);
    EXPECT_EQ(wf->nChannels, want[i].channels);
    EXPECT_EQ(wf->nSamplesPerSec, 48000u);
    EXPECT_EQ(wf->wBitsPerSample, 16);
  }
  // The one that plays knows its speakers.
  EXPECT_EQ(reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(Info(1).type.pbFormat)->dwChannelMask, 0x60Fu);
  EXPECT_HR(E_INVALIDARG, Info(3).hr);
  EXPECT_HR(E_INVALIDARG, Info(-1).hr);
  EXPECT_HR(E_POINTER, select->Count(nullptr));
  // Only the name and flags asked for.
  DWORD flags = 0;
  EXPECT_HR(S_OK, select->Info(1, nullptr, &flags, nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_NE(flags & AMSTREAMSELECTINFO_ENABLED, 0u);
}

TEST_F(Tracks, MacintoshLanguagesAndTheExtendedTag) {
  LoadSelect("trk_groups.mov");
  // English and French by their Macintosh codes; the third by its tag de-CH.
  EXPECT_EQ(Info(0).lcid, 0x0009u);
  EXPECT_EQ(Info(1).lcid, 0x000Cu);
  EXPECT_EQ(Info(2).lcid, 0x0807u);
  EXPECT_EQ(Info(0).name, L"SoundHandler [eng]");
  EXPECT_EQ(Info(1).name, L"SoundHandler [fra]");
  EXPECT_EQ(Info(2).name, L"SoundHandler [deu]");
}

// The first enabled member of the first alternate group plays. What the
// ffmpeg tool picks by default (the most channels among the default ones):
//   trk_lang.mp4   the German 5.1 track (1), as Kestrel;
//   trk_both.m4a   the French 5.1 track (1), where Kestrel plays 0;
//   trk_groups.mov the German track (2), as Kestrel.
TEST_F(Tracks, TheDefaultPlaysEveryByteAsFfmpegDecodesThatTrack) {
  struct Case {
    const char* movie;
    LONG plays;
  } cases[] = {{"trk_lang.mp4", 1}, {"trk_both.m4a", 0}, {"trk_groups.mov", 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.movie);
    graph.reset();
    recorders.clear();
    select.Reset();
    filter.Reset();
    LoadSelect(c.movie);
    EXPECT_EQ(Playing(), c.plays);
    std::string expected = ReadFileBytes(FixturePath(std::string(c.movie) + ".a" + std::to_string(c.plays) + ".s16le"));
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(PlayToEnd() == expected);
  }
}

TEST_F(Tracks, EnableWhileStoppedPlaysTheOtherTrackConnectedAnewWhereItsFormatDiffers) {
  LoadSelect("trk_lang.mp4");
  play::PinChain* chain = Connect(L"Audio");
  ASSERT_NE(chain, nullptr);
  IPin* pin = PinNamed(L"Audio");
  EXPECT_EQ(Wave(chain->type)->nChannels, 6);
  // 6 channels to 2: the graph connects the pin again, with the new type.
  ASSERT_HR(S_OK, select->Enable(0, AMSTREAMSELECTENABLE_ENABLE));
  EXPECT_EQ(Playing(), 0);
  AM_MEDIA_TYPE now = {};
  ASSERT_HR(S_OK, pin->ConnectionMediaType(&now));
  EXPECT_EQ(Wave(now)->nChannels, 2);
  EXPECT_EQ(now.cbFormat, sizeof(WAVEFORMATEX));
  FreeMediaType(now);
  ASSERT_EQ(RunToEnd(), play::EndResult::kComplete);
  EXPECT_TRUE(Delivered(L"Audio").pcm == ReadFileBytes(FixturePath("trk_lang.mp4.a0.s16le")));
  // Enabling the one that plays changes nothing; none, or all, is refused.
  EXPECT_HR(S_OK, select->Enable(0, AMSTREAMSELECTENABLE_ENABLE));
  EXPECT_HR(E_NOTIMPL, select->Enable(2, 0));
  EXPECT_HR(E_NOTIMPL, select->Enable(2, AMSTREAMSELECTENABLE_ENABLEALL));
  EXPECT_HR(E_INVALIDARG, select->Enable(3, AMSTREAMSELECTENABLE_ENABLE));
  EXPECT_EQ(Playing(), 0);
}

TEST_F(Tracks, EnableWhileRunningFlushesAndGoesOnOnTheSameTimeline) {
  LoadSelect("trk_lang.mp4");
  ASSERT_HR(S_OK, select->Enable(0, AMSTREAMSELECTENABLE_ENABLE));  // stereo, unconnected
  ASSERT_NE(Connect(L"Audio"), nullptr);
  // With the graph's clock the Null Renderer plays in real time.
  HRESULT hr = graph->Run();
  ASSERT_TRUE(SUCCEEDED(hr)) << std::hex << hr;
  Sleep(600);
  // Another format cannot be taken while streaming.
  EXPECT_HR(VFW_E_NOT_STOPPED, select->Enable(1, AMSTREAMSELECTENABLE_ENABLE));
  ASSERT_HR(S_OK, select->Enable(2, AMSTREAMSELECTENABLE_ENABLE));
  HRESULT code = S_OK;
  EXPECT_EQ(graph->WaitForEnd(30000, &code), play::EndResult::kComplete);
  graph->Stop();
  EXPECT_EQ(Playing(), 2);

  const std::string first = ReadFileBytes(FixturePath("trk_lang.mp4.a0.s16le"));
  const std::string second = ReadFileBytes(FixturePath("trk_lang.mp4.a2.s16le"));
  Delivery d = Delivered(L"Audio");
  size_t switched = 0;
  for (size_t i = 1; i < d.records.size(); ++i)
    if (d.records[i].discontinuity) switched = i;
  ASSERT_GT(switched, 0u) << "no discontinuity after the switch";
  // Each sample is the bytes of its own track at its own time: the new
  // track starts where the clock stood, within what was delivered before.
  size_t at = 0;
  for (size_t i = 0; i < d.records.size(); ++i) {
    SCOPED_TRACE(i);
    const play::SampleRecord& r = d.records[i];
    const std::string& track = i < switched ? first : second;
    const size_t offset = static_cast<size_t>(r.start * 48000 / 10000000) * 4;
    ASSERT_LE(offset + r.bytes, track.size());
    EXPECT_TRUE(d.pcm.compare(at, r.bytes, track, offset, r.bytes) == 0);
    at += r.bytes;
  }
  const int64_t resumed = d.records[switched].start;
  EXPECT_GE(resumed, 3000000);  // the clock was past 0.3 s
  EXPECT_LE(resumed, d.records[switched - 1].stop);
  // To the end of the new track.
  const play::SampleRecord& last = d.records.back();
  EXPECT_EQ(static_cast<size_t>(last.start * 48000 / 10000000) * 4 + last.bytes, second.size());
}

TEST_F(FilterTest, AFileWithoutSoundHasNoTracksToSelect) {
  ComPtr<IAMStreamSelect> select;
  NewFilter();
  ASSERT_HR(S_OK, filter->QueryInterface(IID_IAMStreamSelect, select.ReleaseAndGetVoidAddress()));
  DWORD count = 7;
  EXPECT_HR(S_OK, select->Count(&count));
  EXPECT_EQ(count, 0u);
  EXPECT_HR(E_INVALIDARG, select->Enable(0, AMSTREAMSELECTENABLE_ENABLE));
  ASSERT_HR(S_OK, Load("mjpeg.mov"));
  EXPECT_HR(S_OK, select->Count(&count));
  EXPECT_EQ(count, 0u);
}

// ---- Stills.

TEST_F(FilterTest, ACoverPictureIsNoVideo) {
  for (const char* movie : {"cover_art.m4a", "cover_still.m4a"}) {
    SCOPED_TRACE(movie);
    ASSERT_HR(S_OK, Load(movie));
    EXPECT_EQ(PinNamed(L"Video"), nullptr);
    EXPECT_NE(PinNamed(L"Audio"), nullptr);
    ComPtr<IQTInfo> info;
    ASSERT_HR(S_OK, filter->QueryInterface(IID_IQTInfo, info.ReleaseAndGetVoidAddress()));
    BSTR codec = nullptr;
    ULONG w, h, depth, frames;
    double rate, duration;
    EXPECT_HR(S_FALSE, info->GetVideoInfo(&codec, &w, &h, &depth, &rate, &frames, &duration));
  }
  // A movie with video and chapters keeps its video.
  ASSERT_HR(S_OK, Load("chap_track.mov"));
  EXPECT_NE(PinNamed(L"Video"), nullptr);
}

// ---- Chapters.

struct ProbeChapter {
  double start;
  std::string title;
};

// ffprobe -show_chapters -of json: each chapter's start_time and title.
std::vector<ProbeChapter> ProbeChapters(const std::string& movie) {
  std::string json = ReadFileBytes(FixturePath(movie + ".chapters.json"));
  std::vector<ProbeChapter> out;
  for (size_t at = json.find("\"start_time\""); at != std::string::npos; at = json.find("\"start_time\"", at + 1)) {
    ProbeChapter c;
    size_t quote = json.find('"', json.find(':', at) + 1);
    c.start = atof(json.c_str() + quote + 1);
    size_t title = json.find("\"title\"", at);
    size_t open = json.find('"', json.find(':', title) + 1);
    c.title = json.substr(open + 1, json.find('"', open + 1) - open - 1);
    out.push_back(c);
  }
  return out;
}

class Chapters : public FilterTest {
 protected:
  void LoadSeeking(const std::string& movie) {
    ASSERT_HR(S_OK, Load(movie));
    ASSERT_HR(S_OK, filter->QueryInterface(IID_IAMExtendedSeeking, seeking.ReleaseAndGetVoidAddress()));
  }
  void TearDown() override {
    seeking.Reset();
    FilterTest::TearDown();
  }
  ComPtr<IAMExtendedSeeking> seeking;
};

TEST_F(Chapters, MarkersAreFfprobesChapters) {
  for (const char* movie : {"chap_track.mov", "chap_both.mp4", "chap_chpl.mp4", "cover_art.m4a"}) {
    SCOPED_TRACE(movie);
    seeking.Reset();
    LoadSeeking(movie);
    std::vector<ProbeChapter> want = ProbeChapters(movie);
    ASSERT_EQ(want.size(), 3u);
    long count = 0;
    ASSERT_HR(S_OK, seeking->get_MarkerCount(&count));
    ASSERT_EQ(count, 3);
    for (long i = 1; i <= count; ++i) {
      SCOPED_TRACE(i);
      double start = -1;
      BSTR name = nullptr;
      ASSERT_HR(S_OK, seeking->GetMarkerTime(i, &start));
      ASSERT_HR(S_OK, seeking->GetMarkerName(i, &name));
      EXPECT_NEAR(start, want[i - 1].start, 5e-7);
      EXPECT_EQ(Utf8(name), want[i - 1].title);
      SysFreeString(name);
    }
    long caps = 0;
    EXPECT_HR(S_OK, seeking->get_ExSeekCapabilities(&caps));
    EXPECT_EQ(caps, AM_EXSEEK_CANSEEK | AM_EXSEEK_MARKERSEEK);
  }
  // The chapter track's names win over the Nero list's ("Start" there).
  LoadSeeking("chap_both.mp4");
  BSTR name = nullptr;
  ASSERT_HR(S_OK, seeking->GetMarkerName(1, &name));
  EXPECT_EQ(std::wstring(name), L"Intro");
  SysFreeString(name);
}

TEST_F(Chapters, TheCurrentMarkerFollowsThePosition) {
  LoadSeeking("chap_track.mov");
  long current = -1;
  ASSERT_HR(S_OK, seeking->get_CurrentMarker(&current));
  EXPECT_EQ(current, 1);
  ComPtr<IMediaSeeking> pin_seeking;
  ASSERT_HR(S_OK, PinNamed(L"Video")->QueryInterface(IID_IMediaSeeking, pin_seeking.ReleaseAndGetVoidAddress()));
  for (auto [seconds, marker] : {std::pair{1.6, 3L}, std::pair{0.7, 2L}, std::pair{0.69, 1L}}) {
    LONGLONG at = static_cast<LONGLONG>(seconds * 1e7);
    ASSERT_HR(S_OK, pin_seeking->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, 0));
    ASSERT_HR(S_OK, seeking->get_CurrentMarker(&current));
    EXPECT_EQ(current, marker) << seconds;
  }
}

TEST_F(Chapters, AMovieWithoutChaptersHasNoMarkers) {
  LoadSeeking("h264_bframes.mov");
  long count = -1, caps = 0, current = -1;
  EXPECT_HR(S_OK, seeking->get_MarkerCount(&count));
  EXPECT_EQ(count, 0);
  EXPECT_HR(S_OK, seeking->get_ExSeekCapabilities(&caps));
  EXPECT_EQ(caps, AM_EXSEEK_CANSEEK);
  EXPECT_HR(S_OK, seeking->get_CurrentMarker(&current));
  EXPECT_EQ(current, 0);
  double time = 0;
  BSTR name = nullptr;
  EXPECT_HR(E_INVALIDARG, seeking->GetMarkerTime(1, &time));
  EXPECT_HR(E_INVALIDARG, seeking->GetMarkerName(0, &name));
  EXPECT_EQ(name, nullptr);
  EXPECT_HR(E_POINTER, seeking->get_MarkerCount(nullptr));
  double speed = 0;
  EXPECT_HR(S_OK, seeking->get_PlaybackSpeed(&speed));
  EXPECT_EQ(speed, 1.0);
  EXPECT_HR(S_OK, seeking->put_PlaybackSpeed(1.0));
  EXPECT_HR(E_NOTIMPL, seeking->put_PlaybackSpeed(2.0));
  UINT infos = 5;
  EXPECT_HR(S_OK, seeking->GetTypeInfoCount(&infos));
  EXPECT_EQ(infos, 0u);
}

}  // namespace
}  // namespace kestrel::test
