// The filter under stress in Wine's graph: seek storms from two more threads
// while it runs, stops in the middle of a fill, pause/run/stop cycles, two
// filters playing at once, re-Loads after failed Loads, 1,000 Loads of one
// filter; and (filter_renderer_test.cpp) a renderer that changes the stride
// from inside GetBuffer. No deadlock (every wait is bounded), no end of
// stream lost, and the filter's objects, the process's handles, its threads
// and its memory back where they started.
//
// By default the scenarios run 1,000 cycles, but the seek storms 300 and the
// two filters 200 (the program stays under three minutes);
// KESTREL_STRESS_CYCLES sets the cycles of every scenario (a longer run).
#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "filter/filter_harness.h"
#include "support/test_env.h"

namespace kestrel::test {
namespace {

constexpr LONGLONG kSecond = 10000000;
constexpr DWORD kEndMs = 20000;  // the longest a short run may take to end
// What a long run may leave behind: handles and threads Wine keeps (thread
// pools, clocks), and heap that stays with the process; the memory check
// finds a leak of 64 KiB a cycle or more, objects are counted exactly.
// Wine's filter graph also keeps a handle for every graph made and
// released: that much is measured and allowed for on top.
constexpr DWORD kHandleTolerance = 32;
constexpr DWORD kThreadTolerance = 8;
constexpr SIZE_T kMemoryTolerance = 64u << 20;

// The cycles a scenario runs after its warm-up (the first tenth, at most
// 100): by then the heaps, the decoders' threads and Wine's thread stacks
// have reached their working size, and the figures are taken.
int Warm(int cycles) { return std::min(100, cycles / 10); }

int Cycles(int normal) {
  const char* text = getenv("KESTREL_STRESS_CYCLES");
  int cycles = text ? atoi(text) : 0;
  return cycles > 0 ? cycles : normal;
}

// Counts a pin's samples without keeping them (a long run holds no more at
// its end than at its start), and sets an event when the count reaches a
// mark.
class SampleCounter : public play::SampleRecorder {
 public:
  ~SampleCounter() override { CloseHandle(m_event); }
  HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample*) override {
    LONG count = ++m_count;
    if (count == m_mark) SetEvent(m_event);
    return S_OK;
  }
  // The event is set after `more` samples from now.
  void SignalAfter(LONG more) {
    ResetEvent(m_event);
    m_mark = m_count + more;
  }
  HANDLE Event() const { return m_event; }
  LONG Count() const { return m_count; }

 private:
  std::atomic<LONG> m_count{0};
  std::atomic<LONG> m_mark{-1};
  HANDLE m_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

// Seeks one pin after the other, a millisecond apart, until told to stop;
// `stride` makes each thread's positions its own.
class Seeker {
 public:
  Seeker(std::vector<ComPtr<IMediaSeeking>>* pins, int stride) : m_pins(pins), m_stride(stride) {}
  ~Seeker() { Stop(); }
  void Start() {
    m_stop = false;
    m_thread = std::thread([this] {
      for (int i = 0; !m_stop; ++i) {
        LONGLONG start = (i * m_stride % 18) * kSecond;
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
  int m_stride;
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_seeks{0};
  std::thread m_thread;
};

struct ProcessFigures {
  LONG objects = 0;
  DWORD handles = 0, threads = 0;
  SIZE_T working_set = 0, private_bytes = 0;
};

// Wine answers GetProcessHandleCount with 0: the handles are then counted
// by asking after each handle value in turn.
DWORD CountHandles() {
  DWORD count = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) return count;
  ULONG_PTR last = 0;
  for (ULONG_PTR value = 4; value < (1u << 24) && value - last < (1u << 14); value += 4) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
      ++count;
      last = value;
    }
  }
  return count;
}

DWORD CountThreads() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  DWORD count = 0;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

// Private bytes: Wine gives them as the page-file usage (the same figure
// on Windows).
ProcessFigures Measure() {
  ProcessFigures f;
  f.objects = CBaseObject::ObjectsActive();
  f.handles = CountHandles();
  f.threads = CountThreads();
  PROCESS_MEMORY_COUNTERS_EX memory = {};
  memory.cb = sizeof(memory);
  if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory))) {
    f.working_set = memory.WorkingSetSize;
    f.private_bytes = memory.PrivateUsage ? memory.PrivateUsage : memory.PagefileUsage;
  }
  return f;
}

