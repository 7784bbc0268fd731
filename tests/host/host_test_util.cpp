#include "host/host_test_util.h"

#include <shlobj.h>

#include <cstdlib>
#include <fstream>
#include <regex>

#include "support/test_env.h"

namespace kestrel::test {
namespace {

std::string LogPath() {
  char folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, 0, folder))) return {};
  return std::string(folder) + "\\KestrelFilter.log";
}

template <class Fn>
void Resolve(HMODULE module, const char* name, Fn* fn) {
  *fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

std::wstring ModulePath() {
  const char* bin = getenv("KESTREL_BIN");
  std::string path = WindowsPathOf(bin ? bin : ".") + "\\kestrel.ax";
  return std::wstring(path.begin(), path.end());
}

const KestrelModule& Kestrel() {
  static const KestrelModule loaded = [] {
    KestrelModule m;
    m.module = LoadLibraryW(ModulePath().c_str());
    if (!m.module) return m;
    Resolve(m.module, "DllGetClassObject", &m.GetClassObject);
    Resolve(m.module, "DllCanUnloadNow", &m.CanUnloadNow);
    Resolve(m.module, "DllRegisterServer", &m.RegisterServer);
    Resolve(m.module, "DllUnregisterServer", &m.UnregisterServer);
    return m;
  }();
  return loaded;
}

DWORD RunRegSvr32(bool unregister) {
  std::wstring command = L"regsvr32.exe /s ";
  if (unregister) command += L"/u ";
  command += L"\"" + ModulePath() + L"\"";
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    return GetLastError() | 0x10000000;
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return code;
}

std::string LogBytes() { return ReadFileBytes(LogPath()); }

std::vector<std::string> LogMessages(bool* well_formed) {
  std::string bytes = LogBytes();
  static const std::regex record("\r\n[0-2][0-9]:[0-5][0-9]:[0-5][0-9] - ([^\r\n]*)");
  std::vector<std::string> messages;
  size_t covered = 0;
  for (auto it = std::sregex_iterator(bytes.begin(), bytes.end(), record); it != std::sregex_iterator(); ++it) {
    if (static_cast<size_t>(it->position()) != covered) break;
    messages.push_back((*it)[1]);
    covered += it->length();
  }
  if (well_formed) *well_formed = covered == bytes.size();
  return messages;
}

void WriteLogBytes(const std::string& bytes) {
  std::ofstream out(LogPath(), std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::string WineRegistrationLine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  auto version =
      reinterpret_cast<const char*(CDECL*)()>(reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")));
  return std::string("Wine ") + (version ? version() : "?") +
         ": file kinds registered by byte signature; the extension keys of the kinds the signatures cover are left "
         "out.";
}

}  // namespace kestrel::test
