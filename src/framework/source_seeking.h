// CSourceSeeking: IMediaSeeking for one output pin, in media time only.
// Keeps the pin's start, stop, duration, rate and capabilities and calls the
// pin's hooks after a change. Its IUnknown calls go to the pin (the outer
// object), and through it to the filter.
//
// How to derive: a pin derives from CSourceStream and CSourceSeeking,
// passes its IPin as pUnk and its own lock (the one its FillBuffer holds),
// sets m_rtDuration, m_rtStop and m_dwSeekingCaps in its constructor,
// answers IID_IMediaSeeking in its NonDelegatingQueryInterface, and
// implements the hooks, which run without the lock:
//  - ChangeStart: m_rtStart changed; move the media source and restart the
//    worker (DeliverBeginFlush, Stop, DeliverEndFlush, Run) if it exists.
//  - ChangeStop: m_rtStop changed.
//  - ChangeRate: m_dRateSeeking changed.
#ifndef KESTREL_FRAMEWORK_SOURCE_SEEKING_H
#define KESTREL_FRAMEWORK_SOURCE_SEEKING_H

#include <windows.h>

#include <strmif.h>

#include "base/critical_section.h"
#include "framework/unknown.h"

namespace kestrel {

class CSourceSeeking : public IMediaSeeking, public CUnknown {
 public:
  CSourceSeeking(const wchar_t* pName, IUnknown* pUnk, HRESULT* phr, CCritSec* pLock);
  ~CSourceSeeking() override = default;

  KESTREL_DECLARE_IUNKNOWN
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD* pCapabilities) override;
  // S_FALSE when a flag asked for is missing; *pCapabilities unchanged.
  HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD* pCapabilities) override;
  HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID* pFormat) override;
  HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID* pFormat) override;
  HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID* pFormat) override;
  HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID* pFormat) override;
  HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID* pFormat) override;
  HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* pDuration) override;
  HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG* pStop) override;
  HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG* pCurrent) override;
  HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                                              const GUID* pSourceFormat) override;
  HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                         DWORD dwStopFlags) override;
  HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) override;
  HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) override;
  HRESULT STDMETHODCALLTYPE SetRate(double dRate) override;
  HRESULT STDMETHODCALLTYPE GetRate(double* pdRate) override;
  HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG* pllPreroll) override;

 protected:
  virtual HRESULT ChangeStart() = 0;
  virtual HRESULT ChangeStop() = 0;
  virtual HRESULT ChangeRate() = 0;

  REFERENCE_TIME m_rtDuration = 0x3FFFFFFFFFFFFFFFLL;
  REFERENCE_TIME m_rtStart = 0;
  REFERENCE_TIME m_rtStop = 0x3FFFFFFFFFFFFFFFLL;
  double m_dRateSeeking = 1.0;
  DWORD m_dwSeekingCaps = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards |
                          AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration;
  CCritSec* const m_pSeekLock;
};

}  // namespace kestrel

#endif
