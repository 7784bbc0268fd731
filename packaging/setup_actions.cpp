// The installer package's own actions, run by Windows Installer from the
// package's Binary table (kestrel-setup-actions.dll). Each takes the
// installation folder as its data.
//
// ScheduleLeftoverRemoval: deferred, at removal, after the files are
// removed. A module that a running graph has loaded may still be in the
// folder: it, then the folder, is deleted at restart, and the installation
// asks for a restart (exit code 3010).
//
// CancelLeftoverRemoval: deferred, at installation, after the files are
// installed. Deletions at restart that an earlier removal scheduled in the
// folder (an upgrade removes the older version first) would take the new
// files: they are taken off the list.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <string>
#include <vector>

namespace {

constexpr const wchar_t* kInstalledFiles[] = {L"kestrel.ax", L"kestrelmedia.dll"};
constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingRenames[] = L"PendingFileRenameOperations";

// The installation folder without its final backslash; empty when unknown.
std::wstring Folder(MSIHANDLE install) {
  DWORD size = 0;
  wchar_t empty[1] = {};
  if (MsiGetPropertyW(install, L"CustomActionData", empty, &size) != ERROR_MORE_DATA) return {};
  std::wstring value(size + 1, L'\0');
  size = static_cast<DWORD>(value.size());
  if (MsiGetPropertyW(install, L"CustomActionData", value.data(), &size) != ERROR_SUCCESS) return {};
  value.resize(size);
  while (!value.empty() && value.back() == L'\\') value.pop_back();
  return value;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

// Whether a scheduled deletion names the folder or one of our files in it
// (the list's paths begin with "\??\").
bool IsOurs(std::wstring path, const std::wstring& folder) {
  if (path.rfind(L"\\??\\", 0) == 0) path.erase(0, 4);
  if (SamePath(path, folder)) return true;
  for (const wchar_t* name : kInstalledFiles) {
    if (SamePath(path, folder + L"\\" + name)) return true;
  }
  return false;
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall ScheduleLeftoverRemoval(MSIHANDLE install) {
  const std::wstring folder = Folder(install);
  if (folder.empty() || !Exists(folder)) return ERROR_SUCCESS;
  bool scheduled = false;
  for (const wchar_t* name : kInstalledFiles) {
    const std::wstring path = folder + L"\\" + name;
    if (!Exists(path)) continue;
    if (!MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return ERROR_INSTALL_FAILURE;
    scheduled = true;
  }
  if (!scheduled) return ERROR_SUCCESS;
  // After the files: the folder goes at restart if nothing else is in it.
  if (!MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return ERROR_INSTALL_FAILURE;
  MsiSetMode(install, MSIRUNMODE_REBOOTATEND, TRUE);
  return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall CancelLeftoverRemoval(MSIHANDLE install) {
  const std::wstring folder = Folder(install);
  if (folder.empty()) return ERROR_SUCCESS;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
    return ERROR_SUCCESS;
  DWORD type = 0, bytes = 0;
  LSTATUS status = RegQueryValueExW(key, kPendingRenames, nullptr, &type, nullptr, &bytes);
  if (status != ERROR_SUCCESS || type != REG_MULTI_SZ || bytes == 0) {
    RegCloseKey(key);
    return ERROR_SUCCESS;
  }
  std::vector<wchar_t> list(bytes / sizeof(wchar_t) + 2, L'\0');
  status = RegQueryValueExW(key, kPendingRenames, nullptr, &type, reinterpret_cast<BYTE*>(list.data()), &bytes);
  if (status != ERROR_SUCCESS) {
    RegCloseKey(key);
    return ERROR_SUCCESS;
  }
  // Pairs of strings: a source, then its destination (empty: deleted).
  std::vector<std::wstring> names;
  const wchar_t* end = list.data() + bytes / sizeof(wchar_t);
  for (const wchar_t* at = list.data(); at < end;) {
    std::wstring name(at);
    at += name.size() + 1;
    names.push_back(std::move(name));
  }
  std::wstring kept;
  bool dropped = false;
  for (size_t i = 0; i + 1 < names.size(); i += 2) {
    if (names[i].empty() && names[i + 1].empty()) continue;  // the list's end
    if (names[i + 1].empty() && IsOurs(names[i], folder)) {
      dropped = true;
      continue;
    }
    kept += names[i] + L'\0' + names[i + 1] + L'\0';
  }
  UINT result = ERROR_SUCCESS;
  if (dropped) {
    if (kept.empty()) {
      status = RegDeleteValueW(key, kPendingRenames);
    } else {
      kept += L'\0';
      status = RegSetValueExW(key, kPendingRenames, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                              static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
    }
    if (status != ERROR_SUCCESS) result = ERROR_INSTALL_FAILURE;
  }
  RegCloseKey(key);
  return result;
}
