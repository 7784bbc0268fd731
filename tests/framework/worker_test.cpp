// The worker thread: pause starts streaming, run records the start time,
// stop decommits first, and the ends of a stream (S_FALSE, an error, a
// refused delivery).
#include <evcode.h>
#include <vfwmsgs.h>

#include "harness.h"

namespace kestrel::test {
namespace {

using Strings = std::vector<std::string>;

using Worker = FrameworkTest;

IBaseFilter* Filter(TestSource* source) { return static_cast<IBaseFilter*>(source); }

TEST_F(Worker, PauseStartsStreamingAndRunOnlyRecordsTheStart) {
  TestPin* pin = AddPin(L"Video");
  TestPin* idle = AddPin(L"Idle");  // never connected: never gets a thread
  TestInputPin* sink = Connected(pin);
  EXPECT_HR(E_FAIL, pin->Run());  // no worker yet
  EXPECT_FALSE(pin->ThreadExists());

  EXPECT_HR(S_OK, Filter(source)->Pause());
  EXPECT_TRUE(pin->ThreadExists());
  EXPECT_FALSE(idle->ThreadExists());
  ASSERT_TRUE(Wait(sink->eos_event));
  EXPECT_EQ(sink->received.load(), 3);
  EXPECT_EQ(pin->start_plays.load(), 1);
  Strings calls = sink->Calls();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(Strings(calls.end() - 2, calls.end()), Strings({"NewSegment", "EndOfStream"}));
  EXPECT_EQ(sink->segment_start, 0);
  EXPECT_EQ(sink->segment_stop, 10'000'000);
  EXPECT_EQ(sink->segment_rate, 1.0);
  EXPECT_EQ(sink->sample_starts, std::vector<REFERENCE_TIME>({0, 10'000, 20'000}));
  EXPECT_EQ(sink->discontinuities, std::vector<bool>({true, false, false}));
  EXPECT_HR(S_FALSE, pin->Active());  // already active

  EXPECT_HR(S_OK, Filter(source)->Run(5'000));
  EXPECT_EQ(source->StartTime(), 5'000);
  EXPECT_HR(S_OK, Filter(source)->Pause());  // from running: nothing to the workers
  EXPECT_HR(S_OK, Filter(source)->Pause());
  EXPECT_EQ(pin->start_plays.load(), 1);
  EXPECT_EQ(pin->thread_creates.load(), 1);
  EXPECT_EQ(sink->received.load(), 3);
  EXPECT_EQ(sink->end_of_streams.load(), 1);

  EXPECT_HR(S_OK, Filter(source)->Stop());
  EXPECT_FALSE(pin->ThreadExists());
  EXPECT_HR(S_OK, Filter(source)->Stop());
  EXPECT_EQ(idle->thread_creates.load(), 0);

  // Run from stopped pauses first: streaming starts inside it.
  EXPECT_HR(S_OK, Filter(source)->Run(0));
  ASSERT_TRUE(Wait(sink->eos_event));
  EXPECT_EQ(pin->start_plays.load(), 2);
  EXPECT_EQ(sink->received.load(), 6);
  EXPECT_HR(S_OK, Filter(source)->Stop());
}

TEST_F(Worker, StopDecommitsBeforeStoppingTheWorker) {
  TestPin* pin = AddPin(L"Video");
  TestInputPin* sink = NewSink();
  auto* allocator = new TestAllocator;
  sink->own_allocator = allocator;
  sink->hold_samples = true;  // the only buffer stays downstream
  ASSERT_HR(S_OK, pin->Connect(sink, nullptr));
  ASSERT_EQ(pin->HeldAllocator(), static_cast<IMemAllocator*>(allocator));
  pin->fill = [](IMediaSample* sample, int) {
    sample->SetActualDataLength(0);
    return S_OK;
  };

  EXPECT_HR(S_OK, Filter(source)->Pause());
  ASSERT_TRUE(Wait(allocator->second_get_buffer));  // the worker now waits for a buffer
  EXPECT_EQ(sink->received.load(), 1);

  struct StopCall {
    IBaseFilter* filter;
    HRESULT hr = E_PENDING;
  } call{Filter(source)};
  HANDLE stopper = CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        auto* c = static_cast<StopCall*>(p);
        c->hr = c->filter->Stop();
        return 0;
      },
      &call, 0, nullptr);
  ASSERT_NE(stopper, nullptr);
  EXPECT_EQ(WaitForSingleObject(stopper, 20000), WAIT_OBJECT_0) << "Stop did not release the worker";
  CloseHandle(stopper);
  EXPECT_HR(S_OK, call.hr);
  EXPECT_FALSE(pin->ThreadExists());
  EXPECT_EQ(allocator->Calls(), Strings({"SetProperties", "Commit", "GetBuffer", "GetBuffer", "Decommit"}));
  EXPECT_EQ(sink->end_of_streams.load(), 0);
  sink->ReleaseHeldSamples();
}

TEST_F(Worker, EndsOfAStream) {
  auto* graph = new FakeGraph;
  ASSERT_HR(S_OK, Filter(source)->JoinFilterGraph(graph, L"source"));
  TestPin* at_once = AddPin(L"AtOnce");
  TestPin* failing = AddPin(L"Failing");
  TestPin* refused = AddPin(L"Refused");
  TestInputPin* at_once_sink = Connected(at_once);
  TestInputPin* failing_sink = Connected(failing);
  TestInputPin* refused_sink = Connected(refused);
  const HRESULT kFault = static_cast<HRESULT>(0x80041234);

  // S_FALSE on the first fill: end of stream with no sample before it.
  at_once->samples_per_loop = 0;
  // An error on the second fill: one sample, end of stream, EC_ERRORABORT.
  failing->fill = [kFault](IMediaSample* sample, int n) {
    sample->SetActualDataLength(0);
    return n == 0 ? S_OK : kFault;
  };
  // Downstream refuses the second sample: streaming ends silently.
  refused->fill = [](IMediaSample* sample, int) {
    sample->SetActualDataLength(0);
    return S_OK;
  };
  refused_sink->receive = [](IMediaSample*, int n) { return n == 0 ? S_OK : S_FALSE; };

  EXPECT_HR(S_OK, Filter(source)->Pause());
  ASSERT_TRUE(Wait(at_once_sink->eos_event));
  ASSERT_TRUE(Wait(failing_sink->eos_event));
  while (refused_sink->received.load() < 2) ASSERT_TRUE(Wait(refused_sink->sample_event));
  EXPECT_HR(S_OK, Filter(source)->Stop());

  EXPECT_EQ(at_once_sink->received.load(), 0);
  EXPECT_EQ(at_once_sink->end_of_streams.load(), 1);
  EXPECT_EQ(at_once->fills.load(), 1);
  EXPECT_EQ(failing_sink->received.load(), 1);
  EXPECT_EQ(failing_sink->end_of_streams.load(), 1);
  EXPECT_EQ(failing->fills.load(), 2);
  EXPECT_EQ(refused_sink->received.load(), 2);
  EXPECT_EQ(refused_sink->end_of_streams.load(), 0);
  EXPECT_EQ(refused->fills.load(), 2);  // no fill after the refusal

  auto events = graph->Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].code, EC_ERRORABORT);
  EXPECT_HR(kFault, static_cast<HRESULT>(events[0].param1));
  EXPECT_EQ(events[0].param2, 0);

