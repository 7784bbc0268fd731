// The movie reader's atom dumps of small stored movies against their golden
// texts (tests/movie/golden/NAME.atoms): every field the reader takes from a file
// is in them, so a change to what it reads shows here line by line.
// KESTREL_UPDATE_GOLDEN=1 writes the texts anew instead of comparing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "movie/movie_model.h"
#include "movie_writer.h"

namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The first line where two texts differ, for the failure message.
std::string FirstDifference(const std::string& want, const std::string& got) {
  std::istringstream a(want), b(got);
  std::string la, lb;
  for (int line = 1;; ++line) {
    bool more_a = bool(std::getline(a, la)), more_b = bool(std::getline(b, lb));
    if (!more_a && !more_b) return "none";
    if (la != lb || more_a != more_b)
      return "line " + std::to_string(line) + "\n  golden: " + (more_a ? la : "(end)") +
             "\n  dump:   " + (more_b ? lb : "(end)");
  }
}

class GoldenDump : public testing::TestWithParam<const char*> {};

TEST_P(GoldenDump, MatchesTheStoredText) {
  const fs::path movie = fs::path(QTM_FUZZ_DIR) / "corpus" / "movie" / GetParam();
  const fs::path golden = fs::path(QTM_GOLDEN_DIR) / (std::string(GetParam()) + ".atoms");
  std::string dump;
  ASSERT_EQ(qtm::DumpAtoms(qtm::OpenFileSource(movie.string()), &dump), noErr);
  if (getenv("KESTREL_UPDATE_GOLDEN")) {
    std::ofstream(golden, std::ios::binary) << dump;
    return;
  }
  std::string want = ReadText(golden);
  ASSERT_FALSE(want.empty()) << golden;
  EXPECT_TRUE(dump == want) << "first difference: " << FirstDifference(want, dump);
}

// Video with B-frames (display offsets, sync samples, an avcC), AAC sound in
// an MPEG-4 file, fragments, classic user data with a time code track, and
// an iTunes list.
INSTANTIATE_TEST_SUITE_P(Movies, GoldenDump,
                         testing::Values("h264_bframes.mp4", "aud_aac.m4a", "fragmented.mp4", "md_tc_df.mov",
                                         "md_itunes.m4a", "droppable.mov"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (c == '.') c = '_';
                           return name;
                         });

// A file the reader refuses: the dump goes as far as the reader did and
// says why it stopped.
TEST(AtomDump, EndsWithTheReason) {
  testmovie::MovieSpec m;
  testmovie::TrackSpec t;
  for (int i = 0; i < 4; ++i) t.samples.push_back({20, 16, true, 0, 0});
  m.tracks.push_back(t);
  testmovie::Bytes b = testmovie::Write(m);
  for (size_t i = 0; i + 4 <= b.size(); ++i) {
    if (memcmp(&b[i], "stsz", 4) == 0) {
      b[i + 12] = b[i + 13] = b[i + 14] = b[i + 15] = 0xFF;  // sample count
      break;
    }
  }
  std::string dump;
  EXPECT_EQ(qtm::DumpAtoms(qtm::MakeMemorySource(b), &dump), invalidMovie);
  EXPECT_NE(dump.find("\n          stsz "), std::string::npos) << dump;
  EXPECT_EQ(dump.substr(dump.rfind('\n', dump.size() - 2) + 1), "failed: stsz entry count exceeds the atom\n");
  EXPECT_EQ(qtm::DumpAtoms(qtm::MakeMemorySource({'n', 'o', 't', ' ', 'a', ' ', 'm', 'o', 'v', 'i', 'e', '!'}), &dump),
            badFileFormat);
  EXPECT_EQ(dump, "failed: not a movie file\n");
}

}  // namespace
