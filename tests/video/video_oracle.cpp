#include "video/video_oracle.h"

#include <cstring>
#include <sstream>

#include "support/test_env.h"
#include "video/md5.h"

namespace kestrel::test {
namespace {

std::vector<std::string> Lines(const std::string& name) {
  std::istringstream in(ReadFileBytes(FixturePath(name)));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

}  // namespace

Expected LoadExpected(const std::string& movie, const std::string& oracle_format) {
  Expected e;
  e.md5 = Lines(movie + "." + oracle_format + ".md5");
  std::vector<std::string> scale_lines = Lines(movie + ".timescale");
  int64_t scale = scale_lines.empty() ? 0 : std::stoll(scale_lines[0]);
  if (scale <= 0) return e;
  for (const std::string& line : Lines(movie + ".times")) {
    std::istringstream fields(line);
    int64_t pts = 0, duration = 0;
    fields >> pts >> duration;
    e.start.push_back(pts * 10000000 / scale);
    e.stop.push_back((pts + duration) * 10000000 / scale);
  }
  return e;
}

std::string PictureMd5(const uint8_t* destination, int width, int height, int bytes_per_pixel, size_t stride,
                       bool flipped) {
  size_t row = static_cast<size_t>(width) * bytes_per_pixel;
  std::vector<uint8_t> tight(row * height);
  for (int y = 0; y < height; ++y) {
    int from = flipped ? height - 1 - y : y;
    memcpy(&tight[y * row], destination + from * stride, row);
  }
  return Md5Hex(tight.data(), tight.size());
}

Delivered DeliverFrames(MovieSession& session, int width, int height, int bytes_per_pixel, size_t stride, bool flipped,
                        size_t max) {
  Delivered d;
  std::vector<uint8_t> buffer(stride * height);
  while (d.md5.size() < max) {
    int64_t start = -1, stop = -1;
    d.last = session.ProduceFrame(buffer.data(), buffer.size(), &start, &stop);
    if (d.last != S_OK) break;
    d.md5.push_back(PictureMd5(buffer.data(), width, height, bytes_per_pixel, stride, flipped));
    d.start.push_back(start);
    d.stop.push_back(stop);
  }
  return d;
}

}  // namespace kestrel::test
