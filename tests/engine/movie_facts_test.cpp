// MovieFacts facts against ffprobe's view of the same fixtures.
#include "engine/movie_facts.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_env.h"

namespace kestrel {
namespace {

TEST(MovieFacts, TwoHundredFiftySamplesOverTenSeconds) {
  MovieFacts session;
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

TEST(MovieFacts, SoundOnlyMovieHasNoVideo) {
  MovieFacts session;
  EXPECT_EQ(session.Open(test::FixturePath("audio.m4a").c_str()), S_FALSE);
  int32_t has_video = 1, w = 0, h = 0;
  EXPECT_EQ(session.HasVideo(&has_video), S_OK);
  EXPECT_EQ(has_video, 0);
  EXPECT_EQ(session.GetDimensions(&w, &h), E_FAIL);
}

TEST(MovieFacts, BadFilesFailAndLeaveTheSessionClean) {
  MovieFacts session;
  for (const char* name : {"not_a_movie.mov", "empty.mov", "no-such-file.mov"}) {
    EXPECT_EQ(session.Open(test::FixturePath(name).c_str()), E_FAIL) << name;
    int32_t has_video = 1;
    session.HasVideo(&has_video);
    EXPECT_EQ(has_video, 0);
  }
  ASSERT_EQ(session.Open(test::FixturePath("frames250.mov").c_str()), S_OK);
}

// The path travels with a one-byte length. A movie named by exactly 255
// bytes opens; one byte more is refused, even where its length taken modulo
// 256 would name a movie ("m2" in the current folder).
TEST(MovieFacts, PathsLongerThan255BytesAreRefused) {
  MovieFacts session;
  const std::string dir = test::FixturePath("");  // ends with a separator
  const std::string movie = dir + "frames250.mov";
  // dir, then ".\\" steps, then a copy of the movie whose name fills the rest.
  std::string exact = dir;
  while (exact.size() + 2 + 8 <= 255) exact += ".\\";
  const std::string name = std::string(255 - exact.size(), 'm');
  exact += name;
  ASSERT_EQ(exact.size(), 255u);
  ASSERT_TRUE(CopyFileA(movie.c_str(), (dir + name).c_str(), FALSE));
  EXPECT_EQ(session.Open(exact.c_str()), S_OK);
  EXPECT_EQ(session.Open((exact + "\\.").c_str()), E_FAIL);
  DeleteFileA((dir + name).c_str());

  char previous[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, previous);
  ASSERT_TRUE(CopyFileA(movie.c_str(), (dir + "m2").c_str(), FALSE));
  ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));
  EXPECT_EQ(session.Open("m2"), S_OK);
  const std::string longer = "m2" + std::string(256, 'x');  // 258 bytes: 2 modulo 256
  EXPECT_EQ(session.Open(longer.c_str()), E_FAIL);
  SetCurrentDirectoryA(previous);
  DeleteFileA((dir + "m2").c_str());
}

TEST(MovieFacts, MissingOutPointers) {
  MovieFacts session;
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
