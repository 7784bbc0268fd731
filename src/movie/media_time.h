// Conversions between movie time (a value counted in a time scale) and media
// time (100 ns units), in signed 64-bit results truncated toward zero. The
// product is formed in 128 bits so that long movies do not overflow, and a
// result beyond 64 bits saturates: INT64_MAX or INT64_MIN, never a wrap.
#ifndef KESTREL_MOVIE_MEDIA_TIME_H
#define KESTREL_MOVIE_MEDIA_TIME_H

#include <cstdint>

namespace kestrel {

constexpr int64_t kUnitsPerSecond = 10000000;

// value * multiplier / divisor, held to 64 bits; 0 when divisor is 0.
constexpr int64_t MulDiv64(int64_t value, int64_t multiplier, int64_t divisor) {
  if (divisor == 0) return 0;
  __int128 q = static_cast<__int128>(value) * multiplier / divisor;
  return q > INT64_MAX ? INT64_MAX : q < INT64_MIN ? INT64_MIN : static_cast<int64_t>(q);
}

constexpr int64_t MovieToMediaTime(int64_t value, int32_t time_scale) {
  return MulDiv64(value, kUnitsPerSecond, time_scale);
}

constexpr int64_t MediaToMovieTime(int64_t media_time, int32_t time_scale) {
  return MulDiv64(media_time, time_scale, kUnitsPerSecond);
}

}  // namespace kestrel

#endif
