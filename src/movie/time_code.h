// The time code of the video position, from the movie's first time-code track.
#ifndef KESTREL_MOVIE_TIME_CODE_H
#define KESTREL_MOVIE_TIME_CODE_H

#include <cstdint>

#include "qtmedia.h"

namespace kestrel {

// A video decode time (video media units) in the time-code media's units:
// decode_time * time_code_scale / video_scale, the product in 128 bits.
// False when video_scale is 0 or the result does not fit a 32-bit time.
bool TimeCodeMediaTime(int64_t decode_time, int32_t video_scale, int32_t time_code_scale, TimeValue* time);

}  // namespace kestrel

#endif
