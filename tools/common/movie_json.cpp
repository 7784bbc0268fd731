#include "common/movie_json.h"

#include "common/json_writer.h"

namespace kestrel::tools {

std::string VideoJson(const VideoFacts& video) {
  JsonObject v;
  v.Add("codec", JsonString(video.codec));
  v.Add("width", JsonNumber(video.width));
  v.Add("height", JsonNumber(video.height));
  v.Add("depth", JsonNumber(video.depth));
  v.Add("duration", JsonNumber(video.duration));
  v.Add("frame_count", JsonNumber(video.frame_count));
  v.Add("frame_rate", JsonNumber(video.frame_rate));
  v.Add("rotation", JsonNumber(video.rotation));
  return v.Text();
}

std::string TimeCodeJson(const TimeCodeFacts& time_code) {
  JsonObject t;
  t.Add("drop_frame", JsonNumber(time_code.drop_frame));
  t.Add("hours", JsonNumber(time_code.hours));
  t.Add("minutes", JsonNumber(time_code.minutes));
  t.Add("seconds", JsonNumber(time_code.seconds));
  t.Add("frames", JsonNumber(time_code.frames));
  return t.Text();
}

}  // namespace kestrel::tools
