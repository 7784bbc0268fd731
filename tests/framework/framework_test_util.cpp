#include "framework_test_util.h"

#include <dshow.h>
#include <mmreg.h>

namespace kestrel::test {

CMediaType VideoType(const GUID& subtype, LONG width) {
  CMediaType mt;
  mt.SetType(MEDIATYPE_Video);
  mt.SetSubtype(subtype);
  mt.SetFormatType(FORMAT_VideoInfo);
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
  vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih->bmiHeader.biWidth = width;
  vih->bmiHeader.biHeight = 16;
  vih->bmiHeader.biPlanes = 1;
  vih->bmiHeader.biBitCount = 32;
  vih->bmiHeader.biSizeImage = width * 16 * 4;
  mt.SetSampleSize(vih->bmiHeader.biSizeImage);
  return mt;
}

CMediaType AudioType(WORD channels) {
  CMediaType mt;
  mt.SetType(MEDIATYPE_Audio);
  mt.SetSubtype(MEDIASUBTYPE_PCM);
  mt.SetFormatType(FORMAT_WaveFormatEx);
  auto* wfx = reinterpret_cast<WAVEFORMATEX*>(mt.AllocFormatBuffer(sizeof(WAVEFORMATEX)));
  wfx->wFormatTag = WAVE_FORMAT_PCM;
  wfx->nChannels = channels;
  wfx->nSamplesPerSec = 44100;
  wfx->wBitsPerSample = 16;
  wfx->nBlockAlign = static_cast<WORD>(channels * 2);
  wfx->nAvgBytesPerSec = 44100 * wfx->nBlockAlign;
  mt.SetSampleSize(wfx->nBlockAlign);
  return mt;
}

std::string SubtypeName(const GUID& subtype) {
  if (subtype == MEDIASUBTYPE_RGB32) return "RGB32";
  if (subtype == MEDIASUBTYPE_RGB24) return "RGB24";
  if (subtype == MEDIASUBTYPE_RGB565) return "RGB565";
  if (subtype == MEDIASUBTYPE_RGB555) return "RGB555";
  if (subtype == MEDIASUBTYPE_YUY2) return "YUY2";
  if (subtype == MEDIASUBTYPE_UYVY) return "UYVY";
  if (subtype == MEDIASUBTYPE_PCM) return "PCM";
  if (subtype == GUID_NULL) return "null";
  return "other";
}

}  // namespace kestrel::test
