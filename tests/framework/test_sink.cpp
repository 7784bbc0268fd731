#include "test_sink.h"

#include <dshow.h>
#include <vfwmsgs.h>

#include "framework_test_util.h"

namespace kestrel::test {
namespace {

// The sink pin's type enumerator: a copy of its list.
class SinkTypeEnum : public IEnumMediaTypes, public RefCounted {
 public:
  explicit SinkTypeEnum(std::vector<CMediaType> types, size_t position = 0)
      : m_types(std::move(types)), m_position(position) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IEnumMediaTypes) {
      *ppv = static_cast<IEnumMediaTypes*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return DoAddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return DoRelease(); }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override {
    ULONG n = 0;
    while (n < count && m_position < m_types.size()) types[n++] = CreateMediaType(&m_types[m_position++]);
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    m_position += count;
    return m_position <= m_types.size() ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    m_position = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** out) override {
    *out = new SinkTypeEnum(m_types, m_position);
    return S_OK;
  }

 private:
  std::vector<CMediaType> m_types;
  size_t m_position;
};

}  // namespace

// ---- TestAllocator

TestAllocator::TestAllocator() : second_get_buffer(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                   reinterpret_cast<void**>(&m_inner));
}

TestAllocator::~TestAllocator() {
  if (m_inner) m_inner->Release();
  CloseHandle(second_get_buffer);
}

void TestAllocator::Log(const char* call) {
  CAutoLock lock(&m_lock);
  m_calls.push_back(call);
}

std::vector<std::string> TestAllocator::Calls() {
  CAutoLock lock(&m_lock);
  return m_calls;
}

HRESULT STDMETHODCALLTYPE TestAllocator::QueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IUnknown || riid == IID_IMemAllocator) {
    *ppv = static_cast<IMemAllocator*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE TestAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) {
  Log(refuse_sizing ? "SetProperties refused" : "SetProperties");
  if (refuse_sizing) return E_FAIL;
  return m_inner->SetProperties(pRequest, pActual);
}

HRESULT STDMETHODCALLTYPE TestAllocator::GetProperties(ALLOCATOR_PROPERTIES* pProps) {
  return m_inner->GetProperties(pProps);
}

HRESULT STDMETHODCALLTYPE TestAllocator::Commit() {
  Log("Commit");
  return m_inner->Commit();
}

HRESULT STDMETHODCALLTYPE TestAllocator::Decommit() {
  Log("Decommit");
  return m_inner->Decommit();
}

HRESULT STDMETHODCALLTYPE TestAllocator::GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime,
                                                   REFERENCE_TIME* pEndTime, DWORD dwFlags) {
  {
    CAutoLock lock(&m_lock);
    if (m_getBuffers < 2) m_calls.push_back("GetBuffer");
    if (++m_getBuffers == 2) SetEvent(second_get_buffer);
  }
  return m_inner->GetBuffer(ppBuffer, pStartTime, pEndTime, dwFlags);
}

HRESULT STDMETHODCALLTYPE TestAllocator::ReleaseBuffer(IMediaSample* pBuffer) {
  return m_inner->ReleaseBuffer(pBuffer);
}

// ---- TestInputPin

