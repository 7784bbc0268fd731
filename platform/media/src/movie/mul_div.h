// value * multiplier / divisor for the engine's time and offset conversions:
// the product is formed in 128 bits, so that large values from a file do not
// overflow it. The quotient is truncated toward zero and saturates at the
// 64-bit limits; 0 when divisor is 0.
#ifndef QTMEDIA_MOVIE_MUL_DIV_H
#define QTMEDIA_MOVIE_MUL_DIV_H

#include <cstdint>
#include <limits>

namespace qtm {

// MulDiv64 without a 128-bit type, as 32-bit x86 needs: the magnitudes are
// multiplied and divided in two 64-bit halves. *inexact tells whether the
// division left a remainder.
constexpr int64_t MulDiv64Halves(int64_t value, int64_t multiplier, int64_t divisor, bool* inexact) {
  if (inexact) *inexact = false;
  if (divisor == 0) return 0;
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  auto magnitude = [](int64_t v) { return v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v); };
  bool negative = ((value < 0) != (multiplier < 0)) != (divisor < 0);
  uint64_t a = magnitude(value), b = magnitude(multiplier), d = magnitude(divisor);
  // a * b as hi:lo.
  uint64_t p0 = (a & 0xFFFFFFFFu) * (b & 0xFFFFFFFFu), p1 = (a & 0xFFFFFFFFu) * (b >> 32);
  uint64_t p2 = (a >> 32) * (b & 0xFFFFFFFFu), p3 = (a >> 32) * (b >> 32);
  uint64_t middle = (p0 >> 32) + (p1 & 0xFFFFFFFFu) + (p2 & 0xFFFFFFFFu);
  uint64_t lo = (p0 & 0xFFFFFFFFu) | (middle << 32);
  uint64_t hi = p3 + (p1 >> 32) + (p2 >> 32) + (middle >> 32);
  // hi:lo / d, a bit at a time; a quotient of more than 64 bits saturates.
  uint64_t q_hi = 0, q_lo = 0, r = 0;
  for (int bit = 127; bit >= 0; --bit) {
    bool carry = r >> 63;
    r = r << 1 | ((bit >= 64 ? hi >> (bit - 64) : lo >> bit) & 1u);
    uint64_t q_bit = 0;
    if (carry || r >= d) {
      r -= d;
      q_bit = 1;
    }
    if (bit >= 64)
      q_hi |= q_bit << (bit - 64);
    else
      q_lo |= q_bit << bit;
  }
  if (inexact) *inexact = r != 0;
  if (q_hi == 0 && q_lo == 0) return 0;
  if (negative) return q_hi != 0 || q_lo > uint64_t{1} << 63 ? kMin : static_cast<int64_t>(0 - q_lo);
  return q_hi != 0 || q_lo > static_cast<uint64_t>(kMax) ? kMax : static_cast<int64_t>(q_lo);
}

// The same, and whether the division left a remainder.
constexpr int64_t MulDiv64(int64_t value, int64_t multiplier, int64_t divisor, bool* inexact) {
#if defined(__SIZEOF_INT128__)
  if (inexact) *inexact = false;
  if (divisor == 0) return 0;
  __int128 product = static_cast<__int128>(value) * multiplier;
  __int128 q = product / divisor;
  if (inexact) *inexact = product % divisor != 0;
  if (q > std::numeric_limits<int64_t>::max()) return std::numeric_limits<int64_t>::max();
  if (q < std::numeric_limits<int64_t>::min()) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(q);
#else
  return MulDiv64Halves(value, multiplier, divisor, inexact);
#endif
}

constexpr int64_t MulDiv64(int64_t value, int64_t multiplier, int64_t divisor) {
  return MulDiv64(value, multiplier, divisor, nullptr);
}

}  // namespace qtm

#endif
