// The movies people have, every frame against the ffmpeg tool's decode of
// the same file: phone videos turned by their track or movie matrix (its
// default autorotation), HEVC Main 10, ProRes 422 and 4444 at 10 bits,
// H.264 High 4:2:2 and 4:4:4, HDR (to 8 bits without tone mapping, as it
// converts them). UYVY, YUY2 and BGRA (bottom-up and top-down, as RGB32 and
// ARGB32 get it), at normal, high and max quality.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/test_env.h"
#include "video/frame_formats.h"
#include "video/movie_session.h"
#include "video/video_oracle.h"

namespace kestrel::test {
namespace {

struct Quality {
  unsigned long value;
  const char* oracle_suffix;
};
const Quality kQualities[] = {{512, ""}, {768, ".hq"}, {1023, ".max"}};

std::string NameOf(const char* file) {
  std::string n = file;
  for (char& c : n)
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  return n;
}

class Kinds : public testing::TestWithParam<const char*> {};

TEST_P(Kinds, EveryFrameAtEveryQualityMatchesFfmpeg) {
  const std::string name = GetParam();
  MovieSession session;
  ASSERT_EQ(session.Open(FixturePath(name).c_str()), S_OK);
  int32_t w = 0, h = 0;
  ASSERT_EQ(session.GetDimensions(&w, &h), S_OK);
  for (const Quality& q : kQualities) {
    ScopedSetting quality(L"quality", q.value);
    for (const Format& f : kFormats) {
      SCOPED_TRACE(testing::Message() << f.oracle << (f.flip ? " flip" : "") << " quality " << q.value);
      Expected e = LoadExpected(name, std::string(f.oracle) + q.oracle_suffix);
      ASSERT_FALSE(e.md5.empty());
      ASSERT_EQ(session.CreateDecoder(f.qt), S_OK);
      session.SeekTo(0);
      const size_t stride = static_cast<size_t>(w) * f.bytes_per_pixel;
      session.SetStride(static_cast<int32_t>(stride));
      session.SetFlip(f.flip);
      Delivered d = DeliverFrames(session, w, h, f.bytes_per_pixel, stride, f.flip && f.bytes_per_pixel == 4);
      EXPECT_EQ(d.last, S_FALSE);
      EXPECT_EQ(d.md5, e.md5);
      EXPECT_EQ(d.start, e.start);
      EXPECT_EQ(d.stop, e.stop);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Kinds,
                         testing::Values("turn90.mov", "turn180.mov", "turn270.mov", "mirror.mov", "upside_down.mov",
                                         "transposed.mov", "transverse.mov", "scaled.mov", "sheared.mov",
                                         "movie_turn90.mov", "both_turn90.mov", "turn90_422.mov", "turn270_hevc10.mp4",
                                         "turn90_odd.mov", "mirror_odd.mov", "hevc_main10.mp4", "prores422_10.mov",
                                         "prores4444_10.mov", "h264_422.mov", "h264_444.mov", "h264_422_10.mov",
                                         "hdr_pq.mp4", "hdr_hlg.mov"),
                         [](const auto& info) { return NameOf(info.param); });

// The turn read from the matrices, against ffprobe's display matrix
// rotation (counted the other way), and the size delivered.
TEST(VideoTransform, TurnAndSizeAsFfprobeReadsTheMatrix) {
  struct Case {
    const char* file;
    int32_t orientation;
    int32_t width, height;
    bool ignored;
  };
  const Case cases[] = {
      {"turn_base.mov", qtmOrientationUpright, 100, 60, false},
      {"turn90.mov", qtmOrientationRotated90, 60, 100, false},
      {"turn180.mov", qtmOrientationRotated180, 100, 60, false},
      {"turn270.mov", qtmOrientationRotated270, 60, 100, false},
      {"mirror.mov", qtmOrientationMirrored, 100, 60, false},
      {"upside_down.mov", qtmOrientationFlipped, 100, 60, false},
      {"transposed.mov", qtmOrientationTransposed, 60, 100, false},
      {"transverse.mov", qtmOrientationTransverse, 60, 100, false},
      {"scaled.mov", qtmOrientationUpright, 100, 60, true},
      {"sheared.mov", qtmOrientationUpright, 100, 60, true},
      {"movie_turn90.mov", qtmOrientationRotated90, 60, 100, false},
      {"both_turn90.mov", qtmOrientationRotated180, 100, 60, false},
      {"turn90_odd.mov", qtmOrientationRotated90, 60, 98, false},  // MJPEG keeps 98 x 60 of 99 x 61
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    MovieSession session;
    ASSERT_EQ(session.Open(FixturePath(c.file).c_str()), S_OK);
    VideoTransform t;
    ASSERT_EQ(session.GetVideoTransform(&t), S_OK);
    EXPECT_EQ(t.orientation, c.orientation);
    EXPECT_EQ(t.ignored, c.ignored);
    if (!c.ignored) {
      std::string text = ReadFileBytes(FixturePath(std::string(c.file) + ".rotation"));
      int ffprobe = text.empty() ? 0 : atoi(text.c_str());  // anticlockwise
      EXPECT_EQ(t.rotation, (360 - ffprobe) % 360);
    }
    int32_t w = 0, h = 0;
    ASSERT_EQ(session.GetDimensions(&w, &h), S_OK);
    EXPECT_EQ(w, c.width);
    EXPECT_EQ(h, c.height);
  }
  MovieSession none;
  VideoTransform t;
  t.orientation = 0;
  EXPECT_EQ(none.GetVideoTransform(&t), S_OK);
  EXPECT_EQ(t.orientation, qtmOrientationUpright);
  EXPECT_EQ(none.GetVideoTransform(nullptr), E_POINTER);
}

}  // namespace
}  // namespace kestrel::test
