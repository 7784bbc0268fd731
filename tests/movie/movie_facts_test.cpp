// MovieFacts facts against ffprobe's view of the same fixtures.
#include "movie/movie_facts.h"

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

// Paths of any length and characters open, as the filter is given them
// (wide) and in the ANSI code page; a long path's length taken modulo 256
// names nothing ("m2" in the current folder stays unopened).
TEST(MovieFacts, PathsOfAnyLengthAndCharactersOpen) {
  MovieFacts session;
  const std::string dir = test::FixturePath("");  // ends with a separator
  const std::string movie = dir + "frames250.mov";
  std::wstring folder(dir.begin(), dir.end());
  folder += L"long \u00e9l\u00e9phant \u5927\u8c61 \u0441\u043b\u043e\u043d";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  std::wstring made = folder;
  for (int i = 0; i < 6; ++i) {
    made += L"\\" + std::wstring(40, L'\u00e9');
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + made).c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  }
  const std::wstring wide = made + L"\\\u00e9t\u00e9 \u263c.mov";
  ASSERT_GT(wide.size(), 300u);
  std::wstring source(movie.begin(), movie.end());
  ASSERT_TRUE(CopyFileW(source.c_str(), (L"\\\\?\\" + wide).c_str(), FALSE));
  EXPECT_EQ(session.Open(wide.c_str()), S_OK);
  int32_t width = 0, height = 0;
  EXPECT_EQ(session.GetDimensions(&width, &height), S_OK);
  EXPECT_EQ(width, 64);
  EXPECT_EQ((MovieFacts().Open((L"\\\\?\\" + wide).c_str())), S_OK);
  EXPECT_EQ(session.Open((wide + L"x").c_str()), E_FAIL);

  // ANSI paths are not held to 255 bytes any more.
  std::string ansi = dir;
  while (ansi.size() < 300) ansi += ".\\";
  EXPECT_EQ(session.Open((ansi + "frames250.mov").c_str()), S_OK);

  char previous[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, previous);
  ASSERT_TRUE(CopyFileA(movie.c_str(), (dir + "m2").c_str(), FALSE));
  ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));
  EXPECT_EQ(session.Open("m2"), S_OK);
  const std::string longer = "m2" + std::string(256, 'x');  // 258 bytes: 2 modulo 256
  EXPECT_EQ(session.Open(longer.c_str()), E_FAIL);
  SetCurrentDirectoryA(previous);
  DeleteFileA((dir + "m2").c_str());

  DeleteFileW((L"\\\\?\\" + wide).c_str());
  for (int i = 0; i < 6; ++i) {
    RemoveDirectoryW((L"\\\\?\\" + made).c_str());
    made.resize(made.find_last_of(L'\\'));
  }
  RemoveDirectoryW(folder.c_str());
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
