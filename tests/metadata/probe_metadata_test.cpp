// kestrel-probe --json: the user_data and timecode sections.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "support/test_env.h"

namespace kestrel {
namespace {

// Runs kestrel-probe.exe --json on a fixture and gives its standard output.
std::string ProbeJson(const std::string& fixture) {
  const char* bin = getenv("KESTREL_BIN");
  if (!bin) return "";
  std::string command = "\"" + test::WindowsPathOf(std::string(bin) + "/kestrel-probe.exe") + "\" --json \"" +
                        test::FixturePath(fixture) + "\"";
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  if (!CreatePipe(&read, &write, &sa, 0)) return "";
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = write;
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi = {};
  BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  CloseHandle(write);
  std::string out;
  if (started) {
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(read, buf, sizeof buf, &n, nullptr) && n > 0) out.append(buf, n);
    WaitForSingleObject(pi.hProcess, INFINITE);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  CloseHandle(read);
  return out;
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
