// Bounds-checked big-endian reads from a byte buffer. A read past the end
// sets the failure flag and yields zero; callers check ok() once at the end.
#ifndef QTMEDIA_MOVIE_BYTE_READER_H
#define QTMEDIA_MOVIE_BYTE_READER_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qtm {

class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool ok() const { return ok_; }
  size_t pos() const { return pos_; }
  size_t remaining() const { return size_ - pos_; }
  const uint8_t* here() const { return data_ + pos_; }

  uint8_t U8() { return static_cast<uint8_t>(Take(1)); }
  uint16_t U16() { return static_cast<uint16_t>(Take(2)); }
  uint32_t U24() { return static_cast<uint32_t>(Take(3)); }
  uint32_t U32() { return static_cast<uint32_t>(Take(4)); }
  uint64_t U64() { return Take(8); }
  int16_t S16() { return static_cast<int16_t>(U16()); }
  int32_t S32() { return static_cast<int32_t>(U32()); }
  int64_t S64() { return static_cast<int64_t>(U64()); }
  void Skip(size_t n) {
    if (n > remaining()) {
      ok_ = false;
      pos_ = size_;
    } else {
      pos_ += n;
    }
  }

 private:
  uint64_t Take(size_t n) {
    if (n > remaining()) {
      ok_ = false;
      pos_ = size_;
      return 0;
    }
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v = (v << 8) | data_[pos_ + i];
    pos_ += n;
    return v;
  }

  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

// The same reads straight from a data source through a small window, for
// the sample-table atoms: a table of millions of entries is never held in
// memory whole, only in the form the sample table keeps.
template <typename Source>
class StreamReader {
 public:
  StreamReader(const Source& source, uint64_t offset, uint64_t size)
      : source_(source), pos_(offset), end_(offset + size) {}

  bool ok() const { return ok_; }
  uint64_t remaining() const { return end_ - pos_; }

  uint8_t U8() { return static_cast<uint8_t>(Take(1)); }
  uint16_t U16() { return static_cast<uint16_t>(Take(2)); }
  uint32_t U24() { return static_cast<uint32_t>(Take(3)); }
  uint32_t U32() { return static_cast<uint32_t>(Take(4)); }
  uint64_t U64() { return Take(8); }
  int32_t S32() { return static_cast<int32_t>(U32()); }
  int64_t S64() { return static_cast<int64_t>(U64()); }
  void Skip(uint64_t n) {
    if (n > remaining()) {
      ok_ = false;
      pos_ = end_;
    } else {
      pos_ += n;
    }
  }

 private:
  static constexpr size_t kWindow = 64 * 1024;

  uint64_t Take(size_t n) {
    if (n > remaining()) {
      ok_ = false;
      pos_ = end_;
      return 0;
    }
    if (pos_ < window_start_ || pos_ + n > window_start_ + window_size_) {
      window_start_ = pos_;
      window_size_ = static_cast<size_t>(remaining() < kWindow ? remaining() : kWindow);
      if (!source_.ReadAt(window_start_, window_, window_size_)) {
        ok_ = false;
        pos_ = end_;
        window_size_ = 0;
        return 0;
      }
    }
    const uint8_t* p = window_ + (pos_ - window_start_);
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v = (v << 8) | p[i];
    pos_ += n;
    return v;
  }

  const Source& source_;
  uint64_t pos_, end_;
  uint64_t window_start_ = 0;
  size_t window_size_ = 0;
  bool ok_ = true;
  uint8_t window_[kWindow];
};

inline uint32_t ReadBE32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

}  // namespace qtm

#endif
