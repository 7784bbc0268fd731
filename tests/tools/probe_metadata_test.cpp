// kestrel-probe --json: the user_data and timecode sections.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/test_env.h"

namespace kestrel {
namespace {

// kestrel-probe --json on a fixture: its standard output.
std::string ProbeJson(const std::string& fixture) {
  return test::RunProbe("--json \"" + test::FixturePath(fixture) + "\"");
}

TEST(ProbeMetadata, UserDataAndTimeCodeSections) {
  std::string crlf = ProbeJson("md_crlf.mov");
  EXPECT_NE(crlf.find("\"user_data\": {\"Comment\": \"line one \\nline two\"}"), std::string::npos) << crlf;
  EXPECT_NE(crlf.find("\"timecode\": null"), std::string::npos) << crlf;

  std::string df = ProbeJson("md_tc_df.mov");
  EXPECT_NE(df.find("\"user_data\": {}"), std::string::npos) << df;
  EXPECT_NE(df.find("\"timecode\": {\"drop_frame\": 1, \"hours\": 1, \"minutes\": 0, \"seconds\": 0, \"frames\": 0}"),
            std::string::npos)
      << df;

  std::string all = ProbeJson("md_all31.mov");
  EXPECT_NE(all.find("\"Album\": \"Caf\xC3\xA9 del Mar\""), std::string::npos) << all;
  EXPECT_NE(all.find("\"Special Playback Requirements\": \"value 26 of req\""), std::string::npos) << all;
}

}  // namespace
}  // namespace kestrel
