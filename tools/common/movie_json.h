// The facts kestrel-info (through the filter) and kestrel-probe (through the
// engine) both report of a movie, as the same JSON objects.
#ifndef KESTREL_TOOLS_COMMON_MOVIE_JSON_H
#define KESTREL_TOOLS_COMMON_MOVIE_JSON_H

#include <cstdint>
#include <string>

namespace kestrel::tools {

struct VideoFacts {
  std::string codec;  // UTF-8
  int64_t width = 0;
  int64_t height = 0;
  int64_t depth = 0;
  int64_t duration = 0;  // 100 ns units
  int64_t frame_count = 0;
  double frame_rate = 0;
  int64_t rotation = 0;  // degrees
};

// {"codec", "width", "height", "depth", "duration", "frame_count",
// "frame_rate", "rotation"}
std::string VideoJson(const VideoFacts& video);

struct TimeCodeFacts {
  int64_t drop_frame = 0;
  int64_t hours = 0;
  int64_t minutes = 0;
  int64_t seconds = 0;
  int64_t frames = 0;
};

// {"drop_frame", "hours", "minutes", "seconds", "frames"}
std::string TimeCodeJson(const TimeCodeFacts& time_code);

}  // namespace kestrel::tools

#endif
