#include "movie/four_cc.h"

#include <cstdio>

namespace qtm {

std::string FourCCText(uint32_t code) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    uint8_t c = uint8_t(code >> shift);
    if (c >= 0x20 && c < 0x7F) {
      text.push_back(char(c));
    } else if (c == 0xA9) {
      text += "(c)";
    } else {
      char hex[5];
      snprintf(hex, sizeof hex, "\\x%02X", c);
      text += hex;
    }
  }
  return text;
}

}  // namespace qtm
