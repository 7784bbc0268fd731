#include "base/log.h"

#include <windows.h>

#include <shlobj.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <mutex>

namespace {

constexpr size_t kPathChars = 260;
constexpr size_t kMessageChars = 260;
constexpr size_t kTimeChars = 128;
constexpr size_t kLineChars = 4096;

std::mutex g_log_mutex;  // serialises writers: the buffers below are shared
wchar_t g_log_path[kPathChars];
wchar_t g_message[kMessageChars];
wchar_t g_time[kTimeChars];
wchar_t g_line[kLineChars];

// Appends src to dst (capacity chars), cutting what does not fit.
void AppendBounded(wchar_t* dst, size_t capacity, const wchar_t* src) {
  size_t used = wcslen(dst);
  if (used + 1 >= capacity) return;
  wcsncat(dst, src, capacity - used - 1);
}

}  // namespace

int ResetLog() {
  std::lock_guard<std::mutex> lock(g_log_mutex);
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, 0, folder))) return 0;
  g_log_path[0] = L'\0';
  AppendBounded(g_log_path, kPathChars, folder);
  AppendBounded(g_log_path, kPathChars, L"\\");
  AppendBounded(g_log_path, kPathChars, L"KestrelFilter.log");
  DeleteFileW(g_log_path);
  return 1;
}

int WriteLog(const wchar_t* format, ...) {
  std::lock_guard<std::mutex> lock(g_log_mutex);
  if (g_log_path[0] == L'\0' || !format) return 0;
  FILE* file = _wfopen(g_log_path, L"at");
  if (!file) return 0;

  _wstrtime(g_time);

  va_list args;
  va_start(args, format);
  // The runtime's own formatter: %s is a wide string, %I64d is understood.
  int n = _vsnwprintf(g_message, kMessageChars - 1, format, args);
  va_end(args);
  if (n < 0) g_message[kMessageChars - 1] = L'\0';  // cut, not overrun
  g_message[kMessageChars - 1] = L'\0';

  g_line[0] = L'\0';
  AppendBounded(g_line, kLineChars, g_time);
  AppendBounded(g_line, kLineChars, L" - ");
  AppendBounded(g_line, kLineChars, g_message);

  fputws(L"\n", file);
  fputws(g_line, file);
  fclose(file);
  return 1;
}

const wchar_t* GetLogPath() { return g_log_path; }
