#include "page/screen_shot.h"

#include <wincodec.h>

#include <vector>

#include "framework/com_ptr.h"

namespace kestrel::page {
namespace {

// Screen DC and a top-down 24-bit DIB section of the area's size.
class ScreenCopy {
 public:
  ScreenCopy(int width, int height) : m_width(width), m_height(height) {}
  ~ScreenCopy() {
    if (m_bitmap) DeleteObject(m_bitmap);
    if (m_memory) DeleteDC(m_memory);
    if (m_screen) ReleaseDC(nullptr, m_screen);
  }
  ScreenCopy(const ScreenCopy&) = delete;
  ScreenCopy& operator=(const ScreenCopy&) = delete;

  HRESULT Take(int x, int y) {
    m_screen = GetDC(nullptr);
    m_memory = m_screen ? CreateCompatibleDC(m_screen) : nullptr;
    if (!m_memory) return E_FAIL;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = m_width;
    info.bmiHeader.biHeight = -m_height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    m_bitmap = CreateDIBSection(m_memory, &info, DIB_RGB_COLORS, &m_bits, nullptr, 0);
    if (!m_bitmap) return E_OUTOFMEMORY;
    HGDIOBJ old = SelectObject(m_memory, m_bitmap);
    BOOL copied = BitBlt(m_memory, 0, 0, m_width, m_height, m_screen, x, y, SRCCOPY);
    SelectObject(m_memory, old);
    GdiFlush();
    return copied ? S_OK : E_FAIL;
  }

  UINT Stride() const { return ((static_cast<UINT>(m_width) * 3 + 3) & ~3u); }
  BYTE* Bits() const { return static_cast<BYTE*>(m_bits); }

 private:
  const int m_width, m_height;
  HDC m_screen = nullptr;
  HDC m_memory = nullptr;
  HBITMAP m_bitmap = nullptr;
  void* m_bits = nullptr;
};

}  // namespace

HRESULT SaveScreenPng(const RECT& area, const wchar_t* path) {
  const int width = area.right - area.left, height = area.bottom - area.top;
  if (width <= 0 || height <= 0 || !path) return E_INVALIDARG;
  ScreenCopy copy(width, height);
  HRESULT hr = copy.Take(area.left, area.top);
  if (FAILED(hr)) return hr;

  ComPtr<IWICImagingFactory> factory;
  hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                        factory.ReleaseAndGetVoidAddress());
  if (FAILED(hr)) return hr;
  ComPtr<IWICStream> stream;
  if (FAILED(hr = factory->CreateStream(stream.ReleaseAndGetAddressOf()))) return hr;
  if (FAILED(hr = stream->InitializeFromFilename(path, GENERIC_WRITE))) return hr;
  ComPtr<IWICBitmapEncoder> encoder;
  if (FAILED(hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.ReleaseAndGetAddressOf())))
    return hr;
  if (FAILED(hr = encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache))) return hr;
  ComPtr<IWICBitmapFrameEncode> frame;
  ComPtr<IPropertyBag2> options;
  if (FAILED(hr = encoder->CreateNewFrame(frame.ReleaseAndGetAddressOf(), options.ReleaseAndGetAddressOf()))) return hr;
  if (FAILED(hr = frame->Initialize(options.Get()))) return hr;
  if (FAILED(hr = frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height)))) return hr;
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  if (FAILED(hr = frame->SetPixelFormat(&format))) return hr;
  if (format != GUID_WICPixelFormat24bppBGR) return E_FAIL;
  const UINT stride = copy.Stride();
  if (FAILED(
          hr = frame->WritePixels(static_cast<UINT>(height), stride, stride * static_cast<UINT>(height), copy.Bits())))
    return hr;
  if (FAILED(hr = frame->Commit())) return hr;
  return encoder->Commit();
}

}  // namespace kestrel::page