  // The failed worker survived: it streams again at the next pause.
  failing->fill = nullptr;
  EXPECT_HR(S_OK, Filter(source)->Pause());
  ASSERT_TRUE(Wait(failing_sink->eos_event));
  EXPECT_EQ(failing_sink->received.load(), 4);
  EXPECT_HR(S_OK, Filter(source)->Stop());
  EXPECT_HR(S_OK, Filter(source)->JoinFilterGraph(nullptr, nullptr));
  static_cast<IFilterGraph*>(graph)->Release();
}

TEST_F(Worker, CommandsWhileStreaming) {
  TestPin* pin = AddPin(L"Video");
  TestInputPin* sink = Connected(pin);
  pin->fill = [](IMediaSample* sample, int n) {
    REFERENCE_TIME start = n, stop = n + 1;
    sample->SetTime(&start, &stop);
    sample->SetActualDataLength(0);
    return S_OK;
  };
  EXPECT_HR(S_OK, Filter(source)->Pause());
  ASSERT_TRUE(Wait(sink->sample_event));
  EXPECT_HR(S_OK, pin->Run());
  EXPECT_HR(S_OK, pin->Pause());
  EXPECT_HR(E_UNEXPECTED, static_cast<HRESULT>(pin->Command(99)));
  EXPECT_HR(E_UNEXPECTED, pin->Init());
  int before = sink->received.load();
  while (sink->received.load() < before + 5) ASSERT_TRUE(Wait(sink->sample_event));  // still streaming
  EXPECT_EQ(pin->start_plays.load(), 1);

  // Stop ends the loop; the waiting worker answers the others.
  EXPECT_HR(S_OK, pin->Stop());
  int stopped_at = sink->received.load();
  EXPECT_HR(E_NOTIMPL, pin->Init());
  EXPECT_HR(E_NOTIMPL, static_cast<HRESULT>(pin->Command(99)));
  EXPECT_HR(S_OK, pin->Stop());
  EXPECT_EQ(sink->received.load(), stopped_at);
  // Run starts a new loop, with OnThreadStartPlay.
  EXPECT_HR(S_OK, pin->Run());
  while (sink->received.load() < stopped_at + 2) ASSERT_TRUE(Wait(sink->sample_event));
  EXPECT_EQ(pin->start_plays.load(), 2);
  EXPECT_HR(S_OK, Filter(source)->Stop());
  EXPECT_EQ(sink->end_of_streams.load(), 0);
}

TEST_F(Worker, FailedActivationLeavesNothingRunning) {
  TestPin* good = AddPin(L"Good");
  TestPin* bad = AddPin(L"Bad");
  TestInputPin* good_sink = Connected(good);
  Connected(bad);
  good->fill = [](IMediaSample* sample, int) {
    sample->SetActualDataLength(0);
    return S_OK;
  };
  bad->on_thread_create = E_ACCESSDENIED;

  EXPECT_HR(E_ACCESSDENIED, Filter(source)->Pause());
  EXPECT_EQ(source->State(), State_Stopped);
  EXPECT_FALSE(bad->ThreadExists());
  EXPECT_FALSE(good->ThreadExists());  // the pin activated before is stopped again
  // Both allocators are decommitted again.
  IMediaSample* sample = nullptr;
  EXPECT_HR(VFW_E_NOT_COMMITTED, bad->HeldAllocator()->GetBuffer(&sample, nullptr, nullptr, 0));
  EXPECT_HR(VFW_E_NOT_COMMITTED, good->HeldAllocator()->GetBuffer(&sample, nullptr, nullptr, 0));
  int received = good_sink->received.load();

  bad->on_thread_create = S_OK;
  EXPECT_HR(S_OK, Filter(source)->Pause());
  while (good_sink->received.load() < received + 2) ASSERT_TRUE(Wait(good_sink->sample_event));
  EXPECT_HR(S_OK, Filter(source)->Stop());
}

TEST_F(Worker, ReleasedWhilePausedEndsItsWorkers) {
  TestPin* pin = AddPin(L"Video");
  TestInputPin* sink = Connected(pin);
  pin->fill = [](IMediaSample* sample, int) {
    sample->SetActualDataLength(0);
    return S_OK;
  };
  EXPECT_HR(S_OK, Filter(source)->Pause());
  ASSERT_TRUE(Wait(sink->sample_event));
  EXPECT_HR(S_OK, sink->Disconnect());  // lets go of the pin, so of the filter
  EXPECT_EQ(static_cast<IBaseFilter*>(source)->Release(), 0u);
  source = nullptr;
  // The pins, and so their workers, are gone: the worker was ended first.
  EXPECT_EQ(CBaseObject::ObjectsActive(), 0);
}

TEST_F(Worker, CommandToAnEndedWorkerFailsInsteadOfWaiting) {
  TestPin* pin = AddPin(L"Video");
  TestInputPin* sink = Connected(pin);
  EXPECT_HR(S_OK, Filter(source)->Pause());
  ASSERT_TRUE(Wait(sink->eos_event));
  // The worker leaves, but its handle is still open (a seek racing with
  // the filter's Stop sees this).
  EXPECT_HR(S_OK, pin->Stop());
  EXPECT_HR(S_OK, pin->Exit());
  EXPECT_TRUE(pin->ThreadExists());
  EXPECT_HR(E_FAIL, pin->Run());
  EXPECT_HR(E_FAIL, pin->Stop());
  // Stopping reports it and still closes the thread; the pin streams again.
  EXPECT_HR(E_FAIL, Filter(source)->Stop());
  EXPECT_EQ(source->State(), State_Stopped);
  EXPECT_FALSE(pin->ThreadExists());
  EXPECT_HR(S_OK, Filter(source)->Pause());
  ASSERT_TRUE(Wait(sink->eos_event));
  EXPECT_EQ(sink->end_of_streams.load(), 2);
  EXPECT_HR(S_OK, Filter(source)->Stop());
}

}  // namespace
}  // namespace kestrel::test
