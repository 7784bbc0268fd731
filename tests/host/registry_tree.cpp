#include "host/registry_tree.h"

#include <cstdio>
#include <ostream>

#include "host/host_test_util.h"

namespace kestrel::test {
namespace {

void ReadInto(HKEY key, const std::wstring& path, RegTree* tree) {
  tree->keys.insert(path);
  for (DWORD i = 0;; ++i) {
    wchar_t name[16384];
    DWORD chars = 16384, type = 0, bytes = 0;
    if (RegEnumValueW(key, i, name, &chars, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) break;
    RegValue value;
    value.type = type;
    value.data.resize(bytes);
    chars = 16384;
    RegEnumValueW(key, i, name, &chars, nullptr, &type, value.data.data(), &bytes);
    tree->values[{path, name}] = value;
  }
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD chars = 256;
    if (RegEnumKeyExW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    HKEY child = nullptr;
    if (RegOpenKeyExW(key, name, 0, KEY_READ, &child) != ERROR_SUCCESS) continue;
    ReadInto(child, path + L"\\" + name, tree);
    RegCloseKey(child);
  }
}

}  // namespace

void PrintTo(const RegValue& value, std::ostream* out) {
  RegTree tree;
  tree.values[{L"", L""}] = value;
  *out << tree.Describe();
}

void PrintTo(const RegTree& tree, std::ostream* out) { *out << "\n" << tree.Describe(); }

std::string RegTree::Describe() const {
  std::string out;
  for (const auto& key : keys) out += Narrow(key) + "\n";
  for (const auto& [where, value] : values) {
    out += Narrow(where.first) + " | " + Narrow(where.second) + " = " + std::to_string(value.type) + ":";
    char hex[4];
    for (BYTE b : value.data) {
      snprintf(hex, sizeof(hex), "%02x", b);
      out += hex;
    }
    out += "\n";
  }
  return out;
}

RegTree ReadTree(const std::wstring& path) {
  RegTree tree;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return tree;
  ReadInto(key, path, &tree);
  RegCloseKey(key);
  return tree;
}

RegTree ReadTrees(const std::vector<std::wstring>& paths) {
  RegTree all;
  for (const auto& path : paths) {
    RegTree tree = ReadTree(path);
    all.keys.insert(tree.keys.begin(), tree.keys.end());
    all.values.insert(tree.values.begin(), tree.values.end());
  }
  return all;
}

void DeleteTree(const std::wstring& path) {
  RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
  RegDeleteKeyW(HKEY_CLASSES_ROOT, path.c_str());
}

void WriteTree(const RegTree& tree) {
  for (const auto& path : tree.keys) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) ==
        ERROR_SUCCESS)
      RegCloseKey(key);
  }
  for (const auto& [where, value] : tree.values) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, where.first.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) continue;
    // RegSetValueEx counts a null that directly follows a string's data into
    // the value: write from a copy followed by a character that is none.
    std::vector<BYTE> data = value.data;
    data.insert(data.end(), {0xFF, 0xFF});
    RegSetValueExW(key, where.second.empty() ? nullptr : where.second.c_str(), 0, value.type, data.data(),
                   static_cast<DWORD>(value.data.size()));
    RegCloseKey(key);
  }
}

RegValue StringValue(const std::wstring& text, bool terminated) {
  RegValue value;
  value.type = REG_SZ;
  size_t chars = text.size() + (terminated ? 1 : 0);
  const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
  value.data.assign(bytes, bytes + chars * sizeof(wchar_t));
  return value;
}

const std::vector<std::wstring>& Extensions() {
  static const std::vector<std::wstring> extensions = {
      L"sdp", L"mov", L"qt",  L"mqv",  L"dv",  L"dif",  L"aac", L"adts", L"aif", L"aifc", L"aiff", L"cdda", L"sd2",
      L"gsm", L"caf", L"3gp", L"3gpp", L"3g2", L"3gp2", L"amc", L"mp4",  L"m4a", L"m4b",  L"m4p",  L"m4v"};
  return extensions;
}

std::wstring ExtensionKey(const std::wstring& extension) { return L"Media Type\\Extensions\\." + extension; }

std::vector<std::wstring> RegisteredPaths() {
  std::vector<std::wstring> paths = {
      std::wstring(L"CLSID\\") + kKestrelText,
      std::wstring(L"CLSID\\") + kKestrelPropText,
      // The filter mapper's entry in the legacy filter category, and the
      // older mapper's.
      std::wstring(L"CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance\\") + kKestrelText,
      std::wstring(L"Filter\\") + kKestrelText,
      L"TypeLib\\{BB105142-B347-438E-B540-7C29CCBC7A52}",
  };
  for (const auto& extension : Extensions()) paths.push_back(ExtensionKey(extension));
  paths.push_back(kSignatureKey);
  return paths;
}

}  // namespace kestrel::test
