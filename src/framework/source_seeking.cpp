#include "framework/source_seeking.h"

#include <dshow.h>

namespace kestrel {
namespace {

constexpr DWORD kPositioningMask = AM_SEEKING_PositioningBitsMask;  // low two bits

bool IsMediaTime(const GUID* pFormat) { return !pFormat || *pFormat == TIME_FORMAT_MEDIA_TIME; }

}  // namespace

CSourceSeeking::CSourceSeeking(const wchar_t* pName, IUnknown* pUnk, HRESULT* phr, CCritSec* pLock)
    : CUnknown(pName, pUnk), m_pSeekLock(pLock) {}

HRESULT STDMETHODCALLTYPE CSourceSeeking::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::GetCapabilities(DWORD* pCapabilities) {
  if (!pCapabilities) return E_POINTER;
  *pCapabilities = m_dwSeekingCaps;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::CheckCapabilities(DWORD* pCapabilities) {
  if (!pCapabilities) return E_POINTER;
  return (*pCapabilities & ~m_dwSeekingCaps) != 0 ? S_FALSE : S_OK;
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::IsFormatSupported(const GUID* pFormat) {
  if (!pFormat) return E_POINTER;
  return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::QueryPreferredFormat(GUID* pFormat) {
  if (!pFormat) return E_POINTER;
  *pFormat = TIME_FORMAT_MEDIA_TIME;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::GetTimeFormat(GUID* pFormat) {
  if (!pFormat) return E_POINTER;
  *pFormat = TIME_FORMAT_MEDIA_TIME;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::IsUsingTimeFormat(const GUID* pFormat) {
  if (!pFormat) return E_POINTER;
  return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::SetTimeFormat(const GUID* pFormat) {
  if (!pFormat) return E_POINTER;
  return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::GetDuration(LONGLONG* pDuration) {
  if (!pDuration) return E_POINTER;
  CAutoLock lock(m_pSeekLock);
  *pDuration = m_rtDuration;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::GetStopPosition(LONGLONG* pStop) {
  if (!pStop) return E_POINTER;
  CAutoLock lock(m_pSeekLock);
  *pStop = m_rtStop;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::GetCurrentPosition(LONGLONG* pCurrent) {
  if (!pCurrent) return E_POINTER;
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat,
                                                            LONGLONG Source, const GUID* pSourceFormat) {
  if (!pTarget) return E_POINTER;
  if (!IsMediaTime(pTargetFormat) || !IsMediaTime(pSourceFormat)) return E_INVALIDARG;
  *pTarget = Source;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                                       DWORD dwStopFlags) {
  const DWORD startBits = dwCurrentFlags & kPositioningMask;
  const DWORD stopBits = dwStopFlags & kPositioningMask;
  if (dwStopFlags != 0) {
    if (!pStop) return E_POINTER;
    if ((dwStopFlags & ~kPositioningMask) != 0) return E_INVALIDARG;
  }
  if (dwCurrentFlags != 0) {
    if (!pCurrent) return E_POINTER;
    // No positioning with other bits (ReturnTime, SeekToKeyFrame ...) leaves
    // the start alone; incremental has no meaning for a start.
    if (startBits == AM_SEEKING_IncrementalPositioning) return E_INVALIDARG;
  }
  {
    CAutoLock lock(m_pSeekLock);
    if (startBits == AM_SEEKING_AbsolutePositioning) {
      m_rtStart = *pCurrent;
    } else if (startBits == AM_SEEKING_RelativePositioning) {
      m_rtStart += *pCurrent;
    }
    if (stopBits == AM_SEEKING_AbsolutePositioning) {
      m_rtStop = *pStop;
    } else if (stopBits == AM_SEEKING_IncrementalPositioning) {
      m_rtStop = m_rtStart + *pStop;
    } else if (stopBits == AM_SEEKING_RelativePositioning) {
      m_rtStop += *pStop;
    }
  }
  // The hooks run without the lock.
  HRESULT hr = S_OK;
  if (stopBits != 0) hr = ChangeStop();
  if (startBits != 0) hr = ChangeStart();
  return hr;
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) {
  if (pCurrent) *pCurrent = m_rtStart;
  if (pStop) *pStop = m_rtStop;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) {
  if (pEarliest) *pEarliest = 0;
  if (pLatest) {
    CAutoLock lock(m_pSeekLock);
    *pLatest = m_rtDuration;
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::SetRate(double dRate) {
  {
    CAutoLock lock(m_pSeekLock);
    m_dRateSeeking = dRate;
  }
  return ChangeRate();
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::GetRate(double* pdRate) {
  if (!pdRate) return E_POINTER;
  CAutoLock lock(m_pSeekLock);
  *pdRate = m_dRateSeeking;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::GetPreroll(LONGLONG* pllPreroll) {
  if (!pllPreroll) return E_POINTER;
  *pllPreroll = 0;
  return S_OK;
}

}  // namespace kestrel
