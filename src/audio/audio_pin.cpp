#include "audio/audio_pin.h"

#include <mmreg.h>
#include <uuids.h>
#include <vfwmsgs.h>

namespace kestrel {

CAudioPin::CAudioPin(HRESULT* phr, CSource* pFilter, AudioExtractor* pAudio, REFERENCE_TIME rtDuration)
    : CSeekableStream(L"Audio pin", phr, pFilter, L"Audio", rtDuration), m_pAudio(pAudio) {}

CAudioPin::~CAudioPin() { EndWorker(); }

void CAudioPin::Retire() {
  CAutoLock lock(&m_cPinLock);
  m_pAudio = nullptr;
}

HRESULT CAudioPin::ChangeSource(AudioExtractor* pAudio) {
  CAutoLock state(CSourceStream::m_pLock);
  const bool streaming = ThreadExists();
  if (streaming) {
    // As a seek: nothing the worker holds is lost, and it starts again.
    DeliverBeginFlush();
    Stop();
  }
  HRESULT hr;
  {
    CAutoLock lock(&m_cPinLock);
    const REFERENCE_TIME position = PlayingPosition();
    m_pAudio = pAudio;
    hr = pAudio ? pAudio->Seek(position) : S_OK;
  }
  IncrementTypeVersion();
  if (streaming) {
    DeliverEndFlush();
    Run();
  }
  return hr;
}

int CAudioPin::OfferedTypes() {
  WAVEFORMATEX wfx = {};
  if (!m_pAudio || FAILED(m_pAudio->GetWaveFormat(&wfx))) return 0;
  // A session that proposed no rate left no format: nothing to offer, so the
  // pin does not connect (a zero-sized buffer would only fail the pause).
  if (wfx.nSamplesPerSec == 0 || wfx.nBlockAlign == 0) return 0;
  return m_pAudio->OffersExtensible() ? 2 : 1;
}

HRESULT CAudioPin::MediaTypeOf(const BYTE* format, ULONG length, WORD block_align, CMediaType* pmt) {
  HRESULT hr = pmt->SetFormat(format, length);
  if (FAILED(hr)) return hr;
  // PCM whichever the format block: the extensible one names its PCM in
  // its SubFormat.
  pmt->SetType(MEDIATYPE_Audio);
  pmt->SetSubtype(MEDIASUBTYPE_PCM);
  pmt->SetFormatType(FORMAT_WaveFormatEx);
  pmt->SetTemporalCompression(FALSE);
  pmt->SetSampleSize(block_align);
  return S_OK;
}

HRESULT CAudioPin::GetMediaType(int iPosition, CMediaType* pmt) {
  if (!pmt) return E_POINTER;
  if (iPosition < 0) return E_INVALIDARG;
  CAutoLock lock(m_pLock);
  const int offered = OfferedTypes();
  if (offered == 0) return iPosition == 0 ? E_FAIL : VFW_S_NO_MORE_ITEMS;
  if (iPosition >= offered) return VFW_S_NO_MORE_ITEMS;
  if (offered == 2 && iPosition == 0) {
    WAVEFORMATEXTENSIBLE wfx = {};
    HRESULT hr = m_pAudio->GetWaveFormatExtensible(&wfx);
    if (FAILED(hr)) return hr;
    return MediaTypeOf(reinterpret_cast<const BYTE*>(&wfx), sizeof(wfx), wfx.Format.nBlockAlign, pmt);
  }
  WAVEFORMATEX wfx = {};
  m_pAudio->GetWaveFormat(&wfx);
  wfx.cbSize = 0;
  return MediaTypeOf(reinterpret_cast<const BYTE*>(&wfx), sizeof(wfx), wfx.nBlockAlign, pmt);
}

HRESULT CAudioPin::CheckMediaType(const CMediaType* pmt) {
  if (!pmt) return E_POINTER;
  CAutoLock lock(m_pLock);
  for (int i = 0;; ++i) {
    CMediaType mine;
    if (GetMediaType(i, &mine) != S_OK) return E_FAIL;
    if (mine == *pmt) return S_OK;
  }
}

HRESULT CAudioPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) {
  CAutoLock lock(m_pLock);
  if (!pAlloc || !pRequest) return E_POINTER;
  if (!m_mt.Format() || m_mt.FormatLength() < sizeof(WAVEFORMATEX)) return E_FAIL;
  const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(m_mt.Format());
  if (wfx->nAvgBytesPerSec == 0) return E_FAIL;
  pRequest->cBuffers = 1;
  pRequest->cbBuffer = static_cast<long>(wfx->nAvgBytesPerSec);  // one second
  ALLOCATOR_PROPERTIES actual = {};
  HRESULT hr = pAlloc->SetProperties(pRequest, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < pRequest->cbBuffer ? E_FAIL : S_OK;
}

HRESULT CAudioPin::FillBuffer(IMediaSample* pSample) {
  if (!pSample) return E_POINTER;
  CAutoLock lock(&m_cPinLock);
  if (!m_pAudio) return E_FAIL;
  BYTE* data = nullptr;
  if (FAILED(pSample->GetPointer(&data)) || !data) return E_FAIL;
  const long size = pSample->GetSize();

  uint32_t bytes = 0;
  REFERENCE_TIME start = 0, stop = 0;
  HRESULT hr = m_pAudio->Fill(data, size > 0 ? static_cast<uint32_t>(size) : 0, &bytes, &start, &stop);
  if (hr == S_FALSE) return S_FALSE;
  if (hr != S_OK) return E_FAIL;
  if (!ToSegmentTimes(&start, &stop)) return S_FALSE;

  pSample->SetTime(&start, &stop);
  pSample->SetSyncPoint(TRUE);
  // Only the first sample after a (re)start is a sync point.
  const BOOL discontinuity = m_bDiscontinuity;
  hr = pSample->SetActualDataLength(static_cast<long>(bytes));
  if (SUCCEEDED(hr)) hr = pSample->SetPreroll(FALSE);
  if (SUCCEEDED(hr)) hr = pSample->SetMediaType(nullptr);
  if (SUCCEEDED(hr)) hr = pSample->SetDiscontinuity(discontinuity);
  if (SUCCEEDED(hr)) hr = pSample->SetSyncPoint(discontinuity);
  if (FAILED(hr)) return hr;
  TakeDiscontinuity();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CAudioPin::Notify(IBaseFilter*, Quality) { return E_FAIL; }

HRESULT CAudioPin::MoveTo(REFERENCE_TIME rtStart) { return m_pAudio ? m_pAudio->Seek(rtStart) : S_OK; }

}  // namespace kestrel
