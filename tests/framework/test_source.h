// A source filter built on the framework bases for the tests: pins with a
// scriptable FillBuffer, their own list of media types, a call log of the
// hooks, and a seeking object whose ChangeStart restarts the worker the
// way the system's pins do.
#ifndef KESTREL_TESTS_FRAMEWORK_TEST_SOURCE_H
#define KESTREL_TESTS_FRAMEWORK_TEST_SOURCE_H

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "framework/source.h"
#include "framework/source_seeking.h"
#include "framework/source_stream.h"

namespace kestrel::test {

// {6B3C5D01-7A1E-4F0C-9D55-3E2A7C41B801}
inline constexpr CLSID CLSID_TestSource = {
    0x6b3c5d01, 0x7a1e, 0x4f0c, {0x9d, 0x55, 0x3e, 0x2a, 0x7c, 0x41, 0xb8, 0x01}};

class TestSource : public CSource {
 public:
  TestSource() : CSource(L"TestSource", nullptr, CLSID_TestSource) {}
  REFERENCE_TIME StartTime() const { return m_tStart; }
  FILTER_STATE State() const { return m_State; }
};

class TestPin : public CSourceStream, public CSourceSeeking {
 public:
  // One sample of 1 ms per fill, samples_per_loop of them, then S_FALSE.
  TestPin(HRESULT* phr, TestSource* pFilter, LPCWSTR pName);
  ~TestPin() override;

  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // Script. fill(sample, n) with n counted from 0 in each loop; null: the
  // default fill. check(type): null accepts the pin's own types only.
  std::function<HRESULT(IMediaSample*, int)> fill;
  std::function<HRESULT(const CMediaType*)> check;
  std::vector<CMediaType> types;  // own types, in order
  bool single_type = false;       // use the single-type defaults over types[0]
  int samples_per_loop = 3;       // default fill
  HRESULT on_thread_create = S_OK;
  HRESULT change_start_result = S_OK;
  HRESULT change_stop_result = S_OK;
  ALLOCATOR_PROPERTIES wanted = {1, 4096, 1, 0};

  // Observations.
  std::vector<std::string> Calls();
  void ClearCalls();
  ALLOCATOR_PROPERTIES last_request = {};
  std::atomic<int> fills{0};
  std::atomic<int> start_plays{0};
  std::atomic<int> thread_creates{0};
  std::atomic<int> eos_delivered{0};
  std::atomic<HRESULT> last_delivery{S_OK};  // the last Deliver result
  HANDLE eos_event;                          // automatic reset, set after each end of stream

  // Framework internals for the tests.
  IMemAllocator* HeldAllocator() const { return m_pAllocator.Get(); }
  IMemInputPin* HeldInputPin() const { return m_pInputPin.Get(); }
  void BumpTypeVersion() { IncrementTypeVersion(); }
  DWORD Command(DWORD command) { return CallWorker(command); }
  REFERENCE_TIME SeekStart() const { return m_rtStart; }
  REFERENCE_TIME SeekStop() const { return m_rtStop; }
  void SetDuration(REFERENCE_TIME duration) {
    m_rtDuration = duration;
    m_rtStop = duration;
  }

  using CSourceStream::GetMediaType;
  HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
  HRESULT GetMediaType(CMediaType* pmt) override;
  HRESULT CheckMediaType(const CMediaType* pmt) override;
  HRESULT SetMediaType(const CMediaType* pmt) override;
  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) override;
  HRESULT FillBuffer(IMediaSample* pSample) override;
  HRESULT OnThreadCreate() override;
  HRESULT OnThreadStartPlay() override;
  HRESULT DeliverEndOfStream() override;
  HRESULT Deliver(IMediaSample* pSample) override;

 protected:
  HRESULT ChangeStart() override;
  HRESULT ChangeStop() override;
  HRESULT ChangeRate() override;

 private:
  void Log(std::string call);

  CCritSec m_cSharedState;  // the pin's own lock (fill and seeking state)
  CCritSec m_logLock;
  std::vector<std::string> m_calls;
  int m_loopFill = 0;
  bool m_discontinuity = false;
};

}  // namespace kestrel::test

#endif
