// With the engine library hidden, start-up fails and every call answers a
// failure, so opening a movie fails at its first file call.
#include <gtest/gtest.h>

#include "engine/movie_facts.h"
#include "engine/qt_library.h"
#include "qtmedia.h"
#include "support/test_env.h"

namespace kestrel {
namespace {

TEST(MissingEngineLibrary, EveryCallFailsAndOpenFails) {
  SetQtLibraryNameForTesting(L"no-such-engine.dll");
  EXPECT_NE(InitializeQTML(0), noErr);
  EXPECT_FALSE(IsQtLibraryLoaded());
  EXPECT_NE(EnterMovies(), noErr);
  EXPECT_NE(GetMoviesError(), noErr);
  EXPECT_EQ(NewHandle(16), nullptr);
  EXPECT_EQ(GetQtDataSymbol("kCFBooleanTrue"), nullptr);
  FSSpec file_spec = {};
  const unsigned char name[] =
      "\x05"
      "a.mov";
  EXPECT_NE(FSMakeFSSpec(0, 0, name, &file_spec), noErr);
  int16_t ref = 0;
  EXPECT_NE(OpenMovieFile(&file_spec, &ref, fsRdPerm), noErr);

  MovieFacts session;
  EXPECT_EQ(session.Open(test::FixturePath("h264_bframes.mov").c_str()), E_FAIL);
  int32_t has_video = 1;
  EXPECT_EQ(session.HasVideo(&has_video), S_OK);
  EXPECT_EQ(has_video, 0);
}

}  // namespace
}  // namespace kestrel

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
