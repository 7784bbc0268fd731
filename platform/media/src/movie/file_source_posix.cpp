// Files on a POSIX system: the engine's one place that touches the file
// system there (file_source_win32.cpp is Windows' own).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "movie/data_source.h"

namespace qtm {

namespace {

class FileSource final : public DataSource {
 public:
  FileSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
  ~FileSource() override { close(fd_); }
  bool ReadAt(uint64_t offset, void* dst, size_t size) const override {
    if (offset > size_ || size > size_ - offset) return false;
    auto* out = static_cast<uint8_t*>(dst);
    while (size > 0) {
      ssize_t n = pread(fd_, out, size, static_cast<off_t>(offset));
      if (n <= 0) return false;
      out += n;
      offset += static_cast<uint64_t>(n);
      size -= static_cast<size_t>(n);
    }
    return true;
  }
  uint64_t Size() const override { return size_; }

 private:
  int fd_;
  uint64_t size_;
};

void SetError(FileOpenError* error, FileOpenError::Kind kind, std::string message = {}) {
  if (!error) return;
  error->kind = kind;
  error->message = std::move(message);
}

// What errno says of a path that did not open.
void SetErrnoError(FileOpenError* error, int code) {
  if (code == ENOENT || code == ENOTDIR) {
    SetError(error, FileOpenError::kNotFound);
  } else if (code == EISDIR) {
    SetError(error, FileOpenError::kIsDirectory);
  } else {
    char text[256] = {};
    // The GNU strerror_r answers its text, which need not be in the buffer.
    const char* words = strerror_r(code, text, sizeof text);
    SetError(error, FileOpenError::kUnreadable, words ? words : "");
  }
}

}  // namespace

std::shared_ptr<DataSource> OpenFileSource(const std::string& path, FileOpenError* error) {
  SetError(error, FileOpenError::kNone);
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    SetErrnoError(error, errno);
    return nullptr;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    SetErrnoError(error, errno);
    close(fd);
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) {
    SetError(error, S_ISDIR(st.st_mode) ? FileOpenError::kIsDirectory : FileOpenError::kUnreadable,
             S_ISDIR(st.st_mode) ? "" : "not a regular file");
    close(fd);
    return nullptr;
  }
  return std::make_shared<FileSource>(fd, static_cast<uint64_t>(st.st_size));
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::string PathFromSystemName(const char* name) { return name; }

}  // namespace qtm
