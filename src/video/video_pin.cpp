#include "video/video_pin.h"

#include <dvdmedia.h>
#include <uuids.h>
#include <vfwmsgs.h>

#include <algorithm>
#include <cstring>

#include "base/log.h"
#include "video/pixel_format_table.h"

namespace kestrel {
namespace {

// The VIDEOINFOHEADER of a type, or null when the type has none (another
// format type, or a block too short to hold one).
const VIDEOINFOHEADER* VideoInfoOf(const AM_MEDIA_TYPE& mt) {
  if (mt.formattype != FORMAT_VideoInfo || !mt.pbFormat || mt.cbFormat < sizeof(VIDEOINFOHEADER)) return nullptr;
  return reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
}

// Bytes per row of the downstream buffer: no rounding to 4 bytes.
int32_t StrideOf(const VIDEOINFOHEADER& vih) { return (vih.bmiHeader.biBitCount / 8) * vih.bmiHeader.biWidth; }

// Bottom-up rows unless the height is negative.
int32_t FlipOf(const VIDEOINFOHEADER& vih) { return vih.bmiHeader.biHeight >= 0 ? 1 : 0; }

// Rows rounded up to whole 4-byte units, times the rows.
DWORD ImageBytes(LONG width, WORD bits, LONG height) {
  int64_t row = ((static_cast<int64_t>(width) * bits + 31) / 32) * 4;
  int64_t bytes = row * (height < 0 ? -static_cast<int64_t>(height) : height);
  return bytes < 0 || bytes > 0xFFFFFFFFLL ? 0 : static_cast<DWORD>(bytes);
}

}  // namespace

CVideoPin::CVideoPin(HRESULT* phr, CSource* pFilter, MovieSession* pMovie, REFERENCE_TIME rtDuration)
    : CSeekableStream(L"Video pin", phr, pFilter, L"Video", rtDuration), m_pMovie(pMovie) {
  HRESULT hr = m_timeline.Load(pMovie, rtDuration);
  if (FAILED(hr)) {
    if (phr && SUCCEEDED(*phr)) *phr = hr;
    return;
  }
  // The seeking range is where the video lies on the movie's timeline.
  m_rtDuration = m_timeline.Duration();
  m_rtStop = m_rtDuration;
}

CVideoPin::~CVideoPin() { EndWorker(); }

void CVideoPin::Retire() {
  {
    CAutoLock lock(&m_cPinLock);
    m_pMovie = nullptr;
    m_timeline.Clear();
  }
  ReleaseStreamingResources();
}

HRESULT CVideoPin::GetMediaType(int iPosition, CMediaType* pmt) {
  CAutoLock lock(m_pLock);
  if (!pmt) return E_POINTER;
  if (iPosition < 0) return E_INVALIDARG;
  const PixelFormatEntry* row = PixelFormatTable::At(static_cast<size_t>(iPosition));
  if (!row) return VFW_S_NO_MORE_ITEMS;
  if (!m_pMovie) return E_FAIL;

  int32_t width = 0, height = 0;
  int64_t duration = 0;
  uint32_t frames = 0;
  // The size of the pictures the decoder makes: a size a file merely
  // declares allocates nothing.
  if (FAILED(m_pMovie->GetPictureSize(&width, &height)) || FAILED(m_pMovie->GetDuration(&duration)) ||
      FAILED(m_pMovie->GetFrameCount(&frames)))
    return E_FAIL;

  BYTE* block = pmt->AllocFormatBuffer(kFormatBytes);
  if (!block) return E_OUTOFMEMORY;
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(block);
  vih->rcSource = {0, 0, width, height};
  vih->rcTarget = {0, 0, width, height};
  vih->AvgTimePerFrame = frames > 0 ? duration / static_cast<int64_t>(frames) : 0;
  BITMAPINFOHEADER& bih = vih->bmiHeader;
  bih.biSize = sizeof(BITMAPINFOHEADER);
  bih.biWidth = width;
  bih.biHeight = height;
  bih.biPlanes = 1;
  bih.biBitCount = row->bits_per_pixel;
  bih.biCompression = row->bi_compression;
  bih.biSizeImage = ImageBytes(width, row->bits_per_pixel, height);

  pmt->SetType(MEDIATYPE_Video);
  pmt->SetSubtype(*row->subtype);
  pmt->SetFormatType(FORMAT_VideoInfo);
  pmt->SetTemporalCompression(FALSE);
  pmt->SetSampleSize(bih.biSizeImage);
  return S_OK;
}

HRESULT CVideoPin::CheckMediaType(const CMediaType* pmt) {
  if (!pmt) return E_POINTER;
  if (pmt->majortype != MEDIATYPE_Video || !pmt->bFixedSizeSamples) return E_INVALIDARG;
  WriteLog(L"");
  WriteLog(L"CVideoPin::CheckMediaType() is called with %s.", PixelFormatTable::LogNameOf(pmt->subtype));
  if (PixelFormatTable::IsSupported(pmt->subtype)) {
    WriteLog(L"CVideoPin::CheckMediaType() is returning S_OK.");
    return S_OK;
  }
  WriteLog(L"CVideoPin::CheckMediaType() is returning E_INVALIDARG.");
  return E_INVALIDARG;
}

HRESULT CVideoPin::SetUpDecoder(const GUID& subtype, const VIDEOINFOHEADER& format, const wchar_t* operation) {
  HRESULT hr = m_pMovie ? m_pMovie->CreateDecoder(PixelFormatTable::QuickTimeFormatOf(subtype)) : E_FAIL;
  if (FAILED(hr)) {
    WriteLog(L"CVideoPin::%s() is returning 0x%x.", operation, static_cast<unsigned>(hr));
    return hr;
  }
  int32_t width = 0, height = 0;
  m_pMovie->GetPictureSize(&width, &height);
  m_rows = height;
  m_stride = StrideOf(format);
  m_pMovie->SetStride(m_stride);
  WriteLog(L"Setting stride to %d.", m_stride);
  int32_t flip = FlipOf(format);
  m_pMovie->SetFlip(flip);
  WriteLog(L"Setting flip to %d.", flip);
  WriteLog(L"CVideoPin::%s() is returning S_OK.", operation);
  return S_OK;
}

HRESULT CVideoPin::SetMediaType(const CMediaType* pmt) {
  CAutoLock lock(m_pLock);
  HRESULT hr = CSourceStream::SetMediaType(pmt);
  if (FAILED(hr)) return hr;
  WriteLog(L"");
  WriteLog(L"CVideoPin::SetMediaType() is called with %s.", PixelFormatTable::LogNameOf(pmt->subtype));
  // A block that is not a whole VIDEOINFOHEADER counts as none.
  const VIDEOINFOHEADER* vih = VideoInfoOf(*pmt);
  if (!vih) return E_UNEXPECTED;
  if (!PixelFormatTable::IsSupported(pmt->subtype)) {
    WriteLog(L"CVideoPin::SetMediaType() is returning E_INVALIDARG.");
    return E_INVALIDARG;
  }
  WriteLog(L"Width: %d, Height: %d, Depth: %d.", static_cast<int>(vih->bmiHeader.biWidth),
           static_cast<int>(vih->bmiHeader.biHeight), static_cast<int>(vih->bmiHeader.biBitCount));
  CAutoLock pin(&m_cPinLock);
  m_subtype = pmt->subtype;
  return SetUpDecoder(pmt->subtype, *vih, L"SetMediaType");
}

HRESULT CVideoPin::BreakConnect() {
  {
    CAutoLock pin(&m_cPinLock);
    m_subtype = GUID_NULL;
  }
  return CSeekableStream::BreakConnect();
}

// Under the pin lock, not the filter's: a renderer asks from inside its
// allocator's GetBuffer, on the worker, while a stop or a seek may hold the
// filter's lock and wait for that worker. The pin lock is never held while
// the worker is waited for, and it keeps the decoder, the stride and the
// connection's subtype (m_subtype) whole.
HRESULT STDMETHODCALLTYPE CVideoPin::QueryAccept(const AM_MEDIA_TYPE* pmt) {
  CAutoLock lock(&m_cPinLock);
  if (!pmt) return E_POINTER;
  const VIDEOINFOHEADER* vih = VideoInfoOf(*pmt);
  if (pmt->majortype != MEDIATYPE_Video || !vih) return E_INVALIDARG;
  WriteLog(L"");
  WriteLog(L"CVideoPin::QueryAccept() is called with stride %d and %s. (Our pin MediaType is %s).",
           static_cast<int>(vih->bmiHeader.biWidth), PixelFormatTable::LogNameOf(pmt->subtype),
           PixelFormatTable::LogNameOf(m_subtype));
  if (!PixelFormatTable::IsSupported(pmt->subtype)) {
    WriteLog(L"The provided MediaType is not supported, rejecting it.");
    WriteLog(L"CVideoPin::QueryAccept() is returning S_FALSE.");
    return S_FALSE;
  }
  if (pmt->subtype != m_subtype) {
    WriteLog(L"The provided MediaType is different from our pin, rejecting it.");
    WriteLog(L"CVideoPin::QueryAccept() is returning S_FALSE.");
    return S_FALSE;
  }
  WriteLog(L"The provided MediaType is the same as our pin, accepting it.");
  // The worker may be filling: the session's lock orders the new decoder
  // and stride between two frames.
  return SetUpDecoder(pmt->subtype, *vih, L"QueryAccept");
}

HRESULT CVideoPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) {
  CAutoLock lock(m_pLock);
  if (!pAlloc || !pRequest) return E_POINTER;
  const VIDEOINFOHEADER* vih = VideoInfoOf(m_mt);
  if (!vih) return E_FAIL;
  const BITMAPINFOHEADER& bih = vih->bmiHeader;
  // biSizeImage may be 0 for uncompressed RGB: the frame's size then.
  DWORD frame = bih.biSizeImage ? bih.biSizeImage : ImageBytes(bih.biWidth, bih.biBitCount, bih.biHeight);
  pRequest->cBuffers = 1;
  pRequest->cbBuffer = static_cast<long>(std::min<DWORD>(frame, 0x7FFFFFFF));
  ALLOCATOR_PROPERTIES actual = {};
  HRESULT hr = pAlloc->SetProperties(pRequest, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < pRequest->cbBuffer ? E_FAIL : S_OK;
}

HRESULT CVideoPin::FillBuffer(IMediaSample* pSample) {
  if (!pSample) return E_POINTER;
  CAutoLock lock(&m_cPinLock);
  if (!m_pMovie) return E_FAIL;
  BYTE* data = nullptr;
  if (FAILED(pSample->GetPointer(&data)) || !data) return E_FAIL;
  const long size = pSample->GetSize();

  // A buffer that comes with a new format follows its row length.
  AM_MEDIA_TYPE* pmt = nullptr;
  if (pSample->GetMediaType(&pmt) == S_OK && pmt) {
    if (const VIDEOINFOHEADER* vih = VideoInfoOf(*pmt)) {
      m_stride = StrideOf(*vih);
      m_pMovie->SetStride(m_stride);
    }
    DeleteMediaType(pmt);
  }

  REFERENCE_TIME start = 0, stop = 0;
  HRESULT hr = m_timeline.NextFrame(m_pMovie, data, size > 0 ? static_cast<size_t>(size) : 0, &start, &stop);
  if (hr == S_FALSE) return S_FALSE;
  if (hr != S_OK) return E_FAIL;
  if (!ToSegmentTimes(&start, &stop)) return S_FALSE;

  pSample->SetTime(&start, &stop);
  pSample->SetSyncPoint(TRUE);
  pSample->SetDiscontinuity(TakeDiscontinuity());
  // What the frame fills of the buffer: its rows at the buffer's stride.
  int64_t bytes = static_cast<int64_t>(m_stride > 0 ? m_stride : 0) * (m_rows > 0 ? m_rows : 0);
  pSample->SetActualDataLength(static_cast<long>(std::min<int64_t>(bytes, size)));
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CVideoPin::Notify(IBaseFilter*, Quality q) {
  CAutoLock lock(&m_cPinLock);
  if (q.Late > 0 && m_pMovie) m_pMovie->SkipAhead(q.Late);
  return S_OK;
}

HRESULT CVideoPin::MoveTo(REFERENCE_TIME rtStart) { return m_pMovie ? m_timeline.Seek(m_pMovie, rtStart) : S_OK; }

}  // namespace kestrel
