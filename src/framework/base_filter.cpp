#include "framework/base_filter.h"

#include <evcode.h>
#include <vfwmsgs.h>

#include <cwchar>
#include <new>

#include "framework/base_pin.h"
#include "framework/enum_pins.h"

namespace kestrel {
namespace {

std::unique_ptr<wchar_t[]> CopyName(LPCWSTR name) {
  if (!name) return nullptr;
  size_t length = wcslen(name);
  std::unique_ptr<wchar_t[]> copy(new (std::nothrow) wchar_t[length + 1]);
  if (copy) wmemcpy(copy.get(), name, length + 1);
  return copy;
}

}  // namespace

CBaseFilter::CBaseFilter(const wchar_t* pName, IUnknown* pUnk, CCritSec* pLock, REFCLSID clsid)
    : CUnknown(pName, pUnk), m_clsid(clsid), m_pLock(pLock) {}

CBaseFilter::~CBaseFilter() = default;

HRESULT STDMETHODCALLTYPE CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IBaseFilter || riid == IID_IMediaFilter || riid == IID_IPersist) {
    return GetInterface(static_cast<IBaseFilter*>(this), ppv);
  }
  if (riid == IID_IAMovieSetup) return GetInterface(static_cast<IAMovieSetup*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseFilter::StreamTime(REFERENCE_TIME* prtStream) {
  if (!prtStream) return E_POINTER;
  if (!m_pClock) return VFW_E_NO_CLOCK;
  REFERENCE_TIME now = 0;
  HRESULT hr = m_pClock->GetTime(&now);
  if (FAILED(hr)) return hr;
  *prtStream = now - m_tStart;
  return S_OK;
}

LONG CBaseFilter::GetPinVersion() { return m_PinVersion; }

const AMOVIESETUP_FILTER* CBaseFilter::GetSetupData() { return nullptr; }

HRESULT STDMETHODCALLTYPE CBaseFilter::GetClassID(CLSID* pClsID) {
  if (!pClsID) return E_POINTER;
  *pClsID = m_clsid;
  return S_OK;
}

bool CBaseFilter::IsActive() {
  CAutoLock lock(m_pLock);
  return m_State != State_Stopped;
}

bool CBaseFilter::IsStopped() {
  CAutoLock lock(m_pLock);
  return m_State == State_Stopped;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Stop() {
  CAutoLock lock(m_pLock);
  HRESULT hrFirst = S_OK;
  if (m_State != State_Stopped) {
    int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
      CBasePin* pin = GetPin(i);
      if (!pin || !pin->IsConnected()) continue;
      HRESULT hr = pin->Inactive();
      if (FAILED(hr) && SUCCEEDED(hrFirst)) hrFirst = hr;
    }
  }
  m_State = State_Stopped;
  return hrFirst;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Pause() {
  CAutoLock lock(m_pLock);
  if (m_State == State_Stopped) {
    int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
      CBasePin* pin = GetPin(i);
      if (!pin || !pin->IsConnected()) continue;
      HRESULT hr = pin->Active();
      if (FAILED(hr)) {
        // The pins activated so far stop again: the filter stays stopped
        // with no worker running.
        for (int j = 0; j < i; ++j) {
          CBasePin* done = GetPin(j);
          if (done && done->IsConnected()) done->Inactive();
        }
        return hr;
      }
    }
  }
  m_State = State_Paused;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Run(REFERENCE_TIME tStart) {
  CAutoLock lock(m_pLock);
  m_tStart = tStart;
  if (m_State == State_Stopped) {
    HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
  }
  if (m_State != State_Running) {
    int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
      CBasePin* pin = GetPin(i);
      if (!pin || !pin->IsConnected()) continue;
      HRESULT hr = pin->Run(tStart);
      if (FAILED(hr)) return hr;
    }
  }
  m_State = State_Running;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::GetState(DWORD dwMSecs, FILTER_STATE* State) {
  if (!State) return E_POINTER;
  *State = m_State;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::SetSyncSource(IReferenceClock* pClock) {
  CAutoLock lock(m_pLock);
  m_pClock.Assign(pClock);  // the new one held before the old one goes
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::GetSyncSource(IReferenceClock** pClock) {
  if (!pClock) return E_POINTER;
  CAutoLock lock(m_pLock);
  *pClock = m_pClock.Get();
  if (m_pClock) m_pClock->AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::EnumPins(IEnumPins** ppEnum) {
  if (!ppEnum) return E_POINTER;
  *ppEnum = nullptr;
  auto* pEnum = new (std::nothrow) CEnumPins(this, nullptr);
  if (!pEnum) return E_OUTOFMEMORY;
  return GetInterface(static_cast<IEnumPins*>(pEnum), reinterpret_cast<void**>(ppEnum));
}

HRESULT STDMETHODCALLTYPE CBaseFilter::FindPin(LPCWSTR Id, IPin** ppPin) {
  if (!ppPin) return E_POINTER;
  *ppPin = nullptr;
  if (!Id) return E_POINTER;
  // The identifier is the pin's 1-based position in decimal, digits only.
  long long number = 0;
  if (*Id == L'\0') return VFW_E_NOT_FOUND;
  for (LPCWSTR p = Id; *p; ++p) {
    if (*p < L'0' || *p > L'9') return VFW_E_NOT_FOUND;
    number = number * 10 + (*p - L'0');
    if (number > 0x7FFFFFFF) return VFW_E_NOT_FOUND;
  }
  CAutoLock lock(m_pLock);
  if (number < 1 || number > GetPinCount()) return VFW_E_NOT_FOUND;
  CBasePin* pin = GetPin(static_cast<int>(number - 1));
  if (!pin) return VFW_E_NOT_FOUND;
  return GetInterface(static_cast<IPin*>(pin), reinterpret_cast<void**>(ppPin));
}

HRESULT STDMETHODCALLTYPE CBaseFilter::QueryFilterInfo(FILTER_INFO* pInfo) {
  if (!pInfo) return E_POINTER;
  CAutoLock lock(m_pLock);
  const size_t capacity = sizeof(pInfo->achName) / sizeof(pInfo->achName[0]);
  pInfo->achName[0] = L'\0';
  if (m_pName) {
    wcsncpy(pInfo->achName, m_pName.get(), capacity - 1);
    pInfo->achName[capacity - 1] = L'\0';
  }
  pInfo->pGraph = m_pGraph;
  if (m_pGraph) m_pGraph->AddRef();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) {
  CAutoLock lock(m_pLock);
  std::unique_ptr<wchar_t[]> name;
  if (pName) {
    name = CopyName(pName);
    if (!name) return E_OUTOFMEMORY;
  }
  m_pName = std::move(name);
  // Neither the graph nor its sink is held: the graph owns the filter.
  m_pGraph = pGraph;
  m_pSink = nullptr;
  if (pGraph) {
    // Kept without a reference: the graph outlives its membership.
    ComPtr<IMediaEventSink> sink;
    if (SUCCEEDED(pGraph->QueryInterface(IID_IMediaEventSink, sink.ReleaseAndGetVoidAddress()))) m_pSink = sink.Get();
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::QueryVendorInfo(LPWSTR* pVendorInfo) {
  if (pVendorInfo) *pVendorInfo = nullptr;
  return E_NOTIMPL;
}

// The filter offers no setup data here: registration goes through the
// server's own entry points.
HRESULT STDMETHODCALLTYPE CBaseFilter::Register() { return S_FALSE; }

HRESULT STDMETHODCALLTYPE CBaseFilter::Unregister() { return S_FALSE; }

HRESULT CBaseFilter::NotifyEvent(long EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) {
  IMediaEventSink* sink = m_pSink;
  if (!sink) return E_NOTIMPL;
  if (EventCode == EC_COMPLETE) EventParam2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
  return sink->Notify(EventCode, EventParam1, EventParam2);
}

}  // namespace kestrel
