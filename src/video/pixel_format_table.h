// The four video output formats: DirectShow subtype, log name, biCompression,
// QuickTime pixel format and depth. A row's position is the media-type
// position the video pin offers.
#ifndef KESTREL_VIDEO_PIXEL_FORMAT_TABLE_H
#define KESTREL_VIDEO_PIXEL_FORMAT_TABLE_H

#include <windows.h>

#include <cstddef>

#include "qtmedia.h"

namespace kestrel {

struct PixelFormatEntry {
  const GUID* subtype;
  const wchar_t* log_name;
  DWORD bi_compression;
  OSType quicktime_format;
  WORD bits_per_pixel;
};

class PixelFormatTable {
 public:
  static constexpr size_t kCount = 4;
  // Row at position; null past the last.
  static const PixelFormatEntry* At(size_t position);
  static bool IsSupported(const GUID& subtype);
  static OSType QuickTimeFormatOf(const GUID& subtype);  // 0 when absent
  static const wchar_t* LogNameOf(const GUID& subtype);  // "Unknown" when absent
  static WORD BitsPerPixelOf(OSType quicktime_format);   // 0 when absent
};

// YUV pixel buffers are never flipped.
bool IsYuvPixelFormat(OSType quicktime_format);

}  // namespace kestrel

#endif
