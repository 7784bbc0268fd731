// Minimal JSON text building for the tools' output.
#ifndef KESTREL_TOOLS_COMMON_JSON_WRITER_H
#define KESTREL_TOOLS_COMMON_JSON_WRITER_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kestrel::tools {

std::string JsonString(const std::string& utf8);
std::string JsonString(const wchar_t* wide);  // converted to UTF-8
std::string JsonNumber(double value);
std::string JsonNumber(int64_t value);

// An object built key by key; values are JSON text already.
class JsonObject {
 public:
  void Add(const std::string& key, const std::string& json_value) { members_.emplace_back(key, json_value); }
  std::string Text() const;
  bool empty() const { return members_.empty(); }

 private:
  std::vector<std::pair<std::string, std::string>> members_;
};

// An array built item by item; items are JSON text already.
class JsonArray {
 public:
  void Add(const std::string& json_value) { items_.push_back(json_value); }
  std::string Text() const;

 private:
  std::vector<std::string> items_;
};

std::string Utf8(const wchar_t* wide);

}  // namespace kestrel::tools

#endif