double Mib(SIZE_T bytes) { return static_cast<double>(bytes) / (1 << 20); }

// One movie played to its end in a graph of its own, from `from` on: what
// Load answered, how the graph ended, how many samples each pin gave. Safe
// on any thread (it asserts nothing).
struct Played {
  HRESULT load = E_FAIL;
  play::EndResult end = play::EndResult::kTimeout;
  LONG video = 0, audio = 0;
};

Played PlayThrough(const std::string& movie, LONGLONG from = 0) {
  Played p;
  ComPtr<IBaseFilter> source;
  ComPtr<IFileSourceFilter> file;
  p.load = NewKestrelFilter(source.ReleaseAndGetAddressOf());
  if (SUCCEEDED(p.load)) p.load = source->QueryInterface(IID_IFileSourceFilter, file.ReleaseAndGetVoidAddress());
  if (SUCCEEDED(p.load)) p.load = file->Load(Wide(FixturePath(movie)).c_str(), nullptr);
  if (FAILED(p.load)) return p;
  play::PlayGraph graph;
  if (FAILED(graph.Create(source.Get()))) return p;
  ComPtr<SampleCounter> video, audio;
  video.Attach(new SampleCounter);
  audio.Attach(new SampleCounter);
  for (const ComPtr<IPin>& pin : graph.SourcePins()) {
    PIN_INFO info = {};
    pin->QueryPinInfo(&info);
    if (info.pFilter) info.pFilter->Release();
    play::PinChain* chain = nullptr;
    if (FAILED(
            graph.Connect(pin.Get(), nullptr, wcscmp(info.achName, L"Video") == 0 ? video.Get() : audio.Get(), &chain)))
      return p;
    if (from > 0 && chain->seeking) chain->seeking->SetPositions(&from, AM_SEEKING_AbsolutePositioning, nullptr, 0);
  }
  graph.RemoveClock();
  HRESULT code = S_OK;
  if (SUCCEEDED(graph.Run())) p.end = graph.WaitForEnd(kEndMs, &code);
  graph.Stop();
  p.video = video->Count();
  p.audio = audio->Count();
  return p;
}

// Runs a stopped graph once its pause has cued (the filter sees Pause, then
// Run, as with IMediaControl::Run alone). Asked to run before its renderers
// have cued, Wine's graph runs them later from the process's thread pool,
// and a Stop or Pause that comes first cancels that work. Wine 8's pool
// keeps counting a cancelled work as a busy worker: once those outnumber
// its idle workers, every Run starts a pool thread of its own, which stays
// 5 s with about 1 MiB. After 1,000 stops in a fill the process held 200
// threads and 100 MiB more, none of them the filter's.
HRESULT RunCued(play::PlayGraph* graph) {
  HRESULT hr = graph->Pause();
  if (FAILED(hr)) return hr;
  OAFilterState state = State_Stopped;
  hr = graph->Control()->GetState(kEndMs, &state);
  if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
  return graph->Run();
}

class StressTest : public FilterTest {
 protected:
  void SetUp() override {
    FilterTest::SetUp();
    WarmUp();
  }

