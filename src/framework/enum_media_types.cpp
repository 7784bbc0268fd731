#include "framework/enum_media_types.h"

#include <vfwmsgs.h>

#include <climits>
#include <new>

namespace kestrel {

CEnumMediaTypes::CEnumMediaTypes(CBasePin* pPin, const CEnumMediaTypes* pCopy)
    : CUnknown(L"CEnumMediaTypes", nullptr), m_pPin(pPin) {
  static_cast<IPin*>(m_pPin)->AddRef();
  if (pCopy) {
    m_Position = pCopy->m_Position;
    m_Version = pCopy->m_Version;
  } else {
    m_Version = m_pPin->GetMediaTypeVersion();
  }
}

CEnumMediaTypes::~CEnumMediaTypes() { static_cast<IPin*>(m_pPin)->Release(); }

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IEnumMediaTypes) return GetInterface(static_cast<IEnumMediaTypes*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) {
  if (!ppMediaTypes) return E_POINTER;
  if (!pcFetched && cMediaTypes > 1) return E_INVALIDARG;
  if (pcFetched) *pcFetched = 0;
  if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;

  ULONG fetched = 0;
  while (fetched < cMediaTypes) {
    CMediaType mt;
    // The position moves on every request, the failing one included.
    if (m_pPin->GetMediaType(m_Position++, &mt) != S_OK) break;
    auto* pmt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!pmt) break;
    mt.MoveTo(pmt);  // the format block moves with it
    ppMediaTypes[fetched++] = pmt;
  }
  if (pcFetched) *pcFetched = fetched;
  return fetched == cMediaTypes ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Skip(ULONG cMediaTypes) {
  if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  if (cMediaTypes == 0) return S_OK;
  if (cMediaTypes > static_cast<ULONG>(INT_MAX - m_Position)) {
    m_Position = INT_MAX;
    return S_FALSE;
  }
  m_Position += static_cast<int>(cMediaTypes);
  CMediaType mt;
  return m_pPin->GetMediaType(m_Position - 1, &mt) == S_OK ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Reset() {
  m_Position = 0;
  m_Version = m_pPin->GetMediaTypeVersion();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Clone(IEnumMediaTypes** ppEnum) {
  if (!ppEnum) return E_POINTER;
  *ppEnum = nullptr;
  if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  auto* copy = new (std::nothrow) CEnumMediaTypes(m_pPin, this);
  if (!copy) return E_OUTOFMEMORY;
  return GetInterface(static_cast<IEnumMediaTypes*>(copy), reinterpret_cast<void**>(ppEnum));
}

}  // namespace kestrel
