#include "framework/output_pin.h"

#include <dshow.h>
#include <vfwmsgs.h>

namespace kestrel {

CBaseOutputPin::CBaseOutputPin(const wchar_t* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                               LPCWSTR pName)
    : CBasePin(pObjectName, pFilter, pLock, phr, pName, PINDIR_OUTPUT) {}

CBaseOutputPin::~CBaseOutputPin() {
  if (m_pAllocator) m_pAllocator->Release();
  if (m_pInputPin) m_pInputPin->Release();
}

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
  IMemInputPin* input = nullptr;
  hr = pPin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input));
  if (FAILED(hr)) return hr;
  if (!input) return E_NOINTERFACE;
  if (m_pInputPin) m_pInputPin->Release();
  m_pInputPin = input;
  return S_OK;
}

HRESULT CBaseOutputPin::BreakConnect() {
  if (m_pAllocator) {
    HRESULT hr = m_pAllocator->Decommit();
    if (FAILED(hr)) return hr;
    m_pAllocator->Release();
    m_pAllocator = nullptr;
  }
  if (m_pInputPin) {
    m_pInputPin->Release();
    m_pInputPin = nullptr;
  }
  return S_OK;
}

HRESULT CBaseOutputPin::CompleteConnect(IPin*) {
  if (!m_pInputPin) return E_UNEXPECTED;
  return DecideAllocator(m_pInputPin, &m_pAllocator);
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc) {
  if (*ppAlloc) {
    (*ppAlloc)->Release();
    *ppAlloc = nullptr;
  }
  ALLOCATOR_PROPERTIES request = {};
  // The downstream requirements are a hint; a failed answer counts as none.
  if (FAILED(pPin->GetAllocatorRequirements(&request))) request = ALLOCATOR_PROPERTIES{};
  if (request.cbAlign == 0) request.cbAlign = 1;

  IMemAllocator* alloc = nullptr;
  HRESULT hr = pPin->GetAllocator(&alloc);
  if (SUCCEEDED(hr) && alloc) {
    ALLOCATOR_PROPERTIES props = request;
    hr = DecideBufferSize(alloc, &props);
    if (SUCCEEDED(hr)) hr = pPin->NotifyAllocator(alloc, FALSE);
    if (SUCCEEDED(hr)) {
      *ppAlloc = alloc;
      return S_OK;
    }
  }
  if (alloc) {
    alloc->Release();
    alloc = nullptr;
  }

  hr = InitAllocator(&alloc);
  if (SUCCEEDED(hr) && alloc) {
    ALLOCATOR_PROPERTIES props = request;
    hr = DecideBufferSize(alloc, &props);
    if (SUCCEEDED(hr)) hr = pPin->NotifyAllocator(alloc, FALSE);
    if (SUCCEEDED(hr)) {
      *ppAlloc = alloc;
      return S_OK;
    }
  } else if (SUCCEEDED(hr)) {
    hr = E_OUTOFMEMORY;
  }
  if (alloc) alloc->Release();
  return hr;
}

HRESULT CBaseOutputPin::InitAllocator(IMemAllocator** ppAlloc) {
  *ppAlloc = nullptr;
  return CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                          reinterpret_cast<void**>(ppAlloc));
}

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime,
                                          REFERENCE_TIME* pEndTime, DWORD dwFlags) {
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
