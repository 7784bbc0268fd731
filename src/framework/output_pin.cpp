#include "framework/output_pin.h"

#include <dshow.h>
#include <vfwmsgs.h>

namespace kestrel {

CBaseOutputPin::CBaseOutputPin(const wchar_t* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                               LPCWSTR pName)
    : CBasePin(pObjectName, pFilter, pLock, phr, pName, PINDIR_OUTPUT) {}

CBaseOutputPin::~CBaseOutputPin() = default;

HRESULT CBaseOutputPin::Active() {
  if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
  return m_pAllocator->Commit();
}

HRESULT CBaseOutputPin::Inactive() {
  m_bRunTimeError = false;
  if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
  return m_pAllocator->Decommit();
}

HRESULT CBaseOutputPin::CheckConnect(IPin* pPin) {
  HRESULT hr = CBasePin::CheckConnect(pPin);
  if (FAILED(hr)) return hr;
  ComPtr<IMemInputPin> input;
  hr = pPin->QueryInterface(IID_IMemInputPin, input.ReleaseAndGetVoidAddress());
  if (FAILED(hr)) return hr;
  if (!input) return E_NOINTERFACE;
  m_pInputPin = std::move(input);
  return S_OK;
}

HRESULT CBaseOutputPin::BreakConnect() {
  if (m_pAllocator) {
    HRESULT hr = m_pAllocator->Decommit();
    if (FAILED(hr)) return hr;
    m_pAllocator.Reset();
  }
  m_pInputPin.Reset();
  return S_OK;
}

HRESULT CBaseOutputPin::CompleteConnect(IPin*) {
  if (!m_pInputPin) return E_UNEXPECTED;
  return DecideAllocator(m_pInputPin.Get(), m_pAllocator.ReleaseAndGetAddressOf());
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc) {
  *ppAlloc = nullptr;
  ALLOCATOR_PROPERTIES request = {};
  // The downstream requirements are a hint; a failed answer counts as none.
  if (FAILED(pPin->GetAllocatorRequirements(&request))) request = ALLOCATOR_PROPERTIES{};
  if (request.cbAlign == 0) request.cbAlign = 1;

  // The downstream allocator, else the system memory allocator, each sized
  // by the pin and told to downstream.
  auto sized = [&](IMemAllocator* alloc) {
    ALLOCATOR_PROPERTIES props = request;
    HRESULT hr = DecideBufferSize(alloc, &props);
    return SUCCEEDED(hr) ? pPin->NotifyAllocator(alloc, FALSE) : hr;
  };
  ComPtr<IMemAllocator> alloc;
  HRESULT hr = pPin->GetAllocator(alloc.ReleaseAndGetAddressOf());
  if (SUCCEEDED(hr) && alloc && SUCCEEDED(sized(alloc.Get()))) {
    *ppAlloc = alloc.Detach();
    return S_OK;
  }
  hr = InitAllocator(alloc.ReleaseAndGetAddressOf());
  if (SUCCEEDED(hr) && !alloc) hr = E_OUTOFMEMORY;
  if (SUCCEEDED(hr)) hr = sized(alloc.Get());
  if (FAILED(hr)) return hr;
  *ppAlloc = alloc.Detach();
  return S_OK;
}

HRESULT CBaseOutputPin::InitAllocator(IMemAllocator** ppAlloc) {
  *ppAlloc = nullptr;
  return CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                          reinterpret_cast<void**>(ppAlloc));
}

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime, REFERENCE_TIME* pEndTime,
                                          DWORD dwFlags) {
  if (!ppSample) return E_POINTER;
  *ppSample = nullptr;
  if (!m_pAllocator) return E_NOINTERFACE;
  return m_pAllocator->GetBuffer(ppSample, pStartTime, pEndTime, dwFlags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* pSample) {
  if (!m_pInputPin) return VFW_E_NOT_CONNECTED;
  return m_pInputPin->Receive(pSample);
}

HRESULT CBaseOutputPin::DeliverEndOfStream() {
  if (!m_Connected) return VFW_E_NOT_CONNECTED;
  return m_Connected->EndOfStream();
}

HRESULT CBaseOutputPin::DeliverBeginFlush() {
  if (!m_Connected) return VFW_E_NOT_CONNECTED;
  return m_Connected->BeginFlush();
}

HRESULT CBaseOutputPin::DeliverEndFlush() {
  if (!m_Connected) return VFW_E_NOT_CONNECTED;
  return m_Connected->EndFlush();
}

HRESULT CBaseOutputPin::DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
  if (!m_Connected) return VFW_E_NOT_CONNECTED;
  return m_Connected->NewSegment(tStart, tStop, dRate);
}

HRESULT STDMETHODCALLTYPE CBaseOutputPin::EndOfStream() { return E_UNEXPECTED; }
HRESULT STDMETHODCALLTYPE CBaseOutputPin::BeginFlush() { return E_UNEXPECTED; }
HRESULT STDMETHODCALLTYPE CBaseOutputPin::EndFlush() { return E_UNEXPECTED; }

}  // namespace kestrel