TestInputPin::TestInputPin()
    : sample_event(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      eos_event(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

TestInputPin::~TestInputPin() {
  ReleaseHeldSamples();
  if (own_allocator) own_allocator->Release();
  if (notified_allocator) notified_allocator->Release();
  if (m_connected) m_connected->Release();
  CloseHandle(sample_event);
  CloseHandle(eos_event);
}

void TestInputPin::Log(std::string call) {
  CAutoLock lock(&m_lock);
  m_calls.push_back(std::move(call));
}

std::vector<std::string> TestInputPin::Calls() {
  CAutoLock lock(&m_lock);
  return m_calls;
}

void TestInputPin::ClearCalls() {
  CAutoLock lock(&m_lock);
  m_calls.clear();
}

void TestInputPin::ReleaseHeldSamples() {
  std::vector<IMediaSample*> held;
  {
    CAutoLock lock(&m_lock);
    held.swap(m_held);
  }
  for (IMediaSample* sample : held) sample->Release();
}

HRESULT STDMETHODCALLTYPE TestInputPin::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IPin) {
    *ppv = static_cast<IPin*>(this);
  } else if (riid == IID_IMemInputPin && offer_mem_input) {
    *ppv = static_cast<IMemInputPin*>(this);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TestInputPin::Connect(IPin*, const AM_MEDIA_TYPE*) { return E_UNEXPECTED; }

HRESULT STDMETHODCALLTYPE TestInputPin::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) {
  Log("ReceiveConnection " + SubtypeName(pmt->subtype));
  HRESULT hr = receive_connection ? receive_connection(pmt) : S_OK;
  if (SUCCEEDED(hr)) {
    CAutoLock lock(&m_lock);
    pConnector->AddRef();
    if (m_connected) m_connected->Release();
    m_connected = pConnector;
  }
  return hr;
}

HRESULT STDMETHODCALLTYPE TestInputPin::Disconnect() {
  Log("Disconnect");
  CAutoLock lock(&m_lock);
  if (!m_connected) return S_FALSE;
  m_connected->Release();
  m_connected = nullptr;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TestInputPin::ConnectedTo(IPin** pPin) {
  CAutoLock lock(&m_lock);
  *pPin = m_connected;
  if (!m_connected) return VFW_E_NOT_CONNECTED;
  m_connected->AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TestInputPin::ConnectionMediaType(AM_MEDIA_TYPE*) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE TestInputPin::QueryPinInfo(PIN_INFO* pInfo) {
  pInfo->pFilter = nullptr;
  wcscpy(pInfo->achName, L"In");
  pInfo->dir = direction;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TestInputPin::QueryDirection(PIN_DIRECTION* pPinDir) {
  Log("QueryDirection");
  *pPinDir = direction;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TestInputPin::QueryId(LPWSTR*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE TestInputPin::QueryAccept(const AM_MEDIA_TYPE*) { return S_OK; }

HRESULT STDMETHODCALLTYPE TestInputPin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
  Log("EnumMediaTypes");
  *ppEnum = new SinkTypeEnum(types);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TestInputPin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE TestInputPin::EndOfStream() {
  Log("EndOfStream");
  ++end_of_streams;
  SetEvent(eos_event);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TestInputPin::BeginFlush() {
  Log("BeginFlush");
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TestInputPin::EndFlush() {
  Log("EndFlush");
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TestInputPin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
  Log("NewSegment");
  CAutoLock lock(&m_lock);
  segment_start = tStart;
  segment_stop = tStop;
  segment_rate = dRate;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TestInputPin::GetAllocator(IMemAllocator** ppAllocator) {
  Log("GetAllocator");
  *ppAllocator = own_allocator;
  if (!own_allocator) return VFW_E_NO_ALLOCATOR;
  own_allocator->AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TestInputPin::NotifyAllocator(IMemAllocator* pAllocator, WINBOOL bReadOnly) {
  Log(bReadOnly ? "NotifyAllocator read-only" : "NotifyAllocator");
  if (FAILED(notify_allocator_result)) return notify_allocator_result;
  pAllocator->AddRef();
  if (notified_allocator) notified_allocator->Release();
  notified_allocator = pAllocator;
  return notify_allocator_result;
}

HRESULT STDMETHODCALLTYPE TestInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) {
  Log("GetAllocatorRequirements");
  if (SUCCEEDED(requirements_result)) *pProps = requirements;
  return requirements_result;
}

HRESULT STDMETHODCALLTYPE TestInputPin::Receive(IMediaSample* pSample) {
  int n = received.load();
  HRESULT hr = receive ? receive(pSample, n) : S_OK;
  {
    CAutoLock lock(&m_lock);
    REFERENCE_TIME start = -1, stop = -1;
    pSample->GetTime(&start, &stop);
    sample_starts.push_back(start);
    discontinuities.push_back(pSample->IsDiscontinuity() == S_OK);
    if (hold_samples) {
      pSample->AddRef();
      m_held.push_back(pSample);
    }
  }
  ++received;
  SetEvent(sample_event);
  return hr;
}

HRESULT STDMETHODCALLTYPE TestInputPin::ReceiveMultiple(IMediaSample** pSamples, LONG nSamples,
                                                        LONG* nSamplesProcessed) {
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE TestInputPin::ReceiveCanBlock() { return S_FALSE; }

// ---- FakeGraph, FixedClock

std::vector<FakeGraph::Event> FakeGraph::Events() {
  CAutoLock lock(&m_lock);
  return m_events;
}

HRESULT STDMETHODCALLTYPE FakeGraph::QueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IUnknown || riid == IID_IFilterGraph) {
    *ppv = static_cast<IFilterGraph*>(this);
  } else if (riid == IID_IMediaEventSink) {
    *ppv = static_cast<IMediaEventSink*>(this);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeGraph::Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) {
  CAutoLock lock(&m_lock);
  m_events.push_back({EventCode, EventParam1, EventParam2});
  return S_OK;
}

HRESULT STDMETHODCALLTYPE FixedClock::QueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IUnknown || riid == IID_IReferenceClock) {
    *ppv = static_cast<IReferenceClock*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

}  // namespace kestrel::test
