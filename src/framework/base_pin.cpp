#include "framework/base_pin.h"

#include <vfwmsgs.h>

#include <cwchar>
#include <new>

#include "framework/com_ptr.h"
#include "framework/enum_media_types.h"

namespace kestrel {
namespace {

// Codes that let the walk of a type list go on to the next type.
bool IsPassedOver(HRESULT hr) { return hr == E_FAIL || hr == VFW_E_TYPE_NOT_ACCEPTED || hr == E_INVALIDARG; }

}  // namespace

CBasePin::CBasePin(const wchar_t* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName,
                   PIN_DIRECTION dir)
    : CUnknown(pObjectName, nullptr), m_pFilter(pFilter), m_pLock(pLock), m_dir(dir) {
  if (pName) {
    size_t length = wcslen(pName);
    m_pName.reset(new (std::nothrow) wchar_t[length + 1]);
    if (m_pName) {
      wmemcpy(m_pName.get(), pName, length + 1);
    } else if (phr && SUCCEEDED(*phr)) {
      *phr = E_OUTOFMEMORY;
    }
  }
}

CBasePin::~CBasePin() = default;

HRESULT STDMETHODCALLTYPE CBasePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IPin) return GetInterface(static_cast<IPin*>(this), ppv);
  if (riid == IID_IQualityControl) return GetInterface(static_cast<IQualityControl*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

// The pin lives as long as its filter.
ULONG STDMETHODCALLTYPE CBasePin::NonDelegatingAddRef() { return m_pFilter->AddRef(); }
ULONG STDMETHODCALLTYPE CBasePin::NonDelegatingRelease() { return m_pFilter->Release(); }

LONG CBasePin::GetMediaTypeVersion() { return m_TypeVersion; }
HRESULT CBasePin::Active() { return S_OK; }
HRESULT CBasePin::Inactive() {
  m_bRunTimeError = false;
  return S_OK;
}
HRESULT CBasePin::Run(REFERENCE_TIME) { return S_OK; }
HRESULT CBasePin::SetMediaType(const CMediaType*) { return S_OK; }
HRESULT CBasePin::BreakConnect() { return S_OK; }
HRESULT CBasePin::CompleteConnect(IPin*) { return S_OK; }

HRESULT CBasePin::CheckConnect(IPin* pPin) {
  PIN_DIRECTION dir;
  HRESULT hr = pPin->QueryDirection(&dir);
  if (FAILED(hr)) return hr;
  return dir == m_dir ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT CBasePin::GetMediaType(int iPosition, CMediaType*) {
  return iPosition < 0 ? E_INVALIDARG : VFW_S_NO_MORE_ITEMS;
}

HRESULT CBasePin::AttemptConnection(IPin* pReceivePin, const CMediaType* pmt) {
  HRESULT hr = CheckConnect(pReceivePin);
  if (SUCCEEDED(hr)) {
    hr = CheckMediaType(pmt);
    if (hr == S_FALSE || hr == E_FAIL || hr == E_INVALIDARG) hr = VFW_E_TYPE_NOT_ACCEPTED;
    if (hr == S_OK) {
      m_Connected.Assign(pReceivePin);
      hr = m_mt.Set(*pmt);
      if (SUCCEEDED(hr)) hr = SetMediaType(&m_mt);
      if (SUCCEEDED(hr)) {
        hr = pReceivePin->ReceiveConnection(static_cast<IPin*>(this), pmt);
        if (SUCCEEDED(hr)) {
          hr = CompleteConnect(pReceivePin);
          if (SUCCEEDED(hr)) return hr;
          pReceivePin->Disconnect();
        }
      }
    } else if (SUCCEEDED(hr)) {
      hr = VFW_E_TYPE_NOT_ACCEPTED;
    }
  }
  BreakConnect();
  m_Connected.Reset();
  m_mt.Clear();
  return hr;
}

HRESULT CBasePin::TryDownstreamTypes(IPin* pReceivePin, const CMediaType* pPartial, HRESULT* phrRemembered) {
  ComPtr<IEnumMediaTypes> types;
  if (FAILED(pReceivePin->EnumMediaTypes(types.ReleaseAndGetAddressOf())) || !types) {
    return VFW_E_NO_ACCEPTABLE_TYPES;
  }
  for (;;) {
    AM_MEDIA_TYPE* pmt = nullptr;
    ULONG fetched = 0;
    if (types->Next(1, &pmt, &fetched) != S_OK || fetched != 1 || !pmt) {
      DeleteMediaType(pmt);
      return VFW_E_NO_ACCEPTABLE_TYPES;
    }
    HRESULT hr = VFW_E_NO_ACCEPTABLE_TYPES;
    if (!pPartial || pPartial->MatchesPartial(*pmt)) {
      CMediaType candidate;
      candidate.Set(*pmt);
      hr = candidate.IsValid() ? AttemptConnection(pReceivePin, &candidate) : E_OUTOFMEMORY;
    }
    DeleteMediaType(pmt);
    if (SUCCEEDED(hr)) return hr;
    if (hr != VFW_E_NO_ACCEPTABLE_TYPES && !IsPassedOver(hr) && SUCCEEDED(*phrRemembered)) *phrRemembered = hr;
  }
}

HRESULT CBasePin::TryOwnTypes(IPin* pReceivePin, const CMediaType* pPartial, HRESULT* phrRemembered) {
  for (int i = 0;; ++i) {
    CMediaType candidate;
    if (GetMediaType(i, &candidate) != S_OK) return VFW_E_NO_ACCEPTABLE_TYPES;
    if (pPartial && !pPartial->MatchesPartial(candidate)) continue;
    HRESULT hr = AttemptConnection(pReceivePin, &candidate);
    if (SUCCEEDED(hr)) return hr;
    if (!IsPassedOver(hr) && SUCCEEDED(*phrRemembered)) *phrRemembered = hr;
  }
}

HRESULT STDMETHODCALLTYPE CBasePin::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) {
  if (!pReceivePin) return E_POINTER;
  CAutoLock lock(m_pLock);
  if (m_Connected) return VFW_E_ALREADY_CONNECTED;
  if (!m_pFilter->IsStopped() && !m_bCanReconnectWhenActive) return VFW_E_NOT_STOPPED;

  CMediaType partial;
  if (pmt && FAILED(partial.Set(*pmt))) return E_OUTOFMEMORY;
  const CMediaType* pPartial = pmt ? &partial : nullptr;

  HRESULT hr;
  if (pPartial && partial.IsFullySpecified()) {
    hr = AttemptConnection(pReceivePin, &partial);
  } else {
    HRESULT remembered = S_OK;
    if (m_bTryMyTypesFirst) {
      hr = TryOwnTypes(pReceivePin, pPartial, &remembered);
      if (FAILED(hr)) hr = TryDownstreamTypes(pReceivePin, pPartial, &remembered);
    } else {
      hr = TryDownstreamTypes(pReceivePin, pPartial, &remembered);
      if (FAILED(hr)) hr = TryOwnTypes(pReceivePin, pPartial, &remembered);
    }
    if (FAILED(hr) && FAILED(remembered)) hr = remembered;
  }
  if (FAILED(hr)) BreakConnect();
  return hr;
}

HRESULT STDMETHODCALLTYPE CBasePin::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) {
  if (!pConnector || !pmt) return E_POINTER;
  CAutoLock lock(m_pLock);
  if (m_Connected) return VFW_E_ALREADY_CONNECTED;
  if (!m_pFilter->IsStopped() && !m_bCanReconnectWhenActive) return VFW_E_NOT_STOPPED;
  HRESULT hr = CheckConnect(pConnector);
  if (SUCCEEDED(hr)) {
    CMediaType mt;
    hr = mt.Set(*pmt);
    if (SUCCEEDED(hr)) {
      hr = CheckMediaType(&mt);
      if (hr == S_OK) {
        m_Connected.Assign(pConnector);
        hr = m_mt.Set(mt);
        if (SUCCEEDED(hr)) hr = SetMediaType(&m_mt);
        if (SUCCEEDED(hr)) hr = CompleteConnect(pConnector);
        if (SUCCEEDED(hr)) return hr;
      } else {
        hr = VFW_E_TYPE_NOT_ACCEPTED;
      }
    }
  }
  BreakConnect();
  m_Connected.Reset();
  m_mt.Clear();
  return hr;
}

