// CKestrel's IQTControl and IQTInfo: the decoding settings of the current
// video decoder and the facts of the loaded movie. Every method runs under
// the filter's state lock; text is allocated with SysAllocString.
#include <ole2.h>

#include "filter/kestrel.h"

namespace kestrel {

// ---- IQTControl: E_FAIL without a movie session or before the video pin
// has built its decoder.

HRESULT STDMETHODCALLTYPE CKestrel::SetVideoQuality(QT_VIDEO_QUALITY eQuality) {
  CAutoLock lock(&m_cStateLock);
  if (!m_pMovie) return E_FAIL;
  return m_pMovie->SetDecodeAccuracy(static_cast<int32_t>(eQuality));
}

HRESULT STDMETHODCALLTYPE CKestrel::GetVideoQuality(QT_VIDEO_QUALITY* peQuality) {
  CAutoLock lock(&m_cStateLock);
  if (!m_pMovie) return E_FAIL;
  return m_pMovie->GetDecodeAccuracy(reinterpret_cast<int32_t*>(peQuality));
}

HRESULT STDMETHODCALLTYPE CKestrel::SetVideoFieldMode(QT_VIDEO_FIELDMODE eFieldMode) {
  CAutoLock lock(&m_cStateLock);
  if (!m_pMovie) return E_FAIL;
  return m_pMovie->SetFieldMode(static_cast<int32_t>(eFieldMode));
}

HRESULT STDMETHODCALLTYPE CKestrel::GetVideoFieldMode(QT_VIDEO_FIELDMODE* peFieldMode) {
  CAutoLock lock(&m_cStateLock);
  if (!m_pMovie) return E_FAIL;
  return m_pMovie->GetFieldMode(reinterpret_cast<int32_t*>(peFieldMode));
}

// ---- IQTInfo: S_FALSE when what is asked about is absent (no file, no
// such track, no time-code track).

HRESULT STDMETHODCALLTYPE CKestrel::GetVideoInfo(BSTR* pbstrCodec, ULONG* pnWidth, ULONG* pnHeight, ULONG* pnDepth,
                                                 double* pdFrameRate, ULONG* pdwFrameCount, double* pdDuration) {
  if (!pbstrCodec || !pnWidth || !pnHeight || !pnDepth || !pdFrameRate || !pdwFrameCount || !pdDuration)
    return E_POINTER;
  CAutoLock lock(&m_cStateLock);
  int32_t has_video = 0;
  if (!m_pMovie || FAILED(m_pMovie->HasVideo(&has_video)) || !has_video) return S_FALSE;

  int64_t duration = 0;
  uint32_t frames = 0;
  wchar_t codec[MovieSession::kCodecNameChars] = {};
  int32_t width = 0, height = 0, depth = 0;
  double rate = 0.0;
  if (FAILED(m_pMovie->GetDuration(&duration)) || FAILED(m_pMovie->GetFrameCount(&frames)) ||
      FAILED(m_pMovie->GetCodecName(codec)) || FAILED(m_pMovie->GetDimensions(&width, &height)) ||
      FAILED(m_pMovie->GetDepth(&depth)) || FAILED(m_pMovie->GetFrameRate(&rate)))
    return E_FAIL;
  BSTR text = SysAllocString(codec);
  if (!text) return E_OUTOFMEMORY;
  *pbstrCodec = text;
  *pnWidth = static_cast<ULONG>(width);
  *pnHeight = static_cast<ULONG>(height);
  *pnDepth = static_cast<ULONG>(depth);
  *pdFrameRate = rate;
  *pdwFrameCount = frames;
  *pdDuration = static_cast<double>(duration) / 10000000.0;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CKestrel::GetAudioInfo(BSTR* pbstrCodec, BSTR* pbstrLayout, ULONG* pnSampleRate) {
  if (!pbstrCodec || !pbstrLayout || !pnSampleRate) return E_POINTER;
  CAutoLock lock(&m_cStateLock);
  int32_t has_audio = 0;
  if (!m_pAudio || FAILED(m_pAudio->HasAudio(&has_audio)) || !has_audio) return S_FALSE;
  WAVEFORMATEX format = {};
  if (FAILED(m_pAudio->GetWaveFormat(&format))) return E_FAIL;
  BSTR codec = SysAllocString(m_pAudio->FormatName);
  BSTR layout = SysAllocString(m_pAudio->ChannelLayoutName);
  if (!codec || !layout) {
    SysFreeString(codec);
    SysFreeString(layout);
    return E_OUTOFMEMORY;
  }
  *pbstrCodec = codec;
  *pbstrLayout = layout;
  *pnSampleRate = format.nSamplesPerSec;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CKestrel::GetUserDataCount(ULONG* pdwCount) {
  if (!pdwCount) return E_POINTER;
  CAutoLock lock(&m_cStateLock);
  *pdwCount = 0;
  if (!m_pUserData) return S_FALSE;
  *pdwCount = static_cast<ULONG>(m_pUserData->GetEntryCount());
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CKestrel::GetUserDataName(ULONG dwIndex, BSTR* bstrName) {
  if (!bstrName) return E_POINTER;
  CAutoLock lock(&m_cStateLock);
  if (!m_pUserData) return S_FALSE;
  if (dwIndex >= static_cast<ULONG>(UserDataCatalog::kEntryCount)) return E_INVALIDARG;
  wchar_t name[UserDataCatalog::kTextChars] = {};
  HRESULT hr = m_pUserData->GetEntryName(static_cast<int>(dwIndex), name);
  if (FAILED(hr)) return hr;
  *bstrName = SysAllocString(name);
  return *bstrName ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE CKestrel::GetUserDataValue(ULONG dwIndex, BSTR* bstrValue) {
  if (!bstrValue) return E_POINTER;
  CAutoLock lock(&m_cStateLock);
  if (!m_pUserData) return S_FALSE;
  if (dwIndex >= static_cast<ULONG>(UserDataCatalog::kEntryCount)) return E_INVALIDARG;
  wchar_t value[UserDataCatalog::kTextChars] = {};
  HRESULT hr = m_pUserData->GetEntryValue(static_cast<int>(dwIndex), value);
  if (FAILED(hr)) return hr;
  *bstrValue = SysAllocString(value);
  return *bstrValue ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE CKestrel::GetTimeCode(LONG* pbDropFrame, BYTE* pHours, BYTE* pMinutes, BYTE* pSeconds,
                                                BYTE* pFrames) {
  if (pbDropFrame) *pbDropFrame = 0;
  for (BYTE* p : {pHours, pMinutes, pSeconds, pFrames})
    if (p) *p = 0;
  CAutoLock lock(&m_cStateLock);
  if (!m_pVideoPin || !m_pMovie) return E_FAIL;
  int32_t drop_frame = 0;
  HRESULT hr = m_pMovie->GetTimeCode(pbDropFrame ? &drop_frame : nullptr, pHours, pMinutes, pSeconds, pFrames);
  if (hr == S_OK && pbDropFrame) *pbDropFrame = drop_frame;
  return hr;
}

}  // namespace kestrel
