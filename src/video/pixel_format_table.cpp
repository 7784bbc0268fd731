#include "video/pixel_format_table.h"

#include <uuids.h>

namespace kestrel {
namespace {

const PixelFormatEntry kRows[PixelFormatTable::kCount] = {
    {&MEDIASUBTYPE_UYVY, L"MEDIASUBTYPE_UYVY", 0x59565955, 0x32767579, 16},  // UYVY, '2vuy'
    {&MEDIASUBTYPE_YUY2, L"MEDIASUBTYPE_YUY2", 0x32595559, 0x79757673, 16},  // YUY2, 'yuvs'
    {&MEDIASUBTYPE_RGB32, L"MEDIASUBTYPE_RGB32", BI_RGB, 0x42475241, 32},    // 'BGRA'
    {&MEDIASUBTYPE_ARGB32, L"MEDIASUBTYPE_ARGB32", BI_RGB, 0x42475241, 32},  // 'BGRA'
};

const PixelFormatEntry* Find(const GUID& subtype) {
  for (const PixelFormatEntry& row : kRows)
    if (IsEqualGUID(*row.subtype, subtype)) return &row;
  return nullptr;
}

}  // namespace

const PixelFormatEntry* PixelFormatTable::At(size_t position) { return position < kCount ? &kRows[position] : nullptr; }

bool PixelFormatTable::IsSupported(const GUID& subtype) { return Find(subtype) != nullptr; }

OSType PixelFormatTable::QuickTimeFormatOf(const GUID& subtype) {
  const PixelFormatEntry* row = Find(subtype);
  return row ? row->quicktime_format : 0;
}

const wchar_t* PixelFormatTable::LogNameOf(const GUID& subtype) {
  const PixelFormatEntry* row = Find(subtype);
  return row ? row->log_name : L"Unknown";
}

WORD PixelFormatTable::BitsPerPixelOf(OSType quicktime_format) {
  for (const PixelFormatEntry& row : kRows)
    if (row.quicktime_format == quicktime_format) return row.bits_per_pixel;
  return 0;
}

bool IsYuvPixelFormat(OSType quicktime_format) {
  switch (quicktime_format) {
    case 0x32767579:  // '2vuy'
    case 0x55595659:  // 'UYVY'
    case 0x59323131:  // 'Y211'
    case 0x59343131:  // 'Y411'
    case 0x59565539:  // 'YVU9'
    case 0x59565955:  // 'YVYU'
    case 0x79757673:  // 'yuvs'
    case 0x79757675:  // 'yuvu'
      return true;
    default:
      return false;
  }
}

}  // namespace kestrel
