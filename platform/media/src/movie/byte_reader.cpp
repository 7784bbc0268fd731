#include "movie/byte_reader.h"

#include <algorithm>
#include <cstring>

namespace qtm {

bool ByteReader::Fill(size_t n) {
  if (n > remaining()) {
    Fail();
    return false;
  }
  if (pos_ >= window_start_ && pos_ + n <= window_start_ + window_size_) return true;
  if (!source_) {  // cannot happen: the window is everything
    Fail();
    return false;
  }
  window_start_ = pos_;
  window_size_ = static_cast<size_t>(std::max<uint64_t>(n, std::min<uint64_t>(remaining(), kWindow)));
  buffer_.resize(window_size_);
  window_ = buffer_.data();
  if (!source_->ReadAt(window_start_, buffer_.data(), window_size_)) {
    window_size_ = 0;
    Fail();
    return false;
  }
  return true;
}

bool ByteReader::Read(void* dst, size_t n) {
  if (n > remaining()) {
    Fail();
    return false;
  }
  auto* out = static_cast<uint8_t*>(dst);
  while (n > 0) {  // a window at a time, so a long read never needs more memory
    size_t part = static_cast<size_t>(std::min<uint64_t>(n, kWindow));
    if (!Fill(part)) return false;
    std::memcpy(out, window_ + (pos_ - window_start_), part);
    pos_ += part;
    out += part;
    n -= part;
  }
  return true;
}

std::vector<uint8_t> ByteReader::Rest() {
  std::vector<uint8_t> bytes(static_cast<size_t>(remaining()));
  if (!Read(bytes.data(), bytes.size())) return {};
  return bytes;
}

}  // namespace qtm
