// The test source in a real filter graph with Wine's Null Renderer: pause,
// run, stop and EC_COMPLETE; then a bounded stress of state changes and
// seeks on a two-pin source.
#include <evcode.h>
#include <vfwmsgs.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "framework/com_ptr.h"
#include "harness.h"

namespace kestrel::test {
namespace {

// The Null Renderer (qedit).
constexpr CLSID CLSID_NullRendererFilter = {
    0xc1f400a4, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};
constexpr long kEventWaitMs = 20000;

class GraphTest : public FrameworkTest {
 protected:
  void SetUp() override {
    FrameworkTest::SetUp();
    ASSERT_HR(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                     graph.ReleaseAndGetVoidAddress()));
    ASSERT_HR(S_OK, graph->QueryInterface(IID_IMediaControl, control.ReleaseAndGetVoidAddress()));
    ASSERT_HR(S_OK, graph->QueryInterface(IID_IMediaEvent, events.ReleaseAndGetVoidAddress()));
    ASSERT_HR(S_OK, graph->AddFilter(static_cast<IBaseFilter*>(source), L"Test Source"));
  }
  void TearDown() override {
    if (control) control->Stop();
    renderers.clear();
    events.Reset();
    control.Reset();
    graph.Reset();  // the graph lets go of the filters
    FrameworkTest::TearDown();
  }

  // A new Null Renderer in the graph, connected to pin directly.
  void ConnectToRenderer(TestPin* pin) {
    ComPtr<IBaseFilter> renderer;
    ASSERT_HR(S_OK, CoCreateInstance(CLSID_NullRendererFilter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                     renderer.ReleaseAndGetVoidAddress()));
    std::wstring name = L"Null Renderer " + std::to_wstring(renderers.size() + 1);
    ASSERT_HR(S_OK, graph->AddFilter(renderer.Get(), name.c_str()));
    ComPtr<IEnumPins> pins;
    ASSERT_HR(S_OK, renderer->EnumPins(pins.ReleaseAndGetAddressOf()));
    ComPtr<IPin> input;
    ASSERT_HR(S_OK, pins->Next(1, input.ReleaseAndGetAddressOf(), nullptr));
    ASSERT_HR(S_OK, graph->ConnectDirect(static_cast<IPin*>(pin), input.Get(), nullptr));
    ASSERT_TRUE(pin->IsConnected());
    renderers.push_back(renderer);
  }

  // Waits for EC_COMPLETE; other events are passed over. False on a timeout.
  // Waits on the graph's event handle: Wine 8's GetEvent answers E_ABORT at
  // once here, whatever its time-out.
  bool WaitForComplete() {
    OAEVENT handle = 0;
    if (FAILED(events->GetEventHandle(&handle))) return false;
    for (;;) {
      long code = 0;
      LONG_PTR p1 = 0, p2 = 0;
      if (FAILED(events->GetEvent(&code, &p1, &p2, 0))) {
        if (WaitForSingleObject(reinterpret_cast<HANDLE>(handle), kEventWaitMs) != WAIT_OBJECT_0) return false;
        continue;
      }
      events->FreeEventParams(code, p1, p2);
      if (code == EC_COMPLETE) return true;
      if (code == EC_ERRORABORT) {
        ADD_FAILURE() << "EC_ERRORABORT " << std::hex << p1;
        return false;
      }
    }
  }
  void DrainEvents() {
    long code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    while (SUCCEEDED(events->GetEvent(&code, &p1, &p2, 0))) events->FreeEventParams(code, p1, p2);
  }
  static bool WaitForCount(std::atomic<int>& count, int target, HANDLE event) {
    while (count.load() < target) {
      if (!Wait(event)) return false;
    }
    return true;
  }

