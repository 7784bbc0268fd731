#include "support/test_env.h"

#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kestrel::test {

std::string FixturesDir() {
  const char* dir = getenv("KESTREL_FIXTURES");
  return dir ? dir : "";
}

std::string WindowsPathOf(const std::string& unix_path) {
  std::string out = "Z:";
  for (char c : unix_path) out += (c == '/') ? '\\' : c;
  return out;
}

std::string FixturePath(const std::string& name) { return WindowsPathOf(FixturesDir() + "/" + name); }

std::string ReadFileBytes(const std::string& windows_path) {
  std::ifstream in(windows_path, std::ios::binary);
  if (!in) return {};
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace kestrel::test
