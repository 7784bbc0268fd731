// Every stored fuzz input through its target: the starting corpora
// (fuzz/corpus/TARGET) and each input that once failed a target
// (fuzz/regressions/TARGET). In the sanitizer build a fault in any of them
// stops the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz_targets.h"

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> FilesIn(const fs::path& dir) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

TEST(FuzzInputs, EveryStoredInputRunsCleanly) {
  for (size_t t = 0; t < qtm::fuzz::kTargetCount; ++t) {
    const qtm::fuzz::Target& target = qtm::fuzz::kTargets[t];
    SCOPED_TRACE(target.name);
    size_t corpus = 0;
    for (const char* folder : {"corpus", "regressions"}) {
      for (const fs::path& file : FilesIn(fs::path(QTM_FUZZ_DIR) / folder / target.name)) {
        SCOPED_TRACE(file.string());
        std::ifstream in(file, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(target.run(bytes.data(), bytes.size()), 0);
        if (folder[0] == 'c') ++corpus;
      }
    }
    EXPECT_GE(corpus, 3u) << "a starting corpus of a few inputs";
  }
}

}  // namespace
