// The video pin's negotiation in a real graph: the types it offers, what it
// accepts, stride and flip from the agreed format, a stride change during
// streaming, lateness reports, and the log of a Load and a connection.

#include <algorithm>
#include <mutex>

#include "base/log.h"
#include "filter/filter_harness.h"
#include "support/test_env.h"
#include "video/video_oracle.h"

namespace kestrel::test {
namespace {

VIDEOINFOHEADER* Vih(CMediaType& mt) { return reinterpret_cast<VIDEOINFOHEADER*>(mt.Format()); }

// Messages of the log from the first one equal to `from`.
std::vector<std::string> LogFrom(const std::string& from) {
  std::vector<std::string> all = LogMessages();
  auto it = std::find(all.begin(), all.end(), from);
  return std::vector<std::string>(it, all.end());
}

TEST_F(FilterTest, TheVideoPinOffersFourFormatsInTableOrder) {
  ASSERT_HR(S_OK, Load("h264_bframes.mov"));  // 320 x 240, 50 frames in 2 s
  CVideoPin* pin = VideoPin();
  ASSERT_NE(pin, nullptr);
  struct Row {
    const GUID* subtype;
    WORD bits;
    DWORD compression;
  } rows[] = {{&MEDIASUBTYPE_UYVY, 16, MAKEFOURCC('U', 'Y', 'V', 'Y')},
              {&MEDIASUBTYPE_YUY2, 16, MAKEFOURCC('Y', 'U', 'Y', '2')},
              {&MEDIASUBTYPE_RGB32, 32, BI_RGB},
              {&MEDIASUBTYPE_ARGB32, 32, BI_RGB}};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    CMediaType mt;
    ASSERT_HR(S_OK, pin->GetMediaType(i, &mt));
    EXPECT_EQ(mt.majortype, MEDIATYPE_Video);
    EXPECT_EQ(mt.subtype, *rows[i].subtype);
    EXPECT_EQ(mt.formattype, FORMAT_VideoInfo);
    EXPECT_TRUE(mt.bFixedSizeSamples);
    EXPECT_FALSE(mt.bTemporalCompression);
    ASSERT_EQ(mt.cbFormat, 1128u);
    const VIDEOINFOHEADER* vih = Vih(mt);
    EXPECT_EQ(vih->bmiHeader.biWidth, 320);
    EXPECT_EQ(vih->bmiHeader.biHeight, 240);
    EXPECT_EQ(vih->bmiHeader.biBitCount, rows[i].bits);
    EXPECT_EQ(vih->bmiHeader.biCompression, rows[i].compression);
    EXPECT_EQ(vih->bmiHeader.biSizeImage, 320u * 240u * rows[i].bits / 8u);
    EXPECT_EQ(mt.lSampleSize, vih->bmiHeader.biSizeImage);
    EXPECT_EQ(vih->AvgTimePerFrame, 400000);
    EXPECT_EQ(vih->rcSource.right, 320);
    EXPECT_EQ(vih->rcTarget.bottom, 240);
  }
  CMediaType none;
  EXPECT_HR(VFW_S_NO_MORE_ITEMS, pin->GetMediaType(4, &none));
  EXPECT_HR(E_INVALIDARG, pin->GetMediaType(-1, &none));
}

TEST_F(FilterTest, CheckMediaTypeRefusesWithoutALogLineUnlessItIsVideoOfFixedSize) {
  ASSERT_HR(S_OK, Load("mjpeg.mov"));
  CVideoPin* pin = VideoPin();
  ASSERT_NE(pin, nullptr);
  CMediaType mt;
  ASSERT_HR(S_OK, pin->GetMediaType(0, &mt));
  ResetLog();
  mt.bFixedSizeSamples = FALSE;
  EXPECT_HR(E_INVALIDARG, pin->CheckMediaType(&mt));
  EXPECT_TRUE(LogMessages().empty());
  mt.bFixedSizeSamples = TRUE;
  mt.subtype = MEDIASUBTYPE_RGB24;
  EXPECT_HR(E_INVALIDARG, pin->CheckMediaType(&mt));
  EXPECT_EQ(LogMessages(), (std::vector<std::string>{"", "CVideoPin::CheckMediaType() is called with Unknown.",
                                                     "CVideoPin::CheckMediaType() is returning E_INVALIDARG."}));
}

// RGB32 with a positive height is bottom-up, with a negative height top-down;
// the pictures arrive that way.
TEST_F(FilterTest, TheAgreedFormatGivesStrideAndFlip) {
  Expected e = LoadExpected("mjpeg.mov.play", "bgra");
  for (LONG sign : {1, -1}) {
    SCOPED_TRACE(sign);
    ASSERT_HR(S_OK, Load("mjpeg.mov"));
    CMediaType mt;
    ASSERT_HR(S_OK, VideoPin()->GetMediaType(2, &mt));
    Vih(mt)->bmiHeader.biHeight *= sign;
    ResetLog();
    ASSERT_NE(ConnectType(L"Video", mt), nullptr);
    std::vector<std::string> log = LogFrom("CVideoPin::SetMediaType() is called with MEDIASUBTYPE_RGB32.");
    ASSERT_GE(log.size(), 5u);
    EXPECT_EQ(log[1], "Width: 320, Height: " + std::to_string(240 * sign) + ", Depth: 32.");
    EXPECT_EQ(log[2], "Setting stride to 1280.");
    EXPECT_EQ(log[3], sign > 0 ? "Setting flip to 1." : "Setting flip to 0.");
    EXPECT_EQ(log[4], "CVideoPin::SetMediaType() is returning S_OK.");
    // The harness reads the rows bottom-up for a positive height only.
    ASSERT_EQ(RunToEnd(), play::EndResult::kComplete);
    Delivery d = Delivered(L"Video");
    ASSERT_EQ(d.md5.size(), e.md5.size());
    for (size_t i = 0; i < d.md5.size(); ++i) EXPECT_EQ(d.md5[i], e.md5[i]) << i;
    EXPECT_EQ(d.records[0].bytes, 1280 * 240);
    graph.reset();
    recorders.clear();
    filter.Reset();
  }
}

TEST_F(FilterTest, QueryAcceptFollowsTheStrideAndRefusesAnotherSubtype) {
  ASSERT_HR(S_OK, Load("mjpeg.mov"));
  play::PinChain* chain = Connect(L"Video", &MEDIASUBTYPE_RGB32);
  ASSERT_NE(chain, nullptr);
  IPin* pin = PinNamed(L"Video");
  CMediaType wider(chain->type);
  Vih(wider)->bmiHeader.biWidth = 1024;
  ResetLog();
  EXPECT_HR(S_OK, pin->QueryAccept(&wider));
  EXPECT_EQ(LogMessages(),
            (std::vector<std::string>{
                "",
                "CVideoPin::QueryAccept() is called with stride 1024 and MEDIASUBTYPE_RGB32. (Our pin MediaType is "
                "MEDIASUBTYPE_RGB32).",
                "The provided MediaType is the same as our pin, accepting it.", "Setting stride to 4096.",
                "Setting flip to 1.", "CVideoPin::QueryAccept() is returning S_OK."}));

  CMediaType other(chain->type);
  other.subtype = MEDIASUBTYPE_UYVY;
  ResetLog();
  EXPECT_HR(S_FALSE, pin->QueryAccept(&other));
  EXPECT_EQ(LogMessages(), (std::vector<std::string>{"",
                                                     "CVideoPin::QueryAccept() is called with stride 320 and "
                                                     "MEDIASUBTYPE_UYVY. (Our pin MediaType is MEDIASUBTYPE_RGB32).",
                                                     "The provided MediaType is different from our pin, rejecting it.",
                                                     "CVideoPin::QueryAccept() is returning S_FALSE."}));
  other.subtype = MEDIASUBTYPE_RGB24;
  ResetLog();
  EXPECT_HR(S_FALSE, pin->QueryAccept(&other));
  std::vector<std::string> log = LogMessages();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(
      log[1],
      "CVideoPin::QueryAccept() is called with stride 320 and Unknown. (Our pin MediaType is MEDIASUBTYPE_RGB32).");
  EXPECT_EQ(log[2], "The provided MediaType is not supported, rejecting it.");
  // Not video, or no VIDEOINFOHEADER: refused without a word.
  other.subtype = MEDIASUBTYPE_RGB32;
  other.formattype = FORMAT_VideoInfo2;
  ResetLog();
  EXPECT_HR(E_INVALIDARG, pin->QueryAccept(&other));
  EXPECT_TRUE(LogMessages().empty());
}

// With the graph paused on its first picture the renderer asks for rows of
// 256 pixels: every later picture comes with that stride, bottom-up, as far
// as the one-frame buffer holds it (Wine's renderers keep the buffers they
// have), and nothing is written past the buffer.
TEST_F(FilterTest, AStrideChangeDuringStreamingAppliesToTheNextPictures) {
  constexpr int kWidth = 160, kHeight = 120, kNewStride = 1024;
  const std::string oracle = ReadFileBytes(FixturePath("raw2vuy.mov.play.bgra.raw"));
  const size_t picture = kWidth * 4 * kHeight;
  ASSERT_EQ(oracle.size(), 25 * picture);
  ASSERT_HR(S_OK, Load("raw2vuy.mov"));

  std::mutex lock;
  std::vector<std::string> frames;
  auto* recorder = new play::SampleRecorder;
  recorder->SetHandler([&](const play::SampleRecord& r, const BYTE* data, size_t) {
    std::lock_guard<std::mutex> guard(lock);
    frames.emplace_back(reinterpret_cast<const char*>(data), static_cast<size_t>(r.bytes));
  });
  HANDLE first = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  recorder->SignalAt(1, first);
  NewGraph();
  play::PinChain* chain = nullptr;
  ASSERT_HR(S_OK, graph->Connect(PinNamed(L"Video"), &MEDIASUBTYPE_RGB32, recorder, &chain));
  recorder->Release();
  ASSERT_HR(S_OK, graph->RemoveClock());
  ASSERT_TRUE(SUCCEEDED(graph->Pause()));
  ASSERT_EQ(WaitForSingleObject(first, 20000), WAIT_OBJECT_0);
  CloseHandle(first);
  CMediaType wider(chain->type);
  Vih(wider)->bmiHeader.biWidth = kNewStride / 4;
  EXPECT_HR(S_OK, PinNamed(L"Video")->QueryAccept(&wider));
  ASSERT_TRUE(SUCCEEDED(graph->Run()));
  ASSERT_EQ(graph->WaitForEnd(30000, nullptr), play::EndResult::kComplete);
  graph->Stop();

  std::lock_guard<std::mutex> guard(lock);
  ASSERT_EQ(frames.size(), 25u);
  for (size_t i = 0; i < frames.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(frames[i].size(), picture);  // the buffer, whole
    const int stride = i == 0 ? kWidth * 4 : kNewStride;
    for (int row = 0; row < kHeight; ++row) {
      size_t at = static_cast<size_t>(kHeight - 1 - row) * stride;
      if (at + kWidth * 4 > frames[i].size()) continue;  // beyond the buffer
      ASSERT_TRUE(frames[i].compare(at, kWidth * 4, oracle, i * picture + row * kWidth * 4, kWidth * 4) == 0)
          << "row " << row;
    }
  }
}

// A lateness report makes the pin skip ahead; none, or a negative one,
// changes nothing. The sound pin does not take reports.
TEST_F(FilterTest, LatenessSkipsAhead) {
  Expected e = LoadExpected("mjpeg.mov.play", "uyvy422");
  for (REFERENCE_TIME late : {REFERENCE_TIME{10000000}, REFERENCE_TIME{0}, REFERENCE_TIME{-5000000}}) {
    SCOPED_TRACE(late);
    ASSERT_HR(S_OK, Load("mjpeg.mov"));
    ASSERT_NE(Connect(L"Video", &MEDIASUBTYPE_UYVY), nullptr);
    ComPtr<IQualityControl> quality;
    ASSERT_HR(S_OK, PinNamed(L"Video")->QueryInterface(IID_IQualityControl, quality.ReleaseAndGetVoidAddress()));
    Quality q = {Famine, 500, late, 0};
    EXPECT_HR(S_OK, quality->Notify(filter.Get(), q));
    ASSERT_EQ(RunToEnd(), play::EndResult::kComplete);
    Delivery d = Delivered(L"Video");
    ASSERT_FALSE(d.records.empty());
    size_t first = 0;
    while (first < e.start.size() && e.start[first] < std::max<REFERENCE_TIME>(late, 0)) ++first;
    EXPECT_EQ(d.records[0].start, e.start[first]);
    EXPECT_EQ(d.md5[0], e.md5[first]);
    EXPECT_EQ(d.md5.size(), e.md5.size() - first);
    graph.reset();
    recorders.clear();
    filter.Reset();
  }
  ASSERT_HR(S_OK, Load("h264_bframes.mov"));
  ComPtr<IQualityControl> sound;
  ASSERT_HR(S_OK, PinNamed(L"Audio")->QueryInterface(IID_IQualityControl, sound.ReleaseAndGetVoidAddress()));
  EXPECT_HR(E_FAIL, sound->Notify(filter.Get(), Quality{Famine, 500, 10000000, 0}));
}

TEST_F(FilterTest, TheLogOfALoadAndAConnection) {
  const std::string path = FixturePath("h264_bframes.mov");
  ASSERT_HR(S_OK, Load("h264_bframes.mov"));
  ASSERT_NE(Connect(L"Video", &MEDIASUBTYPE_UYVY), nullptr);
  std::vector<std::string> log = LogMessages();
  std::vector<std::string> expected = {"-[Initialization]-----",
                                       "",
                                       "Quicktime Filter Initialization started.",
                                       "Loading file: " + path,
                                       "",
                                       "-[VIDEO INFO]-----",
                                       "",
                                       "Video duration: 20000000 (2000 ms)",
                                       "",
                                       "-[AUDIO INFO]-----",
                                       "",
                                       "Audio In: 44100 sample rate, 1 channel(s), 16 bits per channel",
                                       "Audio Out: 44100 sample rate, 1 channel(s), 16 bits per channel",
                                       "Audio Out: 88200 Average Bytes per Sec",
                                       "Audio duration: 20000000 (2000 ms)",
                                       "",
                                       "-[PINS NEGOCIATION]-----",
                                       "",
                                       "CVideoPin::CheckMediaType() is called with MEDIASUBTYPE_UYVY.",
                                       "CVideoPin::CheckMediaType() is returning S_OK.",
                                       "",
                                       "CVideoPin::SetMediaType() is called with MEDIASUBTYPE_UYVY.",
                                       "Width: 320, Height: 240, Depth: 16.",
                                       "Setting stride to 640.",
                                       "Setting flip to 1.",
                                       "CVideoPin::SetMediaType() is returning S_OK."};
  ASSERT_GE(log.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(log[i], expected[i]) << "line " << i;
  // What Wine's grabber asks afterwards is answered in the same words.
  for (size_t i = expected.size(); i < log.size(); ++i)
    EXPECT_TRUE(log[i].empty() || log[i].rfind("CVideoPin::", 0) == 0 || log[i].rfind("The provided", 0) == 0 ||
                log[i].rfind("Setting ", 0) == 0)
        << log[i];
}

// A Load that fails ends the log with one line saying why, as the engine
// reads the file; the lines before it are the ones there always were.
TEST_F(FilterTest, TheLogSaysWhyALoadFails) {
  struct Case {
    const char* movie;
    std::vector<std::string> before;  // after the "Loading file" line
    std::string why;
  };
  const std::vector<std::string> video = {"", "-[VIDEO INFO]-----", ""};
  std::vector<std::string> nine = video;
  for (const char* line : {"File doesn't have video.", "", "-[AUDIO INFO]-----", "",
                           "Audio In: 8000 sample rate, 9 channel(s), 16 bits per channel",
                           "Audio Out: 8000 sample rate, 9 channel(s), 16 bits per channel"})
    nine.push_back(line);
  for (const Case& c : {
           Case{"no_such_file.mov", video, "There is no such file."},
           Case{"folder.mov", video, "It is a folder, not a movie file."},
           Case{"not_a_movie.mov", video, "It is not a movie of a kind Kestrel opens: by its first bytes, text."},
           Case{"aud_9ch.caf", nine,
                "Kestrel cannot deliver the movie's streams as they are (sound 'sowt' (PCM signed 16-bit "
                "little-endian), 8000 Hz, 9 channels)."},
       }) {
    SCOPED_TRACE(c.movie);
    filter.Reset();
    ASSERT_HR(E_FAIL, Load(c.movie));
    std::vector<std::string> expected = {"-[Initialization]-----", "", "Quicktime Filter Initialization started.",
                                         "Loading file: " + FixturePath(c.movie)};
    expected.insert(expected.end(), c.before.begin(), c.before.end());
    expected.push_back("ERROR! " + c.why);
    EXPECT_EQ(LogMessages(), expected);
  }
  // A Load that succeeds says nothing of the kind.
  filter.Reset();
  ASSERT_HR(S_OK, Load("mjpeg.mov"));
  for (const std::string& line : LogMessages()) EXPECT_EQ(line.rfind("ERROR!", 0), std::string::npos) << line;
}

// A file with neither kind of track loads with no pins; one kind only gives
// that pin alone, with the line for the other.
TEST_F(FilterTest, PinsFollowTheTracks) {
  struct Case {
    const char* movie;
    std::vector<std::wstring> pins;
    const char* absent;
  };
  for (const Case& c : {Case{"h264_bframes.mov", {L"Video", L"Audio"}, nullptr},
                        Case{"mjpeg.mov", {L"Video"}, "File doesn't have audio."},
                        Case{"audio.m4a", {L"Audio"}, "File doesn't have video."},
                        Case{"neither.mov", {}, "File doesn't have video."}}) {
    SCOPED_TRACE(c.movie);
    ASSERT_HR(S_OK, Load(c.movie));
    std::vector<std::wstring> names;
    ComPtr<IEnumPins> pins;
    ASSERT_HR(S_OK, filter->EnumPins(pins.ReleaseAndGetAddressOf()));
    for (ComPtr<IPin> pin; pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK;) {
      PIN_INFO info = {};
      pin->QueryPinInfo(&info);
      info.pFilter->Release();
      names.push_back(info.achName);
      EXPECT_EQ(info.dir, PINDIR_OUTPUT);
    }
    EXPECT_EQ(names, c.pins);
    std::vector<std::string> log = LogMessages();
    if (c.absent) {
      EXPECT_NE(std::find(log.begin(), log.end(), c.absent), log.end());
    }
    if (c.pins.empty()) {
      EXPECT_NE(std::find(log.begin(), log.end(), "File doesn't have audio."), log.end());
    }
    filter.Reset();
  }
}

}  // namespace
}  // namespace kestrel::test
