// The video pin downstream of a renderer that changes its buffers' format as
// the Windows video renderers do when their surface's stride changes: from
// inside its allocator's GetBuffer, on the pin's worker, it asks the pin's
// QueryAccept for the new stride, then hands over a sample that carries
// that type. Seeks and stops come meanwhile from two other threads; every
// wait is bounded, and a deadlock ends the program through the watchdog.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <thread>

#include "filter/filter_harness.h"
#include "framework/test_sink.h"
#include "support/test_env.h"

namespace kestrel::test {
namespace {

constexpr LONGLONG kSecond = 10000000;
constexpr DWORD kWaitMs = 10000;  // the longest any one step may take

// The system memory allocator, with buffers for the widest stride, whose
// GetBuffer switches between two strides: every other buffer it asks the
// upstream pin to accept the other one, and a buffer given out after an
// accepted change carries the new type.
class StrideChangingAllocator : public IMemAllocator, public RefCounted {
 public:
  explicit StrideChangingAllocator(const CMediaType& type) {
    m_types[0].Set(type);
    m_types[1].Set(type);
    auto* wide = reinterpret_cast<VIDEOINFOHEADER*>(m_types[1].Format());
    wide->bmiHeader.biWidth += kExtraPixels;
    wide->bmiHeader.biSizeImage =
        wide->bmiHeader.biWidth * (wide->bmiHeader.biBitCount / 8) * std::abs(wide->bmiHeader.biHeight);
    CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                     reinterpret_cast<void**>(&m_inner));
  }

  void SetUpstream(IPin* pin) { m_upstream = pin; }  // not held: the pin outlives the graph's use
  int QueryAccepts() const { return m_queries; }
  int Accepted() const { return m_accepted; }
  // Set after each QueryAccept (automatic reset).
  HANDLE Asked() const { return m_asked; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IMemAllocator) {
      *ppv = static_cast<IMemAllocator*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return DoAddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return DoRelease(); }
  HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override {
    ALLOCATOR_PROPERTIES wide = *pRequest;
    const auto* widest = reinterpret_cast<const VIDEOINFOHEADER*>(m_types[1].Format());
    wide.cbBuffer = std::max<long>(wide.cbBuffer, static_cast<long>(widest->bmiHeader.biSizeImage));
    return m_inner->SetProperties(&wide, pActual);
  }
  HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES* pProps) override {
    return m_inner->GetProperties(pProps);
  }
  HRESULT STDMETHODCALLTYPE Commit() override { return m_inner->Commit(); }
  HRESULT STDMETHODCALLTYPE Decommit() override { return m_inner->Decommit(); }
  HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStart, REFERENCE_TIME* pEnd,
                                      DWORD dwFlags) override {
    HRESULT hr = m_inner->GetBuffer(ppBuffer, pStart, pEnd, dwFlags);
    if (FAILED(hr) || !m_upstream) return hr;
    if (++m_buffers % 2 == 0) {
      int next = 1 - m_current;
      ++m_queries;
      if (m_upstream->QueryAccept(&m_types[next]) == S_OK) {
        ++m_accepted;
        m_current = next;
        (*ppBuffer)->SetMediaType(&m_types[next]);
      }
      SetEvent(m_asked);
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample* pBuffer) override { return m_inner->ReleaseBuffer(pBuffer); }

 private:
  ~StrideChangingAllocator() override {
    if (m_inner) m_inner->Release();
    CloseHandle(m_asked);
  }

  static constexpr LONG kExtraPixels = 32;
  IMemAllocator* m_inner = nullptr;
  IPin* m_upstream = nullptr;
  CMediaType m_types[2];  // the connection's type, and one with the wider stride
  int m_current = 0;
  int m_buffers = 0;  // the worker's alone
  std::atomic<int> m_queries{0}, m_accepted{0};
  HANDLE m_asked = CreateEventW(nullptr, FALSE, FALSE, nullptr);
};

