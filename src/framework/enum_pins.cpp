#include "framework/enum_pins.h"

#include <vfwmsgs.h>

#include <algorithm>
#include <new>

#include "framework/base_pin.h"

namespace kestrel {

CEnumPins::CEnumPins(CBaseFilter* pFilter, const CEnumPins* pCopy)
    : CUnknown(L"CEnumPins", nullptr), m_pFilter(pFilter) {
  m_pFilter->AddRef();
  if (pCopy) {
    m_Position = pCopy->m_Position;
    m_PinCount = pCopy->m_PinCount;
    m_Version = pCopy->m_Version;
    m_Returned = pCopy->m_Returned;
  } else {
    CAutoLock lock(m_pFilter->pStateLock());
    m_Version = m_pFilter->GetPinVersion();
    m_PinCount = m_pFilter->GetPinCount();
  }
}

CEnumPins::~CEnumPins() { m_pFilter->Release(); }

HRESULT STDMETHODCALLTYPE CEnumPins::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IEnumPins) return GetInterface(static_cast<IEnumPins*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT STDMETHODCALLTYPE CEnumPins::Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) {
  if (!ppPins) return E_POINTER;
  if (!pcFetched && cPins > 1) return E_INVALIDARG;
  if (pcFetched) *pcFetched = 0;

  CAutoLock lock(m_pFilter->pStateLock());
  if (AreWeOutOfSync()) {
    // Start again from the first pin; those already returned are skipped.
    m_Version = m_pFilter->GetPinVersion();
    m_PinCount = m_pFilter->GetPinCount();
    m_Position = 0;
  }
  // Room for every pin this call may return, so that recording them cannot
  // fail once they are handed out.
  try {
    m_Returned.reserve(m_Returned.size() + std::min<size_t>(cPins, static_cast<size_t>(m_PinCount - m_Position)));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  // The pins are found first: nothing is handed out when one has gone.
  ULONG fetched = 0;
  int position = m_Position;
  while (fetched < cPins && position < m_PinCount) {
    CBasePin* pin = m_pFilter->GetPin(position++);
    if (!pin) {
      std::fill(ppPins, ppPins + fetched, nullptr);
      return VFW_E_ENUM_OUT_OF_SYNC;
    }
    if (std::find(m_Returned.begin(), m_Returned.end(), pin) != m_Returned.end()) continue;
    ppPins[fetched++] = static_cast<IPin*>(pin);
  }
  m_Position = position;
  for (ULONG i = 0; i < fetched; ++i) {
    m_Returned.push_back(static_cast<CBasePin*>(ppPins[i]));
    ppPins[i]->AddRef();
  }
  if (pcFetched) *pcFetched = fetched;
  return fetched == cPins ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CEnumPins::Skip(ULONG cPins) {
  CAutoLock lock(m_pFilter->pStateLock());
  if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  if (static_cast<ULONG>(m_PinCount - m_Position) < cPins) return S_FALSE;
  m_Position += static_cast<int>(cPins);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumPins::Reset() {
  CAutoLock lock(m_pFilter->pStateLock());
  m_Version = m_pFilter->GetPinVersion();
  m_PinCount = m_pFilter->GetPinCount();
  m_Position = 0;
  m_Returned.clear();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumPins::Clone(IEnumPins** ppEnum) {
  if (!ppEnum) return E_POINTER;
  *ppEnum = nullptr;
  CAutoLock lock(m_pFilter->pStateLock());
  if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  CEnumPins* copy = nullptr;
  try {
    copy = new CEnumPins(m_pFilter, this);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return GetInterface(static_cast<IEnumPins*>(copy), reinterpret_cast<void**>(ppEnum));
}

}  // namespace kestrel
