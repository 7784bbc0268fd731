// Memory data sources, a window of a source held in memory, and paths
// given in UTF-16. Files are read by the system's own source
// (file_source_posix.cpp, file_source_win32.cpp).
#include "movie/data_source.h"

#include <cstring>

namespace qtm {

namespace {

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

std::string PathFromUtf16(const uint16_t* path) {
  std::string out;
  for (const uint16_t* p = path; *p; ++p) {
    uint32_t c = *p;
    if (c >= 0xD800 && c < 0xDC00) {
      if (p[1] < 0xDC00 || p[1] >= 0xE000) return std::string();
      c = 0x10000 + ((c - 0xD800) << 10) + (*++p - 0xDC00);
    } else if (c >= 0xDC00 && c < 0xE000) {
      return std::string();
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::shared_ptr<DataSource> MakeMemorySource(std::vector<uint8_t> bytes) {
  return std::make_shared<MemorySource>(std::move(bytes));
}

std::shared_ptr<DataSource> MakeWindowSource(std::shared_ptr<DataSource> source, uint64_t offset,
                                             std::vector<uint8_t> bytes) {
  return std::make_shared<WindowSource>(std::move(source), offset, std::move(bytes));
}

}  // namespace qtm
