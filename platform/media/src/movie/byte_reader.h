// Big-endian numbers, and a bounds-checked reader of them from bytes in
// memory or from a data source. A read past the end sets the failure flag
// and yields zero; callers check ok() once at the end.
#ifndef QTMEDIA_MOVIE_BYTE_READER_H
#define QTMEDIA_MOVIE_BYTE_READER_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "movie/data_source.h"

namespace qtm {

inline uint16_t ReadBE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t ReadBE32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
inline uint64_t ReadBE64(const uint8_t* p) { return uint64_t{ReadBE32(p)} << 32 | ReadBE32(p + 4); }

// Over a data source the reader goes through a window of at most 64 KiB: a
// sample table of millions of entries is never held in memory whole, only
// in the form the sample table keeps.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : window_(data), end_(size), window_size_(size) {}
  ByteReader(const DataSource& source, uint64_t offset, uint64_t size)
      : source_(&source), pos_(offset), end_(offset + size), window_start_(offset) {}

  bool ok() const { return ok_; }
  uint64_t remaining() const { return end_ - pos_; }

  uint8_t U8() { return static_cast<uint8_t>(Take(1)); }
  uint16_t U16() { return static_cast<uint16_t>(Take(2)); }
  uint32_t U24() { return static_cast<uint32_t>(Take(3)); }
  uint32_t U32() { return static_cast<uint32_t>(Take(4)); }
  uint64_t U64() { return Take(8); }
  int16_t S16() { return static_cast<int16_t>(U16()); }
  int32_t S32() { return static_cast<int32_t>(U32()); }
  int64_t S64() { return static_cast<int64_t>(U64()); }
  void Skip(uint64_t n) {
    if (n > remaining()) return Fail();
    pos_ += n;
  }
  // Copies the next n bytes; false when fewer are left.
  bool Read(void* dst, size_t n);
  // The bytes from here to the end (none when the reader has failed).
  std::vector<uint8_t> Rest();

 private:
  static constexpr size_t kWindow = 64 * 1024;

  void Fail() {
    ok_ = false;
    pos_ = end_;
  }
  // Makes [pos_, pos_ + n) available in the window.
  bool Fill(size_t n);
  uint64_t Take(size_t n) {
    if (!Fill(n)) return 0;
    const uint8_t* p = window_ + (pos_ - window_start_);
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v = (v << 8) | p[i];
    pos_ += n;
    return v;
  }

  const DataSource* source_ = nullptr;  // none: the window is all the bytes
  const uint8_t* window_ = nullptr;     // the bytes from window_start_ on
  uint64_t pos_ = 0;
  uint64_t end_ = 0;
  uint64_t window_start_ = 0;
  size_t window_size_ = 0;
  std::vector<uint8_t> buffer_;  // the window's storage over a source
  bool ok_ = true;
};

}  // namespace qtm

#endif
