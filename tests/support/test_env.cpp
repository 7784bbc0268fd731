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

namespace {
const wchar_t kSettingsKey[] = L"SOFTWARE\\Corvane\\Kestrel";
}  // namespace

ScopedSetting::ScopedSetting(const wchar_t* name, unsigned long value) : name_(name) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return;
  DWORD data = value;
  RegSetValueExW(key, name_, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data));
  RegCloseKey(key);
}

ScopedSetting::~ScopedSetting() {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  RegDeleteValueW(key, name_);
  RegCloseKey(key);
}

std::string ReadFileBytes(const std::string& windows_path) {
  std::ifstream in(windows_path, std::ios::binary);
  if (!in) return {};
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string RunTool(const std::string& tool, const std::string& args, unsigned long* exit_code,
                    std::string* error_output) {
  const char* bin = getenv("KESTREL_BIN");
  std::string exe = WindowsPathOf(bin ? bin : ".") + "\\kestrel-" + tool + ".exe";
  std::string command = "\"" + exe + "\" " + args;
  SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  if (!CreatePipe(&read, &write, &sa, 0)) return {};
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA si = {};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = write;
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  // Standard error into a file when asked (a second pipe could fill while
  // the first is read).
  char error_path[MAX_PATH] = {};
  HANDLE error_file = INVALID_HANDLE_VALUE;
  if (error_output) {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    GetTempFileNameA(folder, "err", 0, error_path);
    error_file = CreateFileA(error_path, GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
    if (error_file != INVALID_HANDLE_VALUE) si.hStdError = error_file;
  }
  PROCESS_INFORMATION pi = {};
  BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  CloseHandle(write);
  std::string out;
  if (started) {
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(read, buffer, sizeof(buffer), &n, nullptr) && n > 0) out.append(buffer, n);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    if (exit_code) *exit_code = code;
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  CloseHandle(read);
  if (error_file != INVALID_HANDLE_VALUE) {
    CloseHandle(error_file);
    *error_output = ReadFileBytes(error_path);
    DeleteFileA(error_path);
  }
  return out;
}

}  // namespace kestrel::test