  ComPtr<IGraphBuilder> graph;
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEvent> events;
  std::vector<ComPtr<IBaseFilter>> renderers;
};

TEST_F(GraphTest, PlaysToTheNullRenderer) {
  TestPin* pin = AddPin(L"Video");
  FILTER_INFO info;
  ASSERT_HR(S_OK, static_cast<IBaseFilter*>(source)->QueryFilterInfo(&info));
  EXPECT_STREQ(info.achName, L"Test Source");
  ASSERT_NE(info.pGraph, nullptr);
  ComPtr<IFilterGraph> joined;
  joined.Attach(info.pGraph);
  EXPECT_EQ(static_cast<IUnknown*>(joined.Get()), [&] {
    ComPtr<IFilterGraph> fg;
    graph->QueryInterface(IID_IFilterGraph, fg.ReleaseAndGetVoidAddress());
    return static_cast<IUnknown*>(fg.Get());
  }());
  joined.Reset();

  ConnectToRenderer(pin);
  AM_MEDIA_TYPE mt;
  ASSERT_HR(S_OK, pin->ConnectionMediaType(&mt));
  EXPECT_TRUE(pin->types[0] == mt);
  FreeMediaType(mt);
  ASSERT_NE(pin->HeldAllocator(), nullptr);

  HRESULT hr = control->Pause();
  EXPECT_TRUE(hr == S_OK || hr == S_FALSE) << std::hex << hr;
  OAFilterState state;
  EXPECT_HR(S_OK, control->GetState(kEventWaitMs, &state));
  EXPECT_EQ(state, State_Paused);
  EXPECT_EQ(source->State(), State_Paused);
  EXPECT_TRUE(pin->ThreadExists());

  EXPECT_HR(S_OK, control->Run());
  EXPECT_TRUE(WaitForComplete());
  EXPECT_EQ(source->State(), State_Running);
  EXPECT_EQ(pin->eos_delivered.load(), 1);
  EXPECT_EQ(pin->fills.load(), 4);  // three samples and the end
  EXPECT_HR(S_OK, pin->last_delivery.load());

  EXPECT_HR(S_OK, control->Stop());
  EXPECT_EQ(source->State(), State_Stopped);
  EXPECT_FALSE(pin->ThreadExists());

  // Once more from stopped, straight to run.
  hr = control->Run();
  EXPECT_TRUE(hr == S_OK || hr == S_FALSE) << std::hex << hr;
  EXPECT_TRUE(WaitForComplete());
  EXPECT_HR(S_OK, control->Stop());
  EXPECT_EQ(pin->eos_delivered.load(), 2);
  EXPECT_EQ(pin->start_plays.load(), 2);
}

TEST_F(GraphTest, TwoPinsOneUnconnected) {
  TestPin* video = AddPin(L"Video");
  TestPin* audio = AddPin(L"Audio", {AudioType(2)});
  ConnectToRenderer(video);
  EXPECT_FALSE(audio->IsConnected());

  HRESULT hr = control->Run();
  EXPECT_TRUE(hr == S_OK || hr == S_FALSE) << std::hex << hr;
  EXPECT_TRUE(WaitForComplete());
  EXPECT_EQ(video->eos_delivered.load(), 1);
  EXPECT_HR(S_OK, control->Pause());
  EXPECT_HR(S_OK, control->Stop());
  EXPECT_EQ(audio->thread_creates.load(), 0);
  EXPECT_EQ(audio->fills.load(), 0);
  EXPECT_FALSE(video->ThreadExists());
}

// Bounded in time: 1,000 cycles of pause, run and stop with a seek on every
// cycle, while paused (the worker blocked downstream) or while running
// (after the end, which restarts an ended worker).
TEST_F(GraphTest, StressStateChangesAndSeeks) {
  TestPin* video = AddPin(L"Video");
  TestPin* audio = AddPin(L"Audio", {AudioType(2)});
  ConnectToRenderer(video);
  ConnectToRenderer(audio);
  ComPtr<IMediaFilter> media_filter;
  ASSERT_HR(S_OK, graph->QueryInterface(IID_IMediaFilter, media_filter.ReleaseAndGetVoidAddress()));
  ASSERT_HR(S_OK, media_filter->SetSyncSource(nullptr));  // as fast as it can
  ComPtr<IMediaSeeking> seeking;
  ASSERT_HR(S_OK, static_cast<IPin*>(video)->QueryInterface(IID_IMediaSeeking, seeking.ReleaseAndGetVoidAddress()));

  constexpr int kCycles = 1000;
  auto began = std::chrono::steady_clock::now();
  int while_paused = 0, while_running = 0;
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    DrainEvents();
    LONGLONG start = (cycle % 7) * 10'000LL;
    HRESULT hr = control->Pause();
    ASSERT_TRUE(hr == S_OK || hr == S_FALSE) << "cycle " << cycle << std::hex << " hr " << hr;
    if (cycle % 2 == 1) {
      ASSERT_HR(S_OK, seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0));
      ++while_paused;
    }
    hr = control->Run();
    ASSERT_TRUE(hr == S_OK || hr == S_FALSE) << "cycle " << cycle << std::hex << " hr " << hr;
    ASSERT_TRUE(WaitForComplete()) << "no EC_COMPLETE in cycle " << cycle;
    if (cycle % 2 == 0) {
      int ended = video->eos_delivered.load();
      ASSERT_HR(S_OK, seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0));
      ASSERT_TRUE(WaitForCount(video->eos_delivered, ended + 1, video->eos_event))
          << "no end of stream after the seek in cycle " << cycle;
      ++while_running;
    }
    ASSERT_HR(S_OK, control->Stop()) << "cycle " << cycle;
    ASSERT_FALSE(video->ThreadExists());
    ASSERT_FALSE(audio->ThreadExists());
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  printf(
      "%d cycles (%d seeks while paused, %d while running) in %.2f s, %.2f ms a cycle; "
      "video: %d loops, %d ends of stream; audio: %d ends of stream\n",
      kCycles, while_paused, while_running, seconds, seconds * 1000 / kCycles, video->start_plays.load(),
      video->eos_delivered.load(), audio->eos_delivered.load());

  EXPECT_EQ(audio->eos_delivered.load(), kCycles);
  EXPECT_EQ(audio->start_plays.load(), kCycles);
  EXPECT_EQ(video->start_plays.load(), kCycles * 2);
  // Each cycle's last loop ends with its end of stream; a loop cut off by a
  // seek while paused (its delivery refused by the flush) ends silently.
  EXPECT_EQ(video->eos_delivered.load(), kCycles + while_running);
  EXPECT_EQ(video->thread_creates.load(), kCycles);

  seeking.Reset();
  media_filter.Reset();
}

}  // namespace
}  // namespace kestrel::test
