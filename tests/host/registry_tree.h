// A registry subtree read into memory: every key and every value, with type
// and bytes exactly as stored. Used to compare the registry before and
// after, and to put back what a test found.
#ifndef KESTREL_TESTS_HOST_REGISTRY_TREE_H
#define KESTREL_TESTS_HOST_REGISTRY_TREE_H

#include <windows.h>

#include <iosfwd>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace kestrel::test {

struct RegValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  bool operator==(const RegValue&) const = default;
};

// Keys and values by path under HKEY_CLASSES_ROOT; a value is named by its
// key's path and its name ("" for the default value).
struct RegTree {
  std::set<std::wstring> keys;
  std::map<std::pair<std::wstring, std::wstring>, RegValue> values;
  bool operator==(const RegTree&) const = default;
  bool Empty() const { return keys.empty(); }
  // "key" and "key\name = type:hex" lines, for failure messages.
  std::string Describe() const;
};

// gtest's printers: the Describe lines.
void PrintTo(const RegValue& value, std::ostream* out);
void PrintTo(const RegTree& tree, std::ostream* out);

// The subtree at path under HKEY_CLASSES_ROOT; empty when the key is missing.
RegTree ReadTree(const std::wstring& path);
// Several subtrees in one.
RegTree ReadTrees(const std::vector<std::wstring>& paths);
// Deletes the subtree at path (nothing when missing).
void DeleteTree(const std::wstring& path);
// Writes every key and value of tree.
void WriteTree(const RegTree& tree);

// A string value as written with its terminating null (or without it).
RegValue StringValue(const std::wstring& text, bool terminated = true);

// Kestrel's byte-signature entry (under MEDIATYPE_Stream).
inline constexpr wchar_t kSignatureKey[] =
    L"Media Type\\{E436EB83-524F-11CE-9F53-0020AF0BA770}\\{07102C73-BEF4-4723-9BDA-E4CE887C84AB}";

// Paths of everything registration writes: the classes' keys, the filter
// mapper's entries, the 25 extension keys, the signature entry and the type
// library.
std::vector<std::wstring> RegisteredPaths();
// The 25 extensions, in registration order.
const std::vector<std::wstring>& Extensions();
std::wstring ExtensionKey(const std::wstring& extension);

}  // namespace kestrel::test

#endif