HRESULT STDMETHODCALLTYPE CBasePin::Disconnect() {
  CAutoLock lock(m_pLock);
  if (!m_pFilter->IsStopped()) return VFW_E_NOT_STOPPED;
  if (!m_Connected) return S_FALSE;
  HRESULT hr = BreakConnect();
  if (FAILED(hr)) return hr;
  m_Connected.Reset();
  m_mt.Clear();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::ConnectedTo(IPin** pPin) {
  if (!pPin) return E_POINTER;
  CAutoLock lock(m_pLock);
  *pPin = m_Connected.Get();
  if (!m_Connected) return VFW_E_NOT_CONNECTED;
  m_Connected->AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
  if (!pmt) return E_POINTER;
  CAutoLock lock(m_pLock);
  if (!m_Connected) {
    CMediaType empty;
    empty.MoveTo(pmt);
    return VFW_E_NOT_CONNECTED;
  }
  return CopyMediaType(pmt, &m_mt);
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryPinInfo(PIN_INFO* pInfo) {
  if (!pInfo) return E_POINTER;
  pInfo->pFilter = static_cast<IBaseFilter*>(m_pFilter);
  m_pFilter->AddRef();
  const size_t capacity = sizeof(pInfo->achName) / sizeof(pInfo->achName[0]);
  pInfo->achName[0] = L'\0';
  if (m_pName) {
    wcsncpy(pInfo->achName, m_pName.get(), capacity - 1);
    pInfo->achName[capacity - 1] = L'\0';
  }
  pInfo->dir = m_dir;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryDirection(PIN_DIRECTION* pPinDir) {
  if (!pPinDir) return E_POINTER;
  *pPinDir = m_dir;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryId(LPWSTR* Id) {
  if (!Id) return E_POINTER;
  *Id = nullptr;
  int position = -1;
  {
    CAutoLock lock(m_pLock);
    int count = m_pFilter->GetPinCount();
    for (int i = 0; i < count; ++i) {
      if (m_pFilter->GetPin(i) == this) {
        position = i;
        break;
      }
    }
  }
  if (position < 0) return E_FAIL;
  // Room for any int, not only for the first 999 pins.
  constexpr size_t kChars = 12;
  auto* text = static_cast<LPWSTR>(CoTaskMemAlloc(kChars * sizeof(wchar_t)));
  if (!text) return E_OUTOFMEMORY;
  swprintf(text, kChars, L"%d", position + 1);
  *Id = text;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryAccept(const AM_MEDIA_TYPE* pmt) {
  if (!pmt) return E_POINTER;
  CMediaType mt;
  if (FAILED(mt.Set(*pmt))) return S_FALSE;
  HRESULT hr = CheckMediaType(&mt);
  return FAILED(hr) ? S_FALSE : hr;
}

HRESULT STDMETHODCALLTYPE CBasePin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
  if (!ppEnum) return E_POINTER;
  *ppEnum = nullptr;
  auto* pEnum = new (std::nothrow) CEnumMediaTypes(this, nullptr);
  if (!pEnum) return E_OUTOFMEMORY;
  return GetInterface(static_cast<IEnumMediaTypes*>(pEnum), reinterpret_cast<void**>(ppEnum));
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE CBasePin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
  m_tStart = tStart;
  m_tStop = tStop;
  m_dRate = dRate;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::Notify(IBaseFilter*, Quality) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE CBasePin::SetSink(IQualityControl* piqc) {
  CAutoLock lock(m_pLock);
  m_pQSink = piqc;
  return S_OK;
}

}  // namespace kestrel
