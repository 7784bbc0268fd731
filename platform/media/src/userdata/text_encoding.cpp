#include "userdata/text_encoding.h"

namespace qtm {
namespace {

// Mac OS Roman, bytes 0x80 to 0xFF (Apple's mapping, with 0xDB as the euro).
constexpr uint16_t kMacRomanHigh[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5,
    0x00E7, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3, 0x00F2, 0x00F4,
    0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6,
    0x00DF, 0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8, 0x221E, 0x00B1, 0x2264, 0x2265,
    0x00A5, 0x00B5, 0x2202, 0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8, 0x00BF,
    0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB, 0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5,
    0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA, 0x00FF, 0x0178, 0x2044,
    0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02, 0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4, 0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9,
    0x0131, 0x02C6, 0x02DC, 0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7};

// Windows-1252, bytes 0x80 to 0x9F. The five bytes the code page leaves
// undefined stand for the C1 controls of the same value, as Windows maps them.
constexpr uint16_t kWindows1252C1[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                         0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                         0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                         0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr uint32_t kInvalid = 0xFFFFFFFF;

// One UTF-8 sequence at bytes[*i]; advances *i. kInvalid for a malformed,
// overlong or surrogate sequence (one byte is consumed then).
uint32_t NextUtf8(const uint8_t* bytes, size_t size, size_t* i) {
  uint8_t lead = bytes[(*i)++];
  if (lead < 0x80) return lead;
  int extra = 0;
  uint32_t cp = 0, min = 0;
  if ((lead & 0xE0) == 0xC0)
    extra = 1, cp = lead & 0x1F, min = 0x80;
  else if ((lead & 0xF0) == 0xE0)
    extra = 2, cp = lead & 0x0F, min = 0x800;
  else if ((lead & 0xF8) == 0xF0)
    extra = 3, cp = lead & 0x07, min = 0x10000;
  else
    return kInvalid;
  size_t j = *i;
  for (int k = 0; k < extra; ++k, ++j) {
    if (j >= size || (bytes[j] & 0xC0) != 0x80) return kInvalid;
    cp = (cp << 6) | (bytes[j] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kInvalid;
  *i = j;
  return cp;
}

uint16_t Unit16(const uint8_t* p, bool big_endian) {
  return big_endian ? static_cast<uint16_t>(p[0] << 8 | p[1]) : static_cast<uint16_t>(p[1] << 8 | p[0]);
}

}  // namespace

char Windows1252Of(uint32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (int k = 0; k < 32; ++k)
    if (kWindows1252C1[k] == cp) return static_cast<char>(0x80 + k);
  return '?';
}

std::string ToWindows1252(const uint8_t* bytes, size_t size, TextEncoding encoding) {
  std::string out;
  out.reserve(size);
  switch (encoding) {
    case TextEncoding::kMacRoman:
      for (size_t i = 0; i < size; ++i)
        out.push_back(bytes[i] < 0x80 ? static_cast<char>(bytes[i]) : Windows1252Of(kMacRomanHigh[bytes[i] - 0x80]));
      break;
    case TextEncoding::kUtf8: {
      size_t i = 0;
      if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) i = 3;
      while (i < size) {
        uint32_t cp = NextUtf8(bytes, size, &i);
        out.push_back(cp == kInvalid ? '?' : Windows1252Of(cp));
      }
      break;
    }
    case TextEncoding::kUtf16BigEndian:
    case TextEncoding::kUtf16LittleEndian: {
      bool big = encoding == TextEncoding::kUtf16BigEndian;
      size_t i = 0;
      if (size >= 2 && Unit16(bytes, big) == 0xFEFF) i = 2;
      for (; i + 1 < size; i += 2) {
        uint32_t unit = Unit16(bytes + i, big);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < size) {
          uint32_t low = Unit16(bytes + i + 2, big);
          if (low >= 0xDC00 && low <= 0xDFFF) {
            i += 2;  // a pair: nothing outside the BMP fits Windows-1252
            out.push_back('?');
            continue;
          }
        }
        out.push_back((unit >= 0xD800 && unit <= 0xDFFF) ? '?' : Windows1252Of(unit));
      }
      if (i < size) out.push_back('?');  // odd trailing byte
      break;
    }
  }
  return out;
}

}  // namespace qtm
