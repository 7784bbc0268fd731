#include "video/pixel_format_table.h"

#include <windows.h>

#include <gtest/gtest.h>
// after windows.h
#include <uuids.h>

#include <cstring>

namespace kestrel {
namespace {

TEST(PixelFormatTable, FourRowsInOfferOrder) {
  const GUID* subtypes[] = {&MEDIASUBTYPE_UYVY, &MEDIASUBTYPE_YUY2, &MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_ARGB32};
  const OSType formats[] = {0x32767579, 0x79757673, 0x42475241, 0x42475241};
  const DWORD compression[] = {0x59565955, 0x32595559, 0, 0};
  const WORD bits[] = {16, 16, 32, 32};
  const wchar_t* names[] = {L"MEDIASUBTYPE_UYVY", L"MEDIASUBTYPE_YUY2", L"MEDIASUBTYPE_RGB32", L"MEDIASUBTYPE_ARGB32"};
  for (size_t i = 0; i < PixelFormatTable::kCount; ++i) {
    const PixelFormatEntry* row = PixelFormatTable::At(i);
    ASSERT_NE(row, nullptr);
    EXPECT_TRUE(IsEqualGUID(*row->subtype, *subtypes[i]));
    EXPECT_EQ(row->quicktime_format, formats[i]);
    EXPECT_EQ(row->bi_compression, compression[i]);
    EXPECT_EQ(row->bits_per_pixel, bits[i]);
    EXPECT_STREQ(row->log_name, names[i]);
    EXPECT_TRUE(PixelFormatTable::IsSupported(*subtypes[i]));
    EXPECT_EQ(PixelFormatTable::QuickTimeFormatOf(*subtypes[i]), formats[i]);
    EXPECT_STREQ(PixelFormatTable::LogNameOf(*subtypes[i]), names[i]);
  }
  EXPECT_EQ(PixelFormatTable::At(4), nullptr);
  EXPECT_EQ(memcmp(&compression[0], "UYVY", 4), 0);
  EXPECT_EQ(memcmp(&compression[1], "YUY2", 4), 0);
}

TEST(PixelFormatTable, LookupsOfWhatIsAbsent) {
  EXPECT_FALSE(PixelFormatTable::IsSupported(MEDIASUBTYPE_RGB24));
  EXPECT_EQ(PixelFormatTable::QuickTimeFormatOf(MEDIASUBTYPE_RGB24), 0u);
  EXPECT_STREQ(PixelFormatTable::LogNameOf(MEDIASUBTYPE_RGB24), L"Unknown");
  EXPECT_EQ(PixelFormatTable::BitsPerPixelOf(0x52474241), 0);  // 'RGBA'
  EXPECT_EQ(PixelFormatTable::BitsPerPixelOf(0x42475241), 32);
  EXPECT_EQ(PixelFormatTable::BitsPerPixelOf(0x79757673), 16);
}

TEST(IsYuvPixelFormat, TheEightYuvTypes) {
  for (OSType t :
       {0x32767579u, 0x55595659u, 0x59323131u, 0x59343131u, 0x59565539u, 0x59565955u, 0x79757673u, 0x79757675u})
    EXPECT_TRUE(IsYuvPixelFormat(t)) << std::hex << t;
  EXPECT_FALSE(IsYuvPixelFormat(0x42475241));
  EXPECT_FALSE(IsYuvPixelFormat(0));
}

}  // namespace
}  // namespace kestrel
