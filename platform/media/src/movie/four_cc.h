// Four-character codes: atom types, media types, codec and format tags.
#ifndef QTMEDIA_MOVIE_FOUR_CC_H
#define QTMEDIA_MOVIE_FOUR_CC_H

#include <cstdint>
#include <string>

namespace qtm {

// The code as the file stores it, first character in the high byte.
constexpr uint32_t FourCC(const char (&s)[5]) {
  return uint32_t{uint8_t(s[0])} << 24 | uint32_t{uint8_t(s[1])} << 16 | uint32_t{uint8_t(s[2])} << 8 |
         uint32_t{uint8_t(s[3])};
}

// The code as text for dumps and messages: printable characters as they are
// ('©' as "(c)"), anything else as \xHH.
std::string FourCCText(uint32_t code);

}  // namespace qtm

#endif