  // The codecs, Wine's graph and its threads are set up once for the
  // process; what a scenario leaves is measured from there.
  static void WarmUp() {
    static bool done = false;
    if (done) return;
    done = true;
    std::thread other([] { PlayThrough("malformed_pcm.mov"); });
    PlayThrough("malformed_av.mov");
    other.join();
    PlayThrough("long_av.mov", 19 * kSecond);
    DWORD before = CountHandles();
    for (int i = 0; i < kGraphs; ++i) {
      ComPtr<IGraphBuilder> bare;
      CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                       bare.ReleaseAndGetVoidAddress());
    }
    s_graphHandles = static_cast<double>(CountHandles() - before) / kGraphs;
    printf("Wine's filter graph keeps %.2f handles for each graph made\n", s_graphHandles);
  }

  // A pin of filter connected to a counter (the graph made when needed).
  SampleCounter* ConnectCounter(const wchar_t* name) {
    if (!graph) NewGraph();
    IPin* pin = PinNamed(name);
    if (!pin) return nullptr;
    ComPtr<SampleCounter> counter;
    counter.Attach(new SampleCounter);
    if (FAILED(graph->Connect(pin, nullptr, counter.Get()))) return nullptr;
    counters.push_back(counter);
    return counter.Get();
  }

  // long_av.mov (20 s) loaded, both pins on counters, no clock: the video
  // pin's counter, or null.
  SampleCounter* LongMovieOnCounters() {
    if (FAILED(Load("long_av.mov"))) return nullptr;
    SampleCounter* video = ConnectCounter(L"Video");
    if (!video || !ConnectCounter(L"Audio") || FAILED(graph->RemoveClock())) return nullptr;
    return video;
  }

  std::vector<ComPtr<IMediaSeeking>> Seeking() {
    std::vector<ComPtr<IMediaSeeking>> out;
    for (const auto& chain : graph->Chains()) out.push_back(chain->seeking);
    return out;
  }

  // Both pins from `from` seconds on, run to the end without a clock.
  play::EndResult RunFrom(double from) {
    LONGLONG start = static_cast<LONGLONG>(from * kSecond);
    for (auto& s : Seeking()) s->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0);
    if (FAILED(graph->Run())) return play::EndResult::kErrorAbort;
    HRESULT code = S_OK;
    play::EndResult end = graph->WaitForEnd(kEndMs, &code);
    graph->Stop();
    return end;
  }

  // The figures the scenario is held to, once it is warm.
  void MarkStart() { m_before = Measure(); }

  // With everything released: the objects gone, the handles, threads and
  // memory within their tolerance of where they were once warm; `graphs`
  // were made and released since.
  void ExpectBackWhereItStarted(const char* scenario, int cycles, int graphs = 0) {
    graph.reset();
    counters.clear();
    recorders.clear();
    filter.Reset();
    ProcessFigures after = Measure();
    const DWORD graph_handles = static_cast<DWORD>(graphs * s_graphHandles + 0.5);
    printf(
        "%s: %d cycles, %d graphs after the first %d; objects %ld -> %ld, handles %lu -> %lu (Wine's graphs: %lu), "
        "threads %lu -> %lu, private %.1f -> %.1f MiB, working set %.1f -> %.1f MiB\n",
        scenario, cycles, graphs, Warm(cycles), m_before.objects, after.objects,
        static_cast<unsigned long>(m_before.handles), static_cast<unsigned long>(after.handles),
        static_cast<unsigned long>(graph_handles), static_cast<unsigned long>(m_before.threads),
        static_cast<unsigned long>(after.threads), Mib(m_before.private_bytes), Mib(after.private_bytes),
        Mib(m_before.working_set), Mib(after.working_set));
    fflush(stdout);
    EXPECT_EQ(after.objects, 0);
    EXPECT_GT(m_before.handles, 0u);
    EXPECT_LE(after.handles, m_before.handles + graph_handles + kHandleTolerance);
    EXPECT_GT(m_before.threads, 0u);
    EXPECT_LE(after.threads, m_before.threads + kThreadTolerance);
    EXPECT_GT(m_before.private_bytes, 0u);
    EXPECT_LE(after.private_bytes, m_before.private_bytes + kMemoryTolerance);
    EXPECT_LE(after.working_set, m_before.working_set + kMemoryTolerance);
  }

  static constexpr int kGraphs = 20;
  static inline double s_graphHandles = 0;
  std::vector<ComPtr<SampleCounter>> counters;
  ProcessFigures m_before;
};

