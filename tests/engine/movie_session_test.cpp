// MovieSession facts against ffprobe's view of the same fixtures.
#include <gtest/gtest.h>

#include <string>

#include "engine/movie_session.h"
#include "support/test_env.h"

namespace kestrel {
namespace {

TEST(MovieSession, TwoHundredFiftySamplesOverTenSeconds) {
  MovieSession session;
  ASSERT_EQ(session.Open(test::FixturePath("frames250.mov").c_str()), S_OK);
  uint32_t frames = 0;
  int64_t duration = 0;
  double rate = 0;
  EXPECT_EQ(session.GetFrameCount(&frames), S_OK);
  EXPECT_EQ(session.GetDuration(&duration), S_OK);
  EXPECT_EQ(session.GetFrameRate(&rate), S_OK);
  EXPECT_EQ(frames, 250u);
  EXPECT_EQ(duration, 100000000);
  EXPECT_DOUBLE_EQ(rate, 25.0);
}

TEST(MovieSession, SoundOnlyMovieHasNoVideo) {
  MovieSession session;
  EXPECT_EQ(session.Open(test::FixturePath("audio.m4a").c_str()), S_FALSE);
  int32_t has_video = 1, w = 0, h = 0;
  EXPECT_EQ(session.HasVideo(&has_video), S_OK);
  EXPECT_EQ(has_video, 0);
  EXPECT_EQ(session.GetDimensions(&w, &h), E_FAIL);
}

TEST(MovieSession, BadFilesFailAndLeaveTheSessionClean) {
  MovieSession session;
  for (const char* name : {"not_a_movie.mov", "empty.mov", "no-such-file.mov"}) {
    EXPECT_EQ(session.Open(test::FixturePath(name).c_str()), E_FAIL) << name;
    int32_t has_video = 1;
    session.HasVideo(&has_video);
    EXPECT_EQ(has_video, 0);
  }
  ASSERT_EQ(session.Open(test::FixturePath("frames250.mov").c_str()), S_OK);
}

TEST(MovieSession, PathsLongerThan255BytesAreRefused) {
  MovieSession session;
  std::string path = "C:\\" + std::string(300, 'a') + ".mov";
  EXPECT_EQ(session.Open(path.c_str()), E_FAIL);
}

TEST(MovieSession, MissingOutPointers) {
  MovieSession session;
  int32_t w = 0;
  EXPECT_EQ(session.HasVideo(nullptr), E_POINTER);
  EXPECT_EQ(session.GetDuration(nullptr), E_POINTER);
  EXPECT_EQ(session.GetFrameCount(nullptr), E_POINTER);
  EXPECT_EQ(session.GetCodecName(nullptr), E_POINTER);
  EXPECT_EQ(session.GetDepth(nullptr), E_POINTER);
  EXPECT_EQ(session.GetFrameRate(nullptr), E_POINTER);
  EXPECT_EQ(session.GetDimensions(&w, nullptr), E_POINTER);
}

}  // namespace
}  // namespace kestrel
