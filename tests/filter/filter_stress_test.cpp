// State changes and seeks from two threads at once, and damaged files, in
// Wine's graph: no deadlock (every wait is bounded), no end of stream lost,
// nothing left alive.
#include <atomic>
#include <thread>

#include "filter/filter_harness.h"

#include <ole2.h>

namespace kestrel::test {
namespace {

constexpr LONGLONG kSecond = 10000000;

// Ends the process when the loop under test stops making progress: a
// deadlock must fail the test, not hang it.
class Watchdog {
 public:
  explicit Watchdog(DWORD ms) : m_ms(ms), m_thread([this] { Run(); }) {}
  ~Watchdog() {
    m_done = true;
    m_thread.join();
  }
  void Progress() { m_beat = GetTickCount(); }

 private:
  void Run() {
    while (!m_done) {
      Sleep(100);
      if (GetTickCount() - m_beat > m_ms) {
        fprintf(stderr, "no progress for %lu ms: deadlock\n", static_cast<unsigned long>(m_ms));
        fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
      }
    }
  }
  DWORD m_ms;
  std::atomic<DWORD> m_beat{GetTickCount()};
  std::atomic<bool> m_done{false};
  std::thread m_thread;
};

// A thread that seeks one pin after the other, a millisecond apart, until
// told to stop.
class Seeker {
 public:
  explicit Seeker(std::vector<ComPtr<IMediaSeeking>>* pins) : m_pins(pins) {}
  ~Seeker() { Stop(); }
  void Start() {
    m_stop = false;
    m_thread = std::thread([this] {
      for (int i = 0; !m_stop; ++i) {
        LONGLONG start = (i * 7919 % 18) * kSecond;
        (*m_pins)[i % m_pins->size()]->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0);
        ++m_seeks;
        Sleep(1);
      }
    });
  }
  void Stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
  }
  int Seeks() const { return m_seeks; }

 private:
  std::vector<ComPtr<IMediaSeeking>>* m_pins;
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_seeks{0};
  std::thread m_thread;
};

TEST_F(FilterTest, AThousandCyclesWithSeeksFromASecondThread) {
  ASSERT_HR(S_OK, Load("long_av.mov"));
  ASSERT_NE(Connect(L"Video"), nullptr);
  ASSERT_NE(Connect(L"Audio"), nullptr);
  ASSERT_HR(S_OK, graph->RemoveClock());
  std::vector<ComPtr<IMediaSeeking>> seeking;
  for (const wchar_t* name : {L"Video", L"Audio"}) {
    ComPtr<IMediaSeeking> s;
    ASSERT_HR(S_OK, PinNamed(name)->QueryInterface(IID_IMediaSeeking, s.ReleaseAndGetVoidAddress()));
    seeking.push_back(s);
  }

  Watchdog watchdog(60000);
  Seeker seeker(&seeking);
  seeker.Start();
  int completed = 0;
  for (int cycle = 0; cycle < 1000; ++cycle) {
    ASSERT_TRUE(SUCCEEDED(graph->Run())) << cycle;
    ASSERT_TRUE(SUCCEEDED(graph->Pause())) << cycle;
    ASSERT_TRUE(SUCCEEDED(graph->Run())) << cycle;
    ASSERT_TRUE(SUCCEEDED(graph->Stop())) << cycle;
    watchdog.Progress();
    if (cycle % 100 == 99) {
      // Quiet for a moment: a run from near the end must end.
      seeker.Stop();
      LONGLONG start = 19 * kSecond;
      for (auto& s : seeking) ASSERT_HR(S_OK, s->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0));
      ASSERT_TRUE(SUCCEEDED(graph->Run()));
      HRESULT code = S_OK;
      EXPECT_EQ(graph->WaitForEnd(20000, &code), play::EndResult::kComplete) << "cycle " << cycle;
      ASSERT_TRUE(SUCCEEDED(graph->Stop()));
      ++completed;
      seeker.Start();
    }
  }
  seeker.Stop();
  EXPECT_EQ(completed, 10);
  EXPECT_GT(seeker.Seeks(), 1000);
  seeking.clear();
}

// Files that are not movies, are cut short, damaged, or carry a codec the
// decoder does not know: a clear status from Load or the connection, or a
// stream that ends, and the process goes on with nothing left alive.
TEST_F(FilterTest, DamagedFilesEndCleanly) {
  struct Case {
    const char* movie;
    HRESULT load;
    bool connects;
    play::EndResult end;
  };
  using play::EndResult;
  // A stream whose decoder never gives a picture ends with an error after a
  // bounded number of samples, not after decoding the whole file in one go.
  for (const Case& c : {Case{"not_a_movie.mov", E_FAIL, false, EndResult::kTimeout},
                        Case{"empty.mov", E_FAIL, false, EndResult::kTimeout},
                        Case{"unknown_codec.mov", S_OK, false, EndResult::kTimeout},
                        Case{"corrupt_h264.mov", S_OK, true, EndResult::kComplete},
                        Case{"aud_trunc.m4a", S_OK, true, EndResult::kComplete},
                        Case{"aud_corrupt.aac", S_OK, true, EndResult::kComplete},
                        Case{"all_broken.mov", S_OK, true, EndResult::kErrorAbort}}) {
    SCOPED_TRACE(c.movie);
    EXPECT_HR(c.load, Load(c.movie));
    if (SUCCEEDED(c.load)) {
      NewGraph();
      bool all = true;
      for (const ComPtr<IPin>& pin : graph->SourcePins()) {
        auto* recorder = new play::SampleRecorder;
        HRESULT hr = graph->Connect(pin.Get(), nullptr, recorder);
        recorder->Release();
        if (FAILED(hr)) all = false;
      }
      EXPECT_EQ(all, c.connects);
      if (all) {
        HRESULT code = S_OK;
        EXPECT_EQ(RunToEnd(30000, &code), c.end);
        if (c.end == EndResult::kErrorAbort) EXPECT_HR(E_FAIL, code);
      }
      graph.reset();
    }
    filter.Reset();
    EXPECT_EQ(CBaseObject::ObjectsActive(), 0);
  }
}

// A movie cut short (a download in progress): the facts are what its tables
// declare, and each stream ends where its data stops, as the end of the
// media rather than an error.
TEST_F(FilterTest, AMovieCutShortPlaysWhatItHasToTheEnd) {
  ASSERT_HR(S_OK, Load("cut_av.mov"));
  ComPtr<IQTInfo> info;
  ASSERT_HR(S_OK, filter->QueryInterface(IID_IQTInfo, info.ReleaseAndGetVoidAddress()));
  BSTR codec = nullptr;
  ULONG width = 0, height = 0, depth = 0, frames = 0;
  double rate = 0, duration = 0;
  ASSERT_HR(S_OK, info->GetVideoInfo(&codec, &width, &height, &depth, &rate, &frames, &duration));
  SysFreeString(codec);
  EXPECT_EQ(frames, 100u);
  EXPECT_DOUBLE_EQ(rate, 25.0);
  EXPECT_DOUBLE_EQ(duration, 4.0);
  ASSERT_NE(Connect(L"Video"), nullptr);
  ASSERT_NE(Connect(L"Audio"), nullptr);
  HRESULT code = S_OK;
  ASSERT_EQ(RunToEnd(30000, &code), play::EndResult::kComplete);
  Delivery video = Delivered(L"Video");
  EXPECT_EQ(video.records.size(), 60u);  // the frames whose bytes are all there
  EXPECT_FALSE(Delivered(L"Audio").pcm.empty());
}

}  // namespace
}  // namespace kestrel::test
