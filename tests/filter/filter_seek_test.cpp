// Seeking through each pin's IMediaSeeking and through the graph's, before
// running and while running, and a stop position: the sound restarts at 0
// with a discontinuity, the first picture is the first shown at or after
// the new start, and a stop ends both streams after the sample starting at it.
#include <algorithm>

#include "filter/filter_harness.h"
#include "support/test_env.h"
#include "video/video_oracle.h"

namespace kestrel::test {
namespace {

constexpr LONGLONG kSecond = 10000000;
constexpr char kMovie[] = "long_av.mov";  // 20 s, 25 frames a second, 44.1 kHz mono 16-bit

class Seeking : public FilterTest {
 protected:
  void SetUp() override {
    FilterTest::SetUp();
    expected = LoadExpected(std::string(kMovie) + ".play", "uyvy422");
    pcm = ReadFileBytes(FixturePath(std::string(kMovie) + ".s16le"));
    ASSERT_EQ(expected.md5.size(), 500u);
    ASSERT_HR(S_OK, Load(kMovie));
    ASSERT_NE(Connect(L"Video", &MEDIASUBTYPE_UYVY), nullptr);
    ASSERT_NE(Connect(L"Audio"), nullptr);
  }

  HRESULT SeekPins(LONGLONG* start, DWORD start_flags, LONGLONG* stop, DWORD stop_flags) {
    HRESULT result = S_OK;
    for (const wchar_t* name : {L"Video", L"Audio"}) {
      ComPtr<IMediaSeeking> seeking;
      HRESULT hr = PinNamed(name)->QueryInterface(IID_IMediaSeeking, seeking.ReleaseAndGetVoidAddress());
      if (SUCCEEDED(hr)) hr = seeking->SetPositions(start, start_flags, stop, stop_flags);
      if (FAILED(hr)) result = hr;
    }
    return result;
  }
  HRESULT SeekGraph(LONGLONG start) {
    ComPtr<IMediaSeeking> seeking;
    HRESULT hr = graph->Graph()->QueryInterface(IID_IMediaSeeking, seeking.ReleaseAndGetVoidAddress());
    return SUCCEEDED(hr) ? seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0) : hr;
  }

  // From the last discontinuity on, each stream is the movie from target.
  void ExpectStreamsFrom(LONGLONG target) {
    Delivery video = Delivered(L"Video");
    Delivery audio = Delivered(L"Audio");
    ASSERT_FALSE(video.records.empty());
    ASSERT_FALSE(audio.records.empty());

    size_t v = video.records.size();
    while (v > 0 && !video.records[v - 1].discontinuity) --v;
    ASSERT_GT(v, 0u) << "no discontinuity";
    --v;
    size_t first = 0;
    while (first < expected.start.size() && expected.start[first] < target) ++first;
    ASSERT_EQ(video.records.size() - v, expected.md5.size() - first);
    for (size_t i = v; i < video.records.size(); ++i) {
      size_t k = first + (i - v);
      SCOPED_TRACE(k);
      EXPECT_EQ(video.md5[i], expected.md5[k]);
      EXPECT_EQ(video.records[i].start, expected.start[k] - target);
    }

    size_t a = audio.records.size();
    while (a > 0 && !audio.records[a - 1].discontinuity) --a;
    ASSERT_GT(a, 0u);
    --a;
    EXPECT_EQ(audio.records[a].start, 0);
    EXPECT_TRUE(audio.records[a].sync_point);
    size_t before = 0;
    for (size_t i = 0; i < a; ++i) before += static_cast<size_t>(audio.records[i].bytes);
    const size_t offset = static_cast<size_t>(target / kSecond) * 88200;
    EXPECT_TRUE(audio.pcm.substr(before) == pcm.substr(offset))
        << audio.pcm.size() - before << " bytes after the seek, expected " << pcm.size() - offset;
  }

