// RegKey: one open registry key, closed when it goes out of scope.
#ifndef KESTREL_HOST_REG_KEY_H
#define KESTREL_HOST_REG_KEY_H

#include <windows.h>

namespace kestrel {

class RegKey {
 public:
  RegKey() = default;
  ~RegKey() { Close(); }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;

  // Creates the key or opens it when it exists.
  LONG Create(HKEY parent, const wchar_t* path, REGSAM access) {
    Close();
    return RegCreateKeyExW(parent, path, 0, nullptr, 0, access, nullptr, &m_key, nullptr);
  }
  LONG Open(HKEY parent, const wchar_t* path, REGSAM access) {
    Close();
    return RegOpenKeyExW(parent, path, 0, access, &m_key);
  }
  // A string value; bytes is its size as stored (with or without the
  // terminating null).
  LONG SetString(const wchar_t* name, const wchar_t* text, DWORD bytes) {
    return RegSetValueExW(m_key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
  }
  void Close() {
    if (m_key) RegCloseKey(m_key);
    m_key = nullptr;
  }
  HKEY Get() const { return m_key; }

 private:
  HKEY m_key = nullptr;
};

}  // namespace kestrel

#endif
