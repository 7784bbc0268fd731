// What ffmpeg's decode of a fixture says (per-frame md5 in display order,
// presentation times), and a frame source run to compare with it.
#ifndef KESTREL_TESTS_VIDEO_VIDEO_ORACLE_H
#define KESTREL_TESTS_VIDEO_VIDEO_ORACLE_H

#include <cstdint>
#include <string>
#include <vector>

#include "video/movie_session.h"

namespace kestrel::test {

struct Expected {
  std::vector<std::string> md5;
  std::vector<int64_t> start, stop;  // 100 ns, media time
};

// ffmpeg's frames of movie in oracle pixel format ("uyvy422", "yuyv422",
// "bgra") and ffprobe's times.
Expected LoadExpected(const std::string& movie, const std::string& oracle_format);

struct Delivered {
  std::vector<std::string> md5;  // of the tight rows, top-down
  std::vector<int64_t> start, stop;
  HRESULT last = S_OK;  // the status that ended the run
};

// Frame requests until S_FALSE, an error, or max frames. Frames are
// width x height of bytes_per_pixel, stride bytes apart in the destination,
// bottom-up when flipped.
Delivered DeliverFrames(MovieSession& session, int width, int height, int bytes_per_pixel, size_t stride, bool flipped,
                        size_t max = 100000);

// The md5 of a destination's picture, rows top-down.
std::string PictureMd5(const uint8_t* destination, int width, int height, int bytes_per_pixel, size_t stride,
                       bool flipped);

}  // namespace kestrel::test

#endif
