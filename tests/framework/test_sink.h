// The downstream side for the framework tests: an input pin (IPin and
// IMemInputPin) that records every call and answers as told, an allocator
// that wraps the system memory allocator and can refuse sizing, a graph
// stand-in that records events, and a clock with a fixed time.
#ifndef KESTREL_TESTS_FRAMEWORK_TEST_SINK_H
#define KESTREL_TESTS_FRAMEWORK_TEST_SINK_H

#include <windows.h>

#include <dshow.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "base/critical_section.h"
#include "framework/media_type.h"

namespace kestrel::test {

// A heap object with an atomic count, deleted at 0.
class RefCounted {
 public:
  virtual ~RefCounted() = default;

 protected:
  ULONG DoAddRef() { return static_cast<ULONG>(++m_ref); }
  ULONG DoRelease() {
    LONG count = --m_ref;
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
  }

 private:
  std::atomic<LONG> m_ref{1};
};

class TestAllocator : public IMemAllocator, public RefCounted {
 public:
  // Wraps a new system memory allocator. Count starts at 1.
  TestAllocator();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return DoAddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return DoRelease(); }
  HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override;
  HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES* pProps) override;
  HRESULT STDMETHODCALLTYPE Commit() override;
  HRESULT STDMETHODCALLTYPE Decommit() override;
  HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime, REFERENCE_TIME* pEndTime,
                                      DWORD dwFlags) override;
  HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample* pBuffer) override;

  bool refuse_sizing = false;
  std::vector<std::string> Calls();
  // Set when GetBuffer is entered for the second time.
  HANDLE second_get_buffer;

 private:
  ~TestAllocator() override;
  void Log(const char* call);

  IMemAllocator* m_inner = nullptr;
  CCritSec m_lock;
  std::vector<std::string> m_calls;
  int m_getBuffers = 0;
};

class TestInputPin : public IPin, public IMemInputPin, public RefCounted {
 public:
  TestInputPin();

  // Script.
  PIN_DIRECTION direction = PINDIR_INPUT;
  bool offer_mem_input = true;
  std::vector<CMediaType> types;                                    // what EnumMediaTypes gives
  std::function<HRESULT(const AM_MEDIA_TYPE*)> receive_connection;  // null: S_OK
  IMemAllocator* own_allocator = nullptr;                           // held; null: GetAllocator fails
  HRESULT notify_allocator_result = S_OK;
  ALLOCATOR_PROPERTIES requirements = {};
  HRESULT requirements_result = E_NOTIMPL;
  std::function<HRESULT(IMediaSample*, int)> receive;  // null: S_OK
  bool hold_samples = false;                           // keep a reference on every received sample

  // Observations.
  std::vector<std::string> Calls();
  void ClearCalls();
  IMemAllocator* notified_allocator = nullptr;  // held
  std::atomic<int> received{0};
  std::atomic<int> end_of_streams{0};
  std::vector<REFERENCE_TIME> sample_starts;
  std::vector<bool> discontinuities;
  REFERENCE_TIME segment_start = -1, segment_stop = -1;
  double segment_rate = 0.0;
  HANDLE sample_event;  // automatic reset, set after each Receive
  HANDLE eos_event;     // automatic reset, set after each EndOfStream
  void ReleaseHeldSamples();
  IPin* Connected() const { return m_connected; }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return DoAddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return DoRelease(); }
  // IPin
  HRESULT STDMETHODCALLTYPE Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
  HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override;
  HRESULT STDMETHODCALLTYPE Disconnect() override;
  HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pPin) override;
  HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
  HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* pInfo) override;
  HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* pPinDir) override;
  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* Id) override;
  HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* pmt) override;
  HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
  HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** apPin, ULONG* nPin) override;
  HRESULT STDMETHODCALLTYPE EndOfStream() override;
  HRESULT STDMETHODCALLTYPE BeginFlush() override;
  HRESULT STDMETHODCALLTYPE EndFlush() override;
  HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;
  // IMemInputPin
  HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** ppAllocator) override;
  HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* pAllocator, WINBOOL bReadOnly) override;
  HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override;
  HRESULT STDMETHODCALLTYPE Receive(IMediaSample* pSample) override;
  HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** pSamples, LONG nSamples, LONG* nSamplesProcessed) override;
  HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override;

 private:
  ~TestInputPin() override;
  void Log(std::string call);

  CCritSec m_lock;
  std::vector<std::string> m_calls;
  std::vector<IMediaSample*> m_held;
  IPin* m_connected = nullptr;
};

// IFilterGraph (all E_NOTIMPL) and IMediaEventSink, recording events.
class FakeGraph : public IFilterGraph, public IMediaEventSink, public RefCounted {
 public:
  struct Event {
    long code;
    LONG_PTR param1, param2;
  };
  std::vector<Event> Events();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return DoAddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return DoRelease(); }
  HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reconnect(IPin*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Disconnect(IPin*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) override;

 private:
  CCritSec m_lock;
  std::vector<Event> m_events;
};

// A reference clock that always answers the same time.
class FixedClock : public IReferenceClock, public RefCounted {
 public:
  explicit FixedClock(REFERENCE_TIME now) : m_now(now) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return DoAddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return DoRelease(); }
  HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* pTime) override {
    *pTime = m_now;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT, DWORD_PTR*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE, DWORD_PTR*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD_PTR) override { return E_NOTIMPL; }

 private:
  REFERENCE_TIME m_now;
};

}  // namespace kestrel::test

#endif