// Run, pause, run, stop over and over while a second and a third thread seek
// both pins a millisecond apart; the graph streams between the changes, and
// every hundred cycles a quiet run from near the end must end.
TEST_F(StressTest, SeekStormsFromASecondAndAThirdThreadWhileRunning) {
  SampleCounter* video = LongMovieOnCounters();
  ASSERT_NE(video, nullptr);
  std::vector<ComPtr<IMediaSeeking>> seeking = Seeking();
  ASSERT_EQ(seeking.size(), 2u);

  const int cycles = Cycles(300);
  Watchdog watchdog(60000);
  Seeker second(&seeking, 7919), third(&seeking, 104729);
  second.Start();
  third.Start();
  int completed = 0, streamed = 0;
  for (int cycle = 0; cycle < cycles; ++cycle) {
    if (cycle == Warm(cycles)) MarkStart();
    video->SignalAfter(2);
    ASSERT_HR(S_OK, RunCued(graph.get())) << cycle;
    if (WaitForSingleObject(video->Event(), 10000) == WAIT_OBJECT_0) ++streamed;
    ASSERT_TRUE(SUCCEEDED(graph->Pause())) << cycle;
    ASSERT_TRUE(SUCCEEDED(graph->Run())) << cycle;
    ASSERT_TRUE(SUCCEEDED(graph->Stop())) << cycle;
    watchdog.Progress();
    if (cycle % 100 == 99 || cycle == cycles - 1) {
      second.Stop();
      third.Stop();
      EXPECT_EQ(RunFrom(19), play::EndResult::kComplete) << "cycle " << cycle;
      ++completed;
      second.Start();
      third.Start();
    }
  }
  second.Stop();
  third.Stop();
  // A seek that lands at the very end may leave nothing to stream.
  EXPECT_GT(streamed, cycles * 9 / 10);
  EXPECT_EQ(completed, (cycles + 99) / 100);
  EXPECT_GT(second.Seeks() + third.Seeks(), cycles);
  printf("seeks: %d + %d\n", second.Seeks(), third.Seeks());
  seeking.clear();
  ExpectBackWhereItStarted("seek storms", cycles);
}

// Pause, run and stop in varying orders; every cycle plays from near the end
// and must end with EC_COMPLETE.
TEST_F(StressTest, PauseRunStopCyclesEndEveryTime) {
  ASSERT_NE(LongMovieOnCounters(), nullptr);
  const int cycles = Cycles(1000);
  Watchdog watchdog(60000);
  int completed = 0;
  for (int cycle = 0; cycle < cycles; ++cycle) {
    if (cycle == Warm(cycles)) MarkStart();
    LONGLONG start = (199 * kSecond / 10) - (cycle % 5) * kSecond / 10;
    for (auto& s : Seeking()) ASSERT_HR(S_OK, s->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0));
    switch (cycle % 3) {
      case 0:
        ASSERT_TRUE(SUCCEEDED(graph->Pause())) << cycle;
        break;
      case 1:
        ASSERT_HR(S_OK, RunCued(graph.get())) << cycle;
        ASSERT_TRUE(SUCCEEDED(graph->Pause())) << cycle;
        break;
      case 2:
        ASSERT_TRUE(SUCCEEDED(graph->Pause())) << cycle;
        ASSERT_TRUE(SUCCEEDED(graph->Stop())) << cycle;
        for (auto& s : Seeking()) s->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0);
        ASSERT_TRUE(SUCCEEDED(graph->Pause())) << cycle;
        break;
    }
    ASSERT_TRUE(SUCCEEDED(graph->Run())) << cycle;
    HRESULT code = S_OK;
    play::EndResult end = graph->WaitForEnd(kEndMs, &code);
    ASSERT_TRUE(SUCCEEDED(graph->Stop())) << cycle;
    EXPECT_EQ(end, play::EndResult::kComplete) << "cycle " << cycle;
    if (end == play::EndResult::kComplete) ++completed;
    watchdog.Progress();
  }
  EXPECT_EQ(completed, cycles);
  ExpectBackWhereItStarted("pause/run/stop", cycles);
}

