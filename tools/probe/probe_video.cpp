#include "common/json_writer.h"
#include "common/movie_json.h"
#include "probe/probe.h"

namespace kestrel::probe {

Section ProbeVideo(MovieSession& session) {
  Section out;
  int32_t has_video = 0;
  session.HasVideo(&has_video);
  if (!has_video) {
    out.lines.push_back("video: none");
    return out;
  }
  wchar_t codec[MovieSession::kCodecNameChars] = {};
  int32_t width = 0, height = 0, depth = 0;
  int64_t duration = 0;
  uint32_t frames = 0;
  double rate = 0;
  session.GetCodecName(codec);
  session.GetDimensions(&width, &height);
  session.GetDepth(&depth);
  session.GetDuration(&duration);
  session.GetFrameCount(&frames);
  session.GetFrameRate(&rate);
  VideoTransform transform;
  session.GetVideoTransform(&transform);

  out.json = tools::VideoJson({Utf8(codec), width, height, depth, duration, frames, rate, transform.rotation});

  char line[512];
  snprintf(line, sizeof(line), "video: codec \"%s\", %dx%d, depth %d, turned %d degrees", Utf8(codec).c_str(), width,
           height, depth, transform.rotation);
  out.lines.push_back(line);
  snprintf(line, sizeof(line), "video: duration %.3f s (%lld), %u frames, %.3f frames per second", duration / 1e7,
           static_cast<long long>(duration), frames, rate);
  out.lines.push_back(line);
  return out;
}

}  // namespace kestrel::probe
