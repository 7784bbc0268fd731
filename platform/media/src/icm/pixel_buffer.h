// Core Video pixel buffers: one picture of a packed pixel format, kept in a
// pool by the session that fills them and shared by reference count.
#ifndef QTMEDIA_ICM_PIXEL_BUFFER_H
#define QTMEDIA_ICM_PIXEL_BUFFER_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "qtmedia.h"

struct QtmPixelBuffer {
  static constexpr uint32_t kMagic = 0x50495842;  // 'PIXB'
  uint32_t magic = kMagic;
  std::atomic<int> refs{1};
  std::atomic<int> locks{0};
  OSType format = 0;
  int width = 0;
  int height = 0;
  size_t bytes_per_row = 0;
  uint8_t* data = nullptr;  // av_malloc'ed, 64-byte aligned rows
};

namespace qtm {

// Bytes per pixel of the packed formats a session emits; 0 for others.
int PackedBytesPerPixel(OSType format);

QtmPixelBuffer* NewPixelBuffer(OSType format, int width, int height);
void RetainPixelBuffer(QtmPixelBuffer* buffer);
void ReleasePixelBuffer(QtmPixelBuffer* buffer);

// Buffers of one format and size, reused once nobody but the pool holds them.
class PixelBufferPool {
 public:
  PixelBufferPool() = default;
  ~PixelBufferPool();
  PixelBufferPool(const PixelBufferPool&) = delete;
  PixelBufferPool& operator=(const PixelBufferPool&) = delete;

  void Configure(OSType format, int width, int height);
  // A buffer only the pool holds, with one more reference for the caller
  // (release it with ReleasePixelBuffer); null when out of memory.
  QtmPixelBuffer* Take();

 private:
  OSType format_ = 0;
  int width_ = 0, height_ = 0;
  std::vector<QtmPixelBuffer*> buffers_;
};

}  // namespace qtm

#endif
