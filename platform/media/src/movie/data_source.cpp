// File and memory data sources, and a window of a source held in memory.
#include "movie/data_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

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

class MemorySource final : public DataSource {
 public:
  explicit MemorySource(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  bool ReadAt(uint64_t offset, void* dst, size_t size) const override {
    if (offset > bytes_.size() || size > bytes_.size() - offset) return false;
    if (size) std::memcpy(dst, bytes_.data() + offset, size);
    return true;
  }
  uint64_t Size() const override { return bytes_.size(); }

 private:
  std::vector<uint8_t> bytes_;
};

class WindowSource final : public DataSource {
 public:
  WindowSource(std::shared_ptr<DataSource> source, uint64_t offset, std::vector<uint8_t> bytes)
      : source_(std::move(source)), offset_(offset), bytes_(std::move(bytes)) {}
  bool ReadAt(uint64_t offset, void* dst, size_t size) const override {
    if (offset >= offset_ && offset - offset_ <= bytes_.size() && size <= bytes_.size() - (offset - offset_)) {
      if (size) std::memcpy(dst, bytes_.data() + (offset - offset_), size);
      return true;
    }
    return source_->ReadAt(offset, dst, size);
  }
  uint64_t Size() const override { return source_->Size(); }

 private:
  std::shared_ptr<DataSource> source_;
  uint64_t offset_;
  std::vector<uint8_t> bytes_;
};

}  // namespace

bool SpanSource::ReadAt(uint64_t offset, void* dst, size_t size) const {
  if (offset > size_ || size > size_ - offset) return false;
  if (size) std::memcpy(dst, data_ + offset, size);
  return true;
}

std::shared_ptr<DataSource> OpenFileSource(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return nullptr;
  }
  return std::make_shared<FileSource>(fd, static_cast<uint64_t>(st.st_size));
}

std::shared_ptr<DataSource> MakeMemorySource(std::vector<uint8_t> bytes) {
  return std::make_shared<MemorySource>(std::move(bytes));
}

std::shared_ptr<DataSource> MakeWindowSource(std::shared_ptr<DataSource> source, uint64_t offset,
                                             std::vector<uint8_t> bytes) {
  return std::make_shared<WindowSource>(std::move(source), offset, std::move(bytes));
}

}  // namespace qtm
