#include "common/json_writer.h"

#include <windows.h>

#include <cmath>
#include <cstdio>

namespace kestrel::tools {

std::string Utf8(const wchar_t* wide) {
  if (!wide || !*wide) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, wide, -1, out.data(), n, nullptr, nullptr);
  return out;
}

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          snprintf(buf, sizeof(buf), "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string JsonString(const wchar_t* wide) { return JsonString(Utf8(wide)); }

std::string JsonNumber(double value) {
  if (!std::isfinite(value)) return "null";
  char buf[64];
  snprintf(buf, sizeof(buf), "%.17g", value);
  return buf;
}

std::string JsonNumber(int64_t value) { return std::to_string(value); }

std::string JsonObject::Text() const {
  std::string out = "{";
  bool first = true;
  for (const auto& [key, value] : members_) {
    if (!first) out += ", ";
    first = false;
    out += JsonString(key) + ": " + value;
  }
  return out + "}";
}

std::string JsonArray::Text() const {
  std::string out = "[";
  for (size_t i = 0; i < items_.size(); ++i) out += (i ? ", " : "") + items_[i];
  return out + "]";
}

}  // namespace kestrel::tools
