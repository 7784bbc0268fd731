// MovieFacts facts for a fixture of every registered family, against
// ffprobe's view of the same files (NAME.video.txt, made with the fixtures).
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "common/json_writer.h"
#include "movie/movie_facts.h"
#include "support/test_env.h"

namespace kestrel {
namespace {

struct FactsCase {
  const char* file;
  const char* codec_name;  // as stored in the sample description; null: not checked
  int depth;               // 0: not checked
};

class MovieFactsFacts : public testing::TestWithParam<FactsCase> {};

TEST_P(MovieFactsFacts, MatchFfprobe) {
  const FactsCase& c = GetParam();
  std::istringstream oracle(test::ReadFileBytes(test::FixturePath(std::string(c.file) + ".video.txt")));
  std::string first;
  oracle >> first;
  ASSERT_FALSE(first.empty()) << "no oracle for " << c.file;

  MovieFacts session;
  HRESULT hr = session.Open(test::FixturePath(c.file).c_str());
  int32_t has_video = -1;
  ASSERT_EQ(session.HasVideo(&has_video), S_OK);
  if (first == "none") {
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(has_video, 0);
    return;
  }
  ASSERT_EQ(hr, S_OK);
  EXPECT_EQ(has_video, 1);

  int32_t want_width = std::stoi(first), want_height = 0;
  int64_t want_duration = 0;
  uint32_t want_frames = 0;
  oracle >> want_height >> want_duration >> want_frames;

  int32_t width = 0, height = 0, depth = 0;
  int64_t duration = 0;
  uint32_t frames = 0;
  double rate = 0;
  wchar_t codec[MovieFacts::kCodecNameChars];
  EXPECT_EQ(session.GetDimensions(&width, &height), S_OK);
  EXPECT_EQ(session.GetDuration(&duration), S_OK);
  EXPECT_EQ(session.GetFrameCount(&frames), S_OK);
  EXPECT_EQ(session.GetFrameRate(&rate), S_OK);
  EXPECT_EQ(session.GetCodecName(codec), S_OK);
  EXPECT_EQ(session.GetDepth(&depth), S_OK);
  EXPECT_EQ(width, want_width);
  EXPECT_EQ(height, want_height);
  EXPECT_EQ(duration, want_duration);
  EXPECT_EQ(frames, want_frames);
  EXPECT_DOUBLE_EQ(rate, frames * 10000000.0 / duration);
  if (c.codec_name) EXPECT_EQ(tools::Utf8(codec), c.codec_name);
  if (c.depth) EXPECT_EQ(depth, c.depth);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, MovieFactsFacts,
                         testing::Values(FactsCase{"h264_bframes.mov", "Lavc libx264", 24},
                                         FactsCase{"h264_bframes.mp4", "Lavc libx264", 24},
                                         FactsCase{"mpeg4.mp4", "Lavc mpeg4", 24},
                                         FactsCase{"mjpeg.mov", "Lavc mjpeg", 24},
                                         FactsCase{"prores.mov", "Lavc prores_ks", 0},
                                         FactsCase{"dv.mov", "Lavc dvvideo", 24}, FactsCase{"dv.dv", nullptr, 0},
                                         FactsCase{"raw2vuy.mov", "Lavc rawvideo", 0}, FactsCase{"h263.3gp", "", 24},
                                         FactsCase{"frames250.mov", "Lavc mjpeg", 24},
                                         FactsCase{"audio.m4a", nullptr, 0}, FactsCase{"audio16.aif", nullptr, 0},
                                         FactsCase{"audio.caf", nullptr, 0}, FactsCase{"audio.aac", nullptr, 0}),
                         [](const testing::TestParamInfo<FactsCase>& info) {
                           std::string name = info.param.file;
                           for (char& ch : name)
                             if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name;
                         });

}  // namespace
}  // namespace kestrel
