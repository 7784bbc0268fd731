// Files on Windows: the engine's one place that touches the file system
// there. Paths arrive as UTF-8 and are opened as wide paths, in the
// extended-length form where they are too long for the classic one.
#include <windows.h>

#include <string>

#include "movie/data_source.h"

namespace qtm {

namespace {

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

// The full path, with the "\\?\" prefix when it is MAX_PATH or longer: the
// prefix lifts the limit, and with it the system's own clean-up of the
// path, which GetFullPathNameW has done already.
std::wstring SystemPath(const std::string& utf8) {
  std::wstring path = Widen(utf8);
  if (path.empty() || path.find(L'\0') != std::wstring::npos) return std::wstring();
  if (path.rfind(L"\\\\?\\", 0) == 0) return path;
  DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return std::wstring();
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
  if (n == 0 || n >= full.size()) return std::wstring();
  full.resize(n);
  if (full.size() < MAX_PATH) return full;
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

class FileSource final : public DataSource {
 public:
  FileSource(HANDLE file, uint64_t size) : file_(file), size_(size) {}
  ~FileSource() override { CloseHandle(file_); }
  // Readers on several threads share the handle's file pointer, so each
  // read moves it under the lock. (A read at an explicit offset would spare
  // the lock, but costs Wine a round trip to its server every time.)
  bool ReadAt(uint64_t offset, void* dst, size_t size) const override {
    if (offset > size_ || size > size_ - offset) return false;
    auto* out = static_cast<uint8_t*>(dst);
    AcquireSRWLockExclusive(&lock_);
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    bool ok = SetFilePointerEx(file_, at, nullptr, FILE_BEGIN);
    while (ok && size > 0) {
      DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
      DWORD read = 0;
      ok = ReadFile(file_, out, chunk, &read, nullptr) && read > 0;
      out += read;
      size -= read;
    }
    ReleaseSRWLockExclusive(&lock_);
    return ok;
  }
  uint64_t Size() const override { return size_; }

 private:
  HANDLE file_;
  uint64_t size_;
  mutable SRWLOCK lock_ = SRWLOCK_INIT;
};

void SetError(FileOpenError* error, FileOpenError::Kind kind, std::string message = {}) {
  if (!error) return;
  error->kind = kind;
  error->message = std::move(message);
}

// The system's words for an error code, UTF-8; the code itself when it has none.
std::string SystemMessage(DWORD code) {
  wchar_t words[256];
  DWORD n =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, words, 256, nullptr);
  if (n == 0) return "error " + std::to_string(code);
  int bytes = WideCharToMultiByte(CP_UTF8, 0, words, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return "error " + std::to_string(code);
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, words, static_cast<int>(n), utf8.data(), bytes, nullptr, nullptr);
  return utf8;
}

// Why CreateFileW refused a path. A folder does not open as a file (the
// system says access is denied), so its attributes tell it apart.
void SetOpenError(FileOpenError* error, const std::wstring& system_path, DWORD code) {
  if (!error) return;
  DWORD attributes = GetFileAttributesW(system_path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    SetError(error, FileOpenError::kIsDirectory);
  } else if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == ERROR_INVALID_NAME ||
             code == ERROR_BAD_NETPATH || code == ERROR_INVALID_DRIVE) {
    SetError(error, FileOpenError::kNotFound);
  } else {
    SetError(error, FileOpenError::kUnreadable, SystemMessage(code));
  }
}

}  // namespace

std::shared_ptr<DataSource> OpenFileSource(const std::string& path, FileOpenError* error) {
  SetError(error, FileOpenError::kNone);
  std::wstring system_path = SystemPath(path);
  if (system_path.empty()) {
    SetError(error, FileOpenError::kNotFound);
    return nullptr;
  }
  HANDLE file = CreateFileW(system_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    SetOpenError(error, system_path, GetLastError());
    return nullptr;
  }
  LARGE_INTEGER size;
  if (GetFileType(file) != FILE_TYPE_DISK) {
    SetError(error, FileOpenError::kUnreadable, "not a regular file");
    CloseHandle(file);
    return nullptr;
  }
  if (!GetFileSizeEx(file, &size) || size.QuadPart < 0) {
    SetError(error, FileOpenError::kUnreadable, SystemMessage(GetLastError()));
    CloseHandle(file);
    return nullptr;
  }
  return std::make_shared<FileSource>(file, static_cast<uint64_t>(size.QuadPart));
}

bool FileExists(const std::string& path) {
  std::wstring system_path = SystemPath(path);
  return !system_path.empty() && GetFileAttributesW(system_path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string PathFromSystemName(const char* name) {
  int n = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
  if (n <= 1) return std::string();
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, name, -1, wide.data(), n);
  int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return std::string();
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, utf8.data(), bytes, nullptr, nullptr);
  utf8.resize(static_cast<size_t>(bytes) - 1);
  return utf8;
}

}  // namespace qtm
