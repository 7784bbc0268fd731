// The file extensions whose files the filter opens: one
// "Media Type\Extensions\.ext" key each under HKEY_CLASSES_ROOT, with the
// "Source Filter" value naming CLSID_Kestrel.
#include <objbase.h>

#include <cwchar>

#include "base/log.h"
#include "filter/kestrel.h"
#include "host/reg_key.h"
#include "host/registration.h"

namespace kestrel {
namespace {

constexpr size_t kKeyChars = 260;
constexpr size_t kClassChars = 38;  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"

const wchar_t* const kExtensions[] = {
    L"sdp", L"mov", L"qt",  L"mqv",  L"dv",  L"dif",  L"aac", L"adts", L"aif", L"aifc", L"aiff", L"cdda", L"sd2",
    L"gsm", L"caf", L"3gp", L"3gpp", L"3g2", L"3gp2", L"amc", L"mp4",  L"m4a", L"m4b",  L"m4p",  L"m4v",
};

void ExtensionKeyPath(const wchar_t* extension, wchar_t (&path)[kKeyChars]) {
  swprintf(path, kKeyChars, L"Media Type\\Extensions\\.%ls", extension);
}

// Whether the key's "Source Filter" names the given class string (compared
// without regard to case; a terminating null may or may not be stored: older
// registrations wrote the 76 bytes of the characters alone).
bool NamesClass(HKEY key, const wchar_t* classText) {
  wchar_t value[kClassChars + 2] = {};
  DWORD type = 0, bytes = sizeof(value) - sizeof(wchar_t);
  if (RegQueryValueExW(key, L"Source Filter", nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes) != ERROR_SUCCESS)
    return false;
  if (type != REG_SZ) return false;
  return _wcsicmp(value, classText) == 0;
}

// Takes Kestrel's "Source Filter" out of one extension key, and the key
// when nothing else is left in it. A key that is missing or names another
// filter is left as it is.
HRESULT RemoveExtension(const wchar_t* path, const wchar_t* classText) {
  RegKey key;
  LONG rc = key.Open(HKEY_CLASSES_ROOT, path, KEY_QUERY_VALUE);
  if (rc == ERROR_FILE_NOT_FOUND) return S_OK;
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  if (!NamesClass(key.Get(), classText)) return S_OK;

  rc = key.Open(HKEY_CLASSES_ROOT, path, KEY_QUERY_VALUE | KEY_SET_VALUE);
  if (rc == ERROR_SUCCESS) rc = RegDeleteValueW(key.Get(), L"Source Filter");
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  DWORD subkeys = 0, values = 0;
  rc = RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                        nullptr, nullptr);
  key.Close();
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  if (subkeys != 0 || values != 0) return S_OK;
  rc = RegDeleteKeyW(HKEY_CLASSES_ROOT, path);
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(rc);
}

// RemoveExtension, its failure logged; false when it failed.
bool RemoveExtensionLogged(const wchar_t* path, const wchar_t* classText) {
  if (SUCCEEDED(RemoveExtension(path, classText))) return true;
  WriteLog(L"ERROR! EliminateSubKey(HKEY_CLASSES_ROOT, %s); failed!", path);
  return false;
}

}  // namespace

HRESULT RegisterExtensions() {
  ResetLog();
  wchar_t classText[40] = {};
  StringFromGUID2(CLSID_Kestrel, classText, 40);
  // The value is the 38 characters and their terminating null, 78 bytes, as
  // REG_SZ data should be: a reader with a buffer of 39 characters gets a
  // terminated string.
  bool failed = false;
  for (const wchar_t* extension : kExtensions) {
    wchar_t path[kKeyChars];
    ExtensionKeyPath(extension, path);
    if (ExtensionKeyLeftOut(extension)) {
      // A key of an earlier registration would hide the signature.
      if (!RemoveExtensionLogged(path, classText)) failed = true;
      continue;
    }
    RegKey key;
    if (key.Create(HKEY_CLASSES_ROOT, path, KEY_SET_VALUE) != ERROR_SUCCESS) {
      WriteLog(L"ERROR! RegCreateKey( HKEY_CLASSES_ROOT, %s, &hkey); failed!", path);
      failed = true;
      continue;
    }
    if (key.SetString(L"Source Filter", classText, (kClassChars + 1) * sizeof(wchar_t)) != ERROR_SUCCESS) {
      WriteLog(L"ERROR! RegSetValueEx failed!");
      failed = true;
    }
  }
  WriteLog(failed ? L"DllRegisterServer() Failed." : L"DllRegisterServer() Successful.");
  return failed ? E_FAIL : S_OK;
}

HRESULT UnregisterExtensions() {
  ResetLog();
  WriteLog(L"Starting DllUnregisterServer()...");
  wchar_t classText[40] = {};
  StringFromGUID2(CLSID_Kestrel, classText, 40);
  bool failed = false;
  for (const wchar_t* extension : kExtensions) {
    wchar_t path[kKeyChars];
    ExtensionKeyPath(extension, path);
    if (!RemoveExtensionLogged(path, classText)) failed = true;
  }
  WriteLog(failed ? L"DllUnregisterServer() Failed." : L"DllUnregisterServer() Successful.");
  return failed ? E_FAIL : S_OK;
}

}  // namespace kestrel
