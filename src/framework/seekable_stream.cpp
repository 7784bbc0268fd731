#include "framework/seekable_stream.h"

#include <algorithm>

#include "framework/source.h"

namespace kestrel {

CSeekableStream::CSeekableStream(const wchar_t* pObjectName, HRESULT* phr, CSource* pFilter, LPCWSTR pPinName,
                                 REFERENCE_TIME rtDuration)
    : CSourceStream(pObjectName, phr, pFilter, pPinName),
      CSourceSeeking(pObjectName, static_cast<IPin*>(this), phr, &m_cPinLock) {
  m_rtDuration = rtDuration;
  m_rtStop = rtDuration;
  m_dwSeekingCaps = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards |
                    AM_SEEKING_CanGetCurrentPos | AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration;
}

HRESULT STDMETHODCALLTYPE CSeekableStream::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
  return CSourceStream::NonDelegatingQueryInterface(riid, ppv);
}

ULONG STDMETHODCALLTYPE CSeekableStream::NonDelegatingAddRef() { return CSourceStream::NonDelegatingAddRef(); }

ULONG STDMETHODCALLTYPE CSeekableStream::NonDelegatingRelease() { return CSourceStream::NonDelegatingRelease(); }

HRESULT CSeekableStream::OnThreadStartPlay() {
  REFERENCE_TIME start, stop;
  {
    CAutoLock lock(&m_cPinLock);
    m_bDiscontinuity = TRUE;
    start = m_rtSegmentStart = m_rtStart;
    stop = m_rtStop;
  }
  DeliverNewSegment(start, stop, 1.0);
  return S_OK;
}

HRESULT CSeekableStream::ChangeStart() {
  CAutoLock state(CSourceStream::m_pLock);
  REFERENCE_TIME start;
  {
    CAutoLock lock(&m_cPinLock);
    start = m_rtStart;
  }
  if (!ThreadExists()) {
    CAutoLock lock(&m_cPinLock);
    MoveTo(start);
    m_rtDelivered = start;
    return S_OK;
  }
  // The worker leaves a delivery held downstream, stops at the top of its
  // loop, and only then is the source moved: nothing it fills is lost.
  DeliverBeginFlush();
  Stop();
  {
    CAutoLock lock(&m_cPinLock);
    MoveTo(start);
    m_rtDelivered = start;
  }
  DeliverEndFlush();
  Run();
  return S_OK;
}

REFERENCE_TIME CSeekableStream::PlayingPosition() {
  CAutoLock lock(&m_cPinLock);
  REFERENCE_TIME stream = 0;
  FILTER_STATE state = State_Stopped;
  if (SUCCEEDED(m_pFilter->GetState(0, &state)) && state == State_Running &&
      SUCCEEDED(m_pFilter->StreamTime(&stream))) {
    return std::clamp<REFERENCE_TIME>(m_rtSegmentStart + stream, m_rtSegmentStart,
                                      std::max(m_rtSegmentStart, m_rtDelivered));
  }
  return m_rtDelivered;
}

BOOL CSeekableStream::TakeDiscontinuity() {
  BOOL pending = m_bDiscontinuity;
  m_bDiscontinuity = FALSE;
  return pending;
}

bool CSeekableStream::ToSegmentTimes(REFERENCE_TIME* pStart, REFERENCE_TIME* pStop) {
  if (*pStart > m_rtStop) return false;
  m_rtDelivered = *pStop;
  *pStart = std::max<REFERENCE_TIME>(*pStart - m_rtSegmentStart, 0);
  *pStop = std::max<REFERENCE_TIME>(*pStop - m_rtSegmentStart, 0);
  return true;
}

}  // namespace kestrel
