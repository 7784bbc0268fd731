// kestrel-probe --atoms as a user runs it: the tree the engine's movie
// reader walks, the same text the engine's own tests hold as golden dumps.
#include <gtest/gtest.h>

#include <string>

#include "support/test_env.h"

namespace kestrel::test {
namespace {

std::string WithoutCarriageReturns(std::string text) {
  std::string out;
  for (char c : text)
    if (c != '\r') out.push_back(c);
  return out;
}

TEST(ProbeAtoms, PrintsTheGoldenTree) {
  for (const char* name : {"h264_bframes.mp4", "fragmented.mp4"}) {
    SCOPED_TRACE(name);
    std::string movie = WindowsPathOf(std::string(KESTREL_MEDIA_DIR "/fuzz/corpus/movie/") + name);
    std::string golden =
        ReadFileBytes(WindowsPathOf(std::string(KESTREL_MEDIA_DIR "/tests/movie/golden/") + name + ".atoms"));
    ASSERT_FALSE(golden.empty());
    unsigned long code = 9;
    std::string out = RunProbe("--atoms \"" + movie + "\"", &code);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(WithoutCarriageReturns(out), WithoutCarriageReturns(golden));
  }
}

TEST(ProbeAtoms, SaysWhyAFileIsRefused) {
  unsigned long code = 9;
  std::string out = RunProbe("--atoms \"" + FixturePath("audio.caf") + "\"", &code);
  EXPECT_EQ(code, 1u);
  EXPECT_EQ(WithoutCarriageReturns(out), "failed: not a movie file\n");
  out = RunProbe("--atoms \"" + FixturePath("no_such_movie.mov") + "\"", &code);
  EXPECT_EQ(code, 1u);
  EXPECT_EQ(out, "");
}

}  // namespace
}  // namespace kestrel::test