// Stop while the pins fill their next samples: after the first few samples
// of a run (the workers are busy), or during the pause's cue; the graph
// stops at once each time and still plays to the end afterwards.
TEST_F(StressTest, StopDuringAFill) {
  SampleCounter* video = LongMovieOnCounters();
  ASSERT_NE(video, nullptr);
  const int cycles = Cycles(1000);
  Watchdog watchdog(60000);
  int filled = 0, completed = 0;
  for (int cycle = 0; cycle < cycles; ++cycle) {
    if (cycle == Warm(cycles)) MarkStart();
    LONGLONG start = (cycle * 7 % 18) * kSecond;
    for (auto& s : Seeking()) ASSERT_HR(S_OK, s->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0));
    if (cycle % 5 == 4) {
      ASSERT_TRUE(SUCCEEDED(graph->Pause())) << cycle;  // the cue is being filled
    } else {
      video->SignalAfter(1 + cycle % 4);
      ASSERT_HR(S_OK, RunCued(graph.get())) << cycle;
      ASSERT_EQ(WaitForSingleObject(video->Event(), 10000), WAIT_OBJECT_0) << "no samples, cycle " << cycle;
      ++filled;
    }
    ASSERT_HR(S_OK, graph->Stop()) << cycle;
    OAFilterState state = State_Running;
    ASSERT_HR(S_OK, graph->Control()->GetState(0, &state)) << cycle;
    ASSERT_EQ(state, State_Stopped) << cycle;
    watchdog.Progress();
    if (cycle % 100 == 99) {
      EXPECT_EQ(RunFrom(19.5), play::EndResult::kComplete) << "cycle " << cycle;
      ++completed;
    }
  }
  EXPECT_EQ(filled, cycles - cycles / 5);
  EXPECT_EQ(completed, cycles / 100);
  ExpectBackWhereItStarted("stop during a fill", cycles);
}

// Two filters in one process, each in a graph of its own on its own thread,
// load and play different movies at the same time; every play delivers
// what the first did and ends with EC_COMPLETE.
TEST_F(StressTest, TwoFiltersPlayDifferentFilesAtOnce) {
  const int cycles = Cycles(200);
  Watchdog watchdog(60000);
  struct Side {
    const char* movie;
    Played first;
    std::atomic<int> completed{0}, wrong{0};
    std::string failure;
  };
  Side sides[2];
  sides[0].movie = "malformed_av.mov";
  sides[1].movie = "malformed_pcm.mov";
  auto run = [&](Side* side) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    for (int cycle = 0; cycle < cycles; ++cycle) {
      if (cycle == Warm(cycles)) MarkStart();
      Played p = PlayThrough(side->movie);
      if (cycle == 0) side->first = p;
      bool same = p.load == S_OK && p.end == play::EndResult::kComplete && p.video == side->first.video &&
                  p.audio == side->first.audio;
      if (same) {
        ++side->completed;
      } else if (side->wrong++ == 0) {
        side->failure = "cycle " + std::to_string(cycle) + ": load " + play::HResultName(p.load) + ", end " +
                        std::to_string(static_cast<int>(p.end)) + ", samples " + std::to_string(p.video) + "/" +
                        std::to_string(p.audio);
      }
      watchdog.Progress();
    }
    CoUninitialize();
  };
  std::thread other(run, &sides[1]);
  run(&sides[0]);
  other.join();
  for (Side& side : sides) {
    SCOPED_TRACE(side.movie);
    EXPECT_EQ(side.completed, cycles) << side.failure;
    EXPECT_GT(side.first.video, 0);
    EXPECT_GT(side.first.audio, 0);
    printf("%s: %d plays, %ld video and %ld audio samples each\n", side.movie, side.completed.load(), side.first.video,
           side.first.audio);
  }
  ExpectBackWhereItStarted("two filters at once", cycles, 2 * (cycles - Warm(cycles)));
}

