// With no engine library, a foreign one or one of another interface
// version, start-up fails with a log line saying why, and every call
// answers a failure, so opening a movie fails at its first file call.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "base/log.h"
#include "movie/engine_loader.h"
#include "movie/movie_facts.h"
#include "qtmedia.h"
#include "support/test_env.h"

namespace kestrel {
namespace {

// The log's one record, without its time stamp.
std::string OnlyLogLine() {
  std::string path;
  for (const wchar_t* p = GetLogPath(); *p; ++p) path += static_cast<char>(*p);
  std::string bytes = test::ReadFileBytes(path);
  std::smatch m;
  if (!std::regex_match(bytes, m, std::regex("\r\n[0-2][0-9]:[0-5][0-9]:[0-5][0-9] - (.*)"))) return "<" + bytes + ">";
  return m[1];
}

void ExpectRefused(const wchar_t* library, const std::string& line) {
  ASSERT_EQ(ResetLog(), 1);
  SetEngineFileNameForTesting(library);
  EXPECT_EQ(InitializeQTML(0), qtmlDllLoadErr);
  EXPECT_FALSE(IsEngineLoaded());
  EXPECT_EQ(OnlyLogLine(), line);
  EXPECT_NE(EnterMovies(), noErr);
  EXPECT_NE(GetMoviesError(), noErr);
  EXPECT_EQ(NewHandle(16), nullptr);
  EXPECT_EQ(GetEngineDataSymbol("kCFBooleanTrue"), nullptr);
  FSSpec file_spec = {};
  const unsigned char name[] =
      "\x05"
      "a.mov";
  EXPECT_NE(FSMakeFSSpec(0, 0, name, &file_spec), noErr);
  int16_t ref = 0;
  EXPECT_NE(OpenMovieFile(&file_spec, &ref, fsRdPerm), noErr);
  EXPECT_NE(qtm_OpenMovieFileW(reinterpret_cast<const UniChar*>(L"a.mov"), &ref), noErr);

  MovieFacts session;
  EXPECT_EQ(session.Open(test::FixturePath("h264_bframes.mov").c_str()), E_FAIL);
  int32_t has_video = 1;
  EXPECT_EQ(session.HasVideo(&has_video), S_OK);
  EXPECT_EQ(has_video, 0);
}

TEST(MissingEngineLibrary, EveryCallFailsAndOpenFails) {
  ExpectRefused(L"no-such-engine.dll", "ERROR! The media engine no-such-engine.dll was not found.");
}

TEST(MissingEngineLibrary, ALibraryThatIsNotTheEngineIsRefused) {
  ExpectRefused(L"version.dll",
                "ERROR! C:\\windows\\system32\\version.dll is not Kestrel's media engine: it states no interface "
                "version.");
}

TEST(MissingEngineLibrary, AnEngineOfAnotherVersionIsRefused) {
  std::string folder = test::WindowsPathOf(std::getenv("KESTREL_BIN"));
  ExpectRefused(L"kestrelmedia_stale.dll", "ERROR! The media engine " + folder + "\\kestrelmedia_stale.dll has " +
                                               "interface version " + std::to_string(QTM_INTERFACE_VERSION + 1) +
                                               "; this filter needs version " + std::to_string(QTM_INTERFACE_VERSION) +
                                               ".");
}

}  // namespace
}  // namespace kestrel

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