// One thread that runs a given call whenever it is told to, and says when
// it is done.
class Helper {
 public:
  explicit Helper(std::function<void()> work)
      : m_work(std::move(work)),
        m_go(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
        m_done(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
        m_thread([this] {
          CoInitializeEx(nullptr, COINIT_MULTITHREADED);
          while (WaitForSingleObject(m_go, INFINITE) == WAIT_OBJECT_0 && !m_quit) {
            m_work();
            SetEvent(m_done);
          }
          CoUninitialize();
        }) {}
  ~Helper() {
    m_quit = true;
    SetEvent(m_go);
    m_thread.join();
    CloseHandle(m_go);
    CloseHandle(m_done);
  }
  void Go() { SetEvent(m_go); }
  HANDLE Done() const { return m_done; }

 private:
  std::function<void()> m_work;
  HANDLE m_go, m_done;
  std::atomic<bool> m_quit{false};
  std::thread m_thread;
};

// 1,000 cycles: the filter runs, the renderer's allocator changes the stride
// from the worker while it streams (once at least before anything else
// happens), and a seek and a stop come at once from two other threads while
// it goes on. Nothing waits without bound; each cycle ends stopped, and
// every stride change asked was accepted.
TEST_F(FilterTest, RendererChangingTheStrideInGetBufferWhileSeeksAndStopsComeFromOtherThreads) {
  ASSERT_HR(S_OK, Load("long_av.mov"));
  IPin* video = PinNamed(L"Video");
  ASSERT_NE(video, nullptr);
  CMediaType type;
  ASSERT_TRUE(OfferedType(video, MEDIASUBTYPE_UYVY, &type));

  ComPtr<StrideChangingAllocator> allocator;
  allocator.Attach(new StrideChangingAllocator(type));
  ComPtr<TestInputPin> sink;
  sink.Attach(new TestInputPin);
  sink->own_allocator = allocator.Get();
  allocator->AddRef();
  ASSERT_HR(S_OK, video->Connect(sink.Get(), &type));
  allocator->SetUpstream(video);
  ComPtr<IMediaSeeking> seeking;
  ASSERT_HR(S_OK, video->QueryInterface(IID_IMediaSeeking, seeking.ReleaseAndGetVoidAddress()));

  std::atomic<int> cycle{0};
  Helper seeker([&] {
    LONGLONG start = (cycle * 7 % 18) * kSecond;
    seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
  });
  Helper stopper([&] {
    Sleep(cycle % 3);
    filter->Stop();
  });

  const int cycles = 1000;
  Watchdog watchdog(30000);
  int streamed = 0;
  for (; cycle < cycles; ++cycle) {
    ResetEvent(allocator->Asked());
    ASSERT_HR(S_OK, filter->Run(0)) << cycle;
    // Streaming, and the stride changed in a GetBuffer at least once.
    if (WaitForSingleObject(allocator->Asked(), kWaitMs) == WAIT_OBJECT_0) ++streamed;
    seeker.Go();
    stopper.Go();
    HANDLE done[] = {seeker.Done(), stopper.Done()};
    if (WaitForMultipleObjects(2, done, TRUE, kWaitMs) != WAIT_OBJECT_0) {
      // The threads that still wait cannot be stopped: the program ends.
      fprintf(stderr, "cycle %d: the seek and the stop did not return within %lu ms: deadlock\n", cycle.load(),
              static_cast<unsigned long>(kWaitMs));
      fflush(stderr);
      TerminateProcess(GetCurrentProcess(), 3);
    }
    // The seek came before the stop (it restarted the worker, which the
    // stop ended) or after it (it only moved the source): stopped either way.
    FILTER_STATE state = State_Running;
    ASSERT_HR(S_OK, filter->GetState(0, &state)) << cycle;
    ASSERT_EQ(state, State_Stopped) << cycle;
    watchdog.Progress();
  }
  printf("%d cycles: %d streamed, %d stride changes asked in GetBuffer, %d accepted, %d samples\n", cycles, streamed,
         allocator->QueryAccepts(), allocator->Accepted(), sink->received.load());
  EXPECT_EQ(streamed, cycles);
  EXPECT_GE(allocator->QueryAccepts(), cycles);
  EXPECT_EQ(allocator->Accepted(), allocator->QueryAccepts());

  // Still whole: a run from near the end streams to the end of the stream.
  LONGLONG start = 19 * kSecond;
  ASSERT_HR(S_OK, seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning));
  ResetEvent(sink->eos_event);
  ASSERT_HR(S_OK, filter->Run(0));
  EXPECT_EQ(WaitForSingleObject(sink->eos_event, kWaitMs), WAIT_OBJECT_0);
  ASSERT_HR(S_OK, filter->Stop());
  ASSERT_HR(S_OK, video->Disconnect());
  ASSERT_HR(S_OK, sink->Disconnect());
}

}  // namespace
}  // namespace kestrel::test
