// Text of user-data items, turned into the Windows ANSI code page the engine
// hands out (Windows-1252).
#ifndef QTMEDIA_USERDATA_TEXT_ENCODING_H
#define QTMEDIA_USERDATA_TEXT_ENCODING_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace qtm {

enum class TextEncoding { kMacRoman, kUtf8, kUtf16BigEndian, kUtf16LittleEndian };

// Decodes bytes in the given encoding and re-encodes them as Windows-1252.
// Characters Windows-1252 has no place for, and malformed sequences, become
// '?'. A leading byte-order mark is dropped.
std::string ToWindows1252(const uint8_t* bytes, size_t size, TextEncoding encoding);

// The Windows-1252 byte of a Unicode code point, or '?' when there is none.
char Windows1252Of(uint32_t code_point);

}  // namespace qtm

#endif
