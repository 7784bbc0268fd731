// kestrel-probe's audio section and its wave output, run as a program.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/test_env.h"

namespace kestrel {
namespace {

using test::FixturePath;
using test::ReadFileBytes;
using test::RunProbe;

TEST(ProbeAudio, JsonCarriesTheAudioFactsOrNull) {
  DWORD code = 1;
  std::string json = RunProbe("--json " + FixturePath("aud_s16.aif"), &code);
  EXPECT_NE(json.find("\"audio\": {\"format\": \"Linear PCM\", \"layout\": \"Stereo (L R)\", \"sample_rate\": 44100, "
                      "\"channels\": 2, \"bits\": 16, \"avg_bytes_per_sec\": 176400, \"duration\": 30000000}"),
            std::string::npos)
      << json;
  json = RunProbe("--json " + FixturePath("mpeg4.mp4"), &code);
  EXPECT_NE(json.find("\"audio\": null"), std::string::npos) << json;
}

TEST(ProbeAudio, WavIsTheExtractedPcmFromTheSeekPosition) {
  std::string out = FixturePath("probe_audio_test.wav");
  DeleteFileA(out.c_str());
  DWORD code = 1;
  RunProbe("--wav " + out + " --seek 10 " + FixturePath("aud_aac.m4a"), &code);
  EXPECT_EQ(code, 0u);
  std::string wav = ReadFileBytes(out);
  std::string oracle = ReadFileBytes(FixturePath("aud_aac.m4a.s16le"));
  ASSERT_GT(wav.size(), 44u);
  EXPECT_EQ(wav.substr(0, 4), "RIFF");
  EXPECT_EQ(wav.substr(8, 8), "WAVEfmt ");
  uint32_t data_bytes = 0;
  memcpy(&data_bytes, &wav[40], 4);
  EXPECT_EQ(data_bytes, wav.size() - 44);
  EXPECT_TRUE(wav.substr(44) == oracle.substr(441000 * 4)) << wav.size();
  DeleteFileA(out.c_str());
  RunProbe("--wav " + out + " " + FixturePath("not_a_movie.mov"), &code);
  EXPECT_EQ(code, 1u);
}

}  // namespace
}  // namespace kestrel
