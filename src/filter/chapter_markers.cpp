// CKestrel's IAMExtendedSeeking: the movie's chapters (read at Load) as
// markers numbered from 1, each with its start in seconds and its name. A
// player lists them and seeks to a marker's time through IMediaSeeking.
// Every method runs under the filter's state lock.
#include <ole2.h>

#include "filter/kestrel.h"

namespace kestrel {

HRESULT STDMETHODCALLTYPE CKestrel::get_ExSeekCapabilities(long* pExCapabilities) {
  if (!pExCapabilities) return E_POINTER;
  CAutoLock lock(&m_cStateLock);
  *pExCapabilities = AM_EXSEEK_CANSEEK | (m_chapters.empty() ? 0 : AM_EXSEEK_MARKERSEEK);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CKestrel::get_MarkerCount(long* pMarkerCount) {
  if (!pMarkerCount) return E_POINTER;
  CAutoLock lock(&m_cStateLock);
  *pMarkerCount = static_cast<long>(m_chapters.size());
  return S_OK;
}

// The last marker at or before where the video pin is (the audio pin's
// place without video), 0 before the first or without markers.
HRESULT STDMETHODCALLTYPE CKestrel::get_CurrentMarker(long* pCurrentMarker) {
  if (!pCurrentMarker) return E_POINTER;
  CAutoLock lock(&m_cStateLock);
  *pCurrentMarker = 0;
  CSeekableStream* pin =
      m_pVideoPin ? static_cast<CSeekableStream*>(m_pVideoPin.get()) : static_cast<CSeekableStream*>(m_pAudioPin.get());
  const REFERENCE_TIME position = pin ? pin->PlayingPosition() : 0;
  for (size_t i = 0; i < m_chapters.size(); ++i)
    if (m_chapters[i].start <= position) *pCurrentMarker = static_cast<long>(i + 1);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CKestrel::GetMarkerTime(long MarkerNum, double* pMarkerTime) {
  if (!pMarkerTime) return E_POINTER;
  CAutoLock lock(&m_cStateLock);
  if (MarkerNum < 1 || static_cast<size_t>(MarkerNum) > m_chapters.size()) return E_INVALIDARG;
  *pMarkerTime = static_cast<double>(m_chapters[MarkerNum - 1].start) / 10000000.0;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CKestrel::GetMarkerName(long MarkerNum, BSTR* pbstrMarkerName) {
  if (!pbstrMarkerName) return E_POINTER;
  *pbstrMarkerName = nullptr;
  CAutoLock lock(&m_cStateLock);
  if (MarkerNum < 1 || static_cast<size_t>(MarkerNum) > m_chapters.size()) return E_INVALIDARG;
  const std::wstring& name = m_chapters[MarkerNum - 1].name;
  BSTR text = SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
  if (!text) return E_OUTOFMEMORY;
  *pbstrMarkerName = text;
  return S_OK;
}

// The filter plays at the normal speed only.
HRESULT STDMETHODCALLTYPE CKestrel::put_PlaybackSpeed(double Speed) { return Speed == 1.0 ? S_OK : E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE CKestrel::get_PlaybackSpeed(double* pSpeed) {
  if (!pSpeed) return E_POINTER;
  *pSpeed = 1.0;
  return S_OK;
}

// IDispatch, shared by IAMExtendedSeeking and IAMMediaContent: no type
// information, no dispatch identifiers.
HRESULT STDMETHODCALLTYPE CKestrel::GetTypeInfoCount(UINT* pctinfo) {
  if (!pctinfo) return E_POINTER;
  *pctinfo = 0;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CKestrel::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
  if (ppTInfo) *ppTInfo = nullptr;
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CKestrel::GetIDsOfNames(REFIID, LPOLESTR*, UINT cNames, LCID, DISPID* rgDispId) {
  for (UINT i = 0; rgDispId && i < cNames; ++i) rgDispId[i] = DISPID_UNKNOWN;
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CKestrel::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
  return E_NOTIMPL;
}

}  // namespace kestrel
