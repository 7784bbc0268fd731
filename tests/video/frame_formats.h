// The pixel formats the frame source is asked for in the video tests, each
// with the ffmpeg tool's name for it (the oracle's), its size and the flip.
#ifndef KESTREL_TESTS_VIDEO_FRAME_FORMATS_H
#define KESTREL_TESTS_VIDEO_FRAME_FORMATS_H

#include "qtmedia.h"

namespace kestrel::test {

struct Format {
  OSType qt;
  const char* oracle;
  int bytes_per_pixel;
  int flip;  // what SetFlip gets; RGB is then delivered bottom-up
};
inline constexpr Format kFormats[] = {
    {0x32767579, "uyvy422", 2, 1},  // '2vuy': flip asked for, never applied
    {0x79757673, "yuyv422", 2, 0},  // 'yuvs'
    {0x42475241, "bgra", 4, 1},     // 'BGRA', bottom-up
    {0x42475241, "bgra", 4, 0},     // 'BGRA', top-down
};

}  // namespace kestrel::test

#endif
