// Where the tests find their fixtures, and path helpers for running under
// Wine (the Unix root is drive Z:).
#ifndef KESTREL_TESTS_TEST_ENV_H
#define KESTREL_TESTS_TEST_ENV_H

#include <string>

namespace kestrel::test {

// Unix path of the fixtures folder (KESTREL_FIXTURES).
std::string FixturesDir();

// The Windows path (ANSI) of a fixture, for example "Z:\\...\\h264.mov".
std::string FixturePath(const std::string& name);

// A Unix path as the Windows path Wine gives it.
std::string WindowsPathOf(const std::string& unix_path);

// Whole contents of a file given by its Windows path; empty when missing.
std::string ReadFileBytes(const std::string& windows_path);

// Runs kestrel-TOOL.exe (from KESTREL_BIN) with args; gives its standard
// output and, when asked, its exit code.
// error_output, when given, receives its standard error.
std::string RunTool(const std::string& tool, const std::string& args, unsigned long* exit_code = nullptr,
                    std::string* error_output = nullptr);
inline std::string RunProbe(const std::string& args, unsigned long* exit_code = nullptr) {
  return RunTool("probe", args, exit_code);
}

// A 32-bit value under HKLM\SOFTWARE\Corvane\Kestrel ("quality",
// "fieldmode") for the life of the object; deleted again after it.
class ScopedSetting {
 public:
  ScopedSetting(const wchar_t* name, unsigned long value);
  ~ScopedSetting();
  ScopedSetting(const ScopedSetting&) = delete;
  ScopedSetting& operator=(const ScopedSetting&) = delete;

 private:
  const wchar_t* name_;
};

}  // namespace kestrel::test

#endif
