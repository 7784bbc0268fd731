// IAMExtendedSeeking (the Windows SDK's qnetwork.h; the mingw-w64 headers
// lack it): markers in a stream, by number from 1, with their presentation
// time in seconds and their name, and the playback speed. Players list the
// markers as chapters and seek to their times through IMediaSeeking.
#ifndef KESTREL_FILTER_EXTENDED_SEEKING_H
#define KESTREL_FILTER_EXTENDED_SEEKING_H

#include <windows.h>

#include <oaidl.h>

enum AMExtendedSeekingCapabilities {
  AM_EXSEEK_CANSEEK = 1,
  AM_EXSEEK_CANSCAN = 2,
  AM_EXSEEK_MARKERSEEK = 4,
  AM_EXSEEK_SCANWITHOUTCLOCK = 8,
  AM_EXSEEK_NOSTANDARDREPAINT = 16,
  AM_EXSEEK_BUFFERING = 32,
  AM_EXSEEK_SENDS_VIDEOFRAMEREADY = 64
};

// {FA2AA8F9-8B62-11D0-A520-000000000000}
inline constexpr IID IID_IAMExtendedSeeking = {0xfa2aa8f9, 0x8b62, 0x11d0, {0xa5, 0x20, 0, 0, 0, 0, 0, 0}};

struct IAMExtendedSeeking : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE get_ExSeekCapabilities(long* pExCapabilities) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_MarkerCount(long* pMarkerCount) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_CurrentMarker(long* pCurrentMarker) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMarkerTime(long MarkerNum, double* pMarkerTime) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMarkerName(long MarkerNum, BSTR* pbstrMarkerName) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_PlaybackSpeed(double Speed) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_PlaybackSpeed(double* pSpeed) = 0;
};

#endif
