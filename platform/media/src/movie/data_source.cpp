// Memory data sources, and a window of a source held in memory. Files are
// read by the system's own source (file_source_posix.cpp).
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

std::shared_ptr<DataSource> MakeMemorySource(std::vector<uint8_t> bytes) {
  return std::make_shared<MemorySource>(std::move(bytes));
}

std::shared_ptr<DataSource> MakeWindowSource(std::shared_ptr<DataSource> source, uint64_t offset,
                                             std::vector<uint8_t> bytes) {
  return std::make_shared<WindowSource>(std::move(source), offset, std::move(bytes));
}

}  // namespace qtm