  Expected expected;
  std::string pcm;
};

TEST_F(Seeking, ThroughEachPinBeforeRunning) {
  LONGLONG start = 10 * kSecond;
  ASSERT_HR(S_OK, SeekPins(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0));
  ASSERT_EQ(RunToEnd(), play::EndResult::kComplete);
  ExpectStreamsFrom(10 * kSecond);
}

TEST_F(Seeking, ThroughTheGraphBeforeRunning) {
  ASSERT_HR(S_OK, SeekGraph(10 * kSecond));
  ASSERT_EQ(RunToEnd(), play::EndResult::kComplete);
  ExpectStreamsFrom(10 * kSecond);
}

// The seek comes once the first picture has arrived, on this thread, while
// the workers stream.
class SeekingWhileRunning : public Seeking, public testing::WithParamInterface<bool> {};

TEST_P(SeekingWhileRunning, RestartsBothStreamsAtTheTarget) {
  const bool through_graph = GetParam();
  HANDLE first = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  graph->Chains()[0]->recorder->SignalAt(1, first);
  ASSERT_HR(S_OK, graph->RemoveClock());
  ASSERT_TRUE(SUCCEEDED(graph->Run()));
  ASSERT_EQ(WaitForSingleObject(first, 20000), WAIT_OBJECT_0);
  LONGLONG start = 10 * kSecond;
  EXPECT_HR(S_OK, through_graph ? SeekGraph(start) : SeekPins(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0));
  HRESULT code = S_OK;
  EXPECT_EQ(graph->WaitForEnd(60000, &code), play::EndResult::kComplete);
  graph->Stop();
  CloseHandle(first);
  ExpectStreamsFrom(10 * kSecond);
}

INSTANTIATE_TEST_SUITE_P(From, SeekingWhileRunning, testing::Bool(),
                         [](const auto& info) { return info.param ? "TheGraph" : "EachPin"; });

// Seeks while the pictures stream, each once a few have arrived: a picture
// filled while a seek comes keeps the times of its own segment (times rise
// up to each discontinuity), and every restart begins with the first
// picture at or after its target.
TEST_F(Seeking, RepeatedSeeksWhileRunningKeepEachSegmentsTimes) {
  HANDLE arrived = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  play::SampleRecorder* video = graph->Chains()[0]->recorder;
  ASSERT_HR(S_OK, graph->RemoveClock());
  ASSERT_TRUE(SUCCEEDED(graph->Run()));
  std::vector<LONGLONG> targets;
  for (int i = 0; i < 24; ++i) {
    video->SignalAt(video->Count() + 2, arrived);
    ASSERT_EQ(WaitForSingleObject(arrived, 20000), WAIT_OBJECT_0) << i;
    LONGLONG start = (i * 7 % 17) * kSecond + (i % 3) * kSecond / 3;
    targets.push_back(start);
    ASSERT_HR(S_OK, SeekPins(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0));
  }
  HRESULT code = S_OK;
  EXPECT_EQ(graph->WaitForEnd(60000, &code), play::EndResult::kComplete);
  graph->Stop();
  CloseHandle(arrived);

  Delivery d = Delivered(L"Video");
  std::vector<size_t> restarts;
  for (size_t i = 0; i < d.records.size(); ++i) {
    if (d.records[i].discontinuity) {
      restarts.push_back(i);
    } else if (i > 0) {
      EXPECT_GE(d.records[i].start, d.records[i - 1].start) << "sample " << i;
    }
  }
  ASSERT_EQ(restarts.size(), targets.size() + 1);
  for (size_t k = 0; k < targets.size(); ++k) {
    SCOPED_TRACE(k);
    size_t first = 0;
    while (first < expected.start.size() && expected.start[first] < targets[k]) ++first;
    ASSERT_LT(first, expected.md5.size());
    EXPECT_EQ(d.md5[restarts[k + 1]], expected.md5[first]);
    EXPECT_EQ(d.records[restarts[k + 1]].start, expected.start[first] - targets[k]);
  }
}

TEST_F(Seeking, AStopPositionEndsBothStreamsAfterTheSampleStartingThere) {
  LONGLONG stop = 5 * kSecond;
  ASSERT_HR(S_OK, SeekPins(nullptr, 0, &stop, AM_SEEKING_AbsolutePositioning));
  ASSERT_EQ(RunToEnd(), play::EndResult::kComplete);
  Delivery video = Delivered(L"Video");
  Delivery audio = Delivered(L"Audio");
  ASSERT_EQ(video.records.size(), 126u);  // 0 s to 5 s at 25 a second
  EXPECT_EQ(video.records.back().start, 5 * kSecond);
  ASSERT_EQ(audio.records.size(), 6u);  // one a second, 0 s to 5 s
  EXPECT_EQ(audio.records.back().start, 5 * kSecond);
}

TEST_F(Seeking, AStopBeforeTheStartEndsTheStreamsAtOnce) {
  LONGLONG start = 8 * kSecond, stop = 4 * kSecond;
  ASSERT_HR(S_OK, SeekPins(&start, AM_SEEKING_AbsolutePositioning, &stop, AM_SEEKING_AbsolutePositioning));
  ASSERT_EQ(RunToEnd(), play::EndResult::kComplete);
  EXPECT_TRUE(Delivered(L"Video").records.empty());
  EXPECT_TRUE(Delivered(L"Audio").records.empty());
}

}  // namespace
}  // namespace kestrel::test