// A Load that fails leaves the filter empty (no pins, no file), and the next
// Load on the same filter works: its pins connect and play to the end.
TEST_F(StressTest, ReLoadAfterAFailedLoad) {
  const char* broken[] = {"not_a_movie.mov", "empty.mov", "malformed/av.missing.mvhd.cut.mov", "no_such_file.mov"};
  const char* good[] = {"malformed_av.mov", "malformed_pcm.mov"};
  const int cycles = Cycles(1000);
  Watchdog watchdog(60000);
  NewFilter();
  ComPtr<IFileSourceFilter> source;
  ASSERT_HR(S_OK, filter->QueryInterface(IID_IFileSourceFilter, source.ReleaseAndGetVoidAddress()));
  auto pins = [this] { return graph ? graph->SourcePins().size() : 0; };
  int completed = 0;
  for (int cycle = 0; cycle < cycles; ++cycle) {
    if (cycle == Warm(cycles)) MarkStart();
    const char* bad = broken[cycle % 4];
    EXPECT_TRUE(FAILED(Load(bad))) << bad;
    LPOLESTR name = nullptr;
    ASSERT_HR(S_OK, source->GetCurFile(&name, nullptr));
    EXPECT_EQ(name, nullptr) << bad;
    CoTaskMemFree(name);
    EXPECT_EQ(PinNamed(L"Video"), nullptr) << bad;
    EXPECT_EQ(PinNamed(L"Audio"), nullptr) << bad;

    ASSERT_HR(S_OK, Load(good[cycle % 2])) << cycle;
    ASSERT_NE(PinNamed(L"Video"), nullptr);
    ASSERT_NE(PinNamed(L"Audio"), nullptr);
    if (cycle % 10 == 9) {
      ASSERT_NE(ConnectCounter(L"Video"), nullptr) << cycle;
      ASSERT_NE(ConnectCounter(L"Audio"), nullptr) << cycle;
      EXPECT_EQ(pins(), 2u);
      ASSERT_HR(S_OK, graph->RemoveClock());
      EXPECT_EQ(RunFrom(0.5), play::EndResult::kComplete) << "cycle " << cycle;
      for (auto& counter : counters) EXPECT_GT(counter->Count(), 0) << cycle;
      ++completed;
      graph.reset();  // the pins disconnect: the filter may load again
      counters.clear();
    }
    watchdog.Progress();
  }
  EXPECT_EQ(completed, cycles / 10);
  source.Reset();
  ExpectBackWhereItStarted("re-Load after a failed Load", cycles, (cycles - Warm(cycles)) / 10 + 1);
}

// 1,000 Loads of one filter. Each Load retires the pins of the one before:
// they stay, for callers that still hold them, but only as shells. With the
// filter still alive and every retired pin in it, the process holds under
// 4 KB and no handle more for each Load; a pin held across all the Loads
// still answers.
TEST_F(StressTest, ReLoadsKeepOnlyTheShellsOfRetiredPins) {
  const char* movies[] = {"malformed_av.mov", "malformed_pcm.mov"};
  const int loads = Cycles(1000);
  Watchdog watchdog(60000);
  NewFilter();
  ComPtr<IPin> held;
  int measured = 0;
  for (int i = 0; i < loads; ++i) {
    if (i == Warm(loads)) MarkStart();
    if (i >= Warm(loads)) ++measured;
    ASSERT_HR(S_OK, Load(movies[i % 2])) << i;
    if (i == 0) held.Assign(PinNamed(L"Video"));
    watchdog.Progress();
  }
  ProcessFigures after = Measure();
  const double bytes =
      (static_cast<double>(after.private_bytes) - static_cast<double>(m_before.private_bytes)) / measured;
  const double handles = (static_cast<double>(after.handles) - static_cast<double>(m_before.handles)) / measured;
  printf(
      "re-Loads: %d Loads measured, private %.1f -> %.1f MiB (%.0f bytes a Load), handles %lu -> %lu (%.2f a Load)\n",
      measured, Mib(m_before.private_bytes), Mib(after.private_bytes), bytes,
      static_cast<unsigned long>(m_before.handles), static_cast<unsigned long>(after.handles), handles);
  fflush(stdout);
  EXPECT_LT(bytes, 4096.0);
  EXPECT_LE(after.handles, m_before.handles + kHandleTolerance);

  // The first Load's video pin: retired, yet safe to ask and to seek.
  ASSERT_TRUE(held);
  PIN_DIRECTION direction = PINDIR_INPUT;
  EXPECT_HR(S_OK, held->QueryDirection(&direction));
  EXPECT_EQ(direction, PINDIR_OUTPUT);
  ComPtr<IMediaSeeking> seeking;
  ASSERT_HR(S_OK, held->QueryInterface(IID_IMediaSeeking, seeking.ReleaseAndGetVoidAddress()));
  LONGLONG start = kSecond / 2;
  EXPECT_HR(S_OK, seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning));
  seeking.Reset();
  held.Reset();
  ExpectBackWhereItStarted("re-Loads", loads);
}

}  // namespace
}  // namespace kestrel::test
