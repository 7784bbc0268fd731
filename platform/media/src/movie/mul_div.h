// value * multiplier / divisor for the engine's time and offset conversions:
// the product is formed in 128 bits, so that large values from a file do not
// overflow it. The quotient is truncated toward zero and saturates at the
// 64-bit limits; 0 when divisor is 0.
#ifndef QTMEDIA_MOVIE_MUL_DIV_H
#define QTMEDIA_MOVIE_MUL_DIV_H

#include <cstdint>
#include <limits>

namespace qtm {

constexpr int64_t MulDiv64(int64_t value, int64_t multiplier, int64_t divisor) {
  if (divisor == 0) return 0;
  __int128 q = static_cast<__int128>(value) * multiplier / divisor;
  if (q > std::numeric_limits<int64_t>::max()) return std::numeric_limits<int64_t>::max();
  if (q < std::numeric_limits<int64_t>::min()) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(q);
}

}  // namespace qtm

#endif
