#include "movie/media_text.h"

#include <windows.h>

namespace kestrel {

std::wstring WideFromMediaText(const uint8_t* text, size_t size) {
  std::wstring out;
  if (!text || size == 0) return out;
  if (size >= 2 && ((text[0] == 0xFE && text[1] == 0xFF) || (text[0] == 0xFF && text[1] == 0xFE))) {
    const bool big = text[0] == 0xFE;
    for (size_t i = 2; i + 1 < size; i += 2) {
      wchar_t c =
          big ? static_cast<wchar_t>(text[i] << 8 | text[i + 1]) : static_cast<wchar_t>(text[i + 1] << 8 | text[i]);
      if (c == L'\0') break;
      out.push_back(c);
    }
    return out;
  }
  size_t length = 0;
  while (length < size && text[length] != 0) ++length;
  if (length == 0 || length > 0x7FFFFFFF) return out;
  const char* bytes = reinterpret_cast<const char*>(text);
  const int n = static_cast<int>(length);
  UINT page = CP_UTF8;
  int chars = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, bytes, n, nullptr, 0);
  if (chars <= 0) {
    page = 1252;
    chars = MultiByteToWideChar(page, 0, bytes, n, nullptr, 0);
    if (chars <= 0) return out;
  }
  out.resize(static_cast<size_t>(chars));
  MultiByteToWideChar(page, page == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0, bytes, n, out.data(), chars);
  return out;
}

}  // namespace kestrel
