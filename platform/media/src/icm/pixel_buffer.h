// Core Video pixel buffers: one picture of a packed pixel format, kept in a
// pool by the session that fills them and shared by reference count. A
// buffer may hold its picture still unconverted (a decoded frame and the
// converter for it): the first lock of its base address converts it.
#ifndef QTMEDIA_ICM_PIXEL_BUFFER_H
#define QTMEDIA_ICM_PIXEL_BUFFER_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "icm/picture_converter.h"
#include "qtmedia.h"

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
}

struct QtmPixelBuffer {
  static constexpr uint32_t kMagic = 0x50495842;  // 'PIXB'
  uint32_t magic = kMagic;
  std::atomic<int> refs{1};
  std::atomic<int> locks{0};
  OSType format = 0;
  int width = 0;
  int height = 0;
  size_t bytes_per_row = 0;
  uint8_t* data = nullptr;        // 64-byte aligned rows
  AVBufferRef* memory = nullptr;  // owns data
  // The picture not converted yet: pending holds a decoded frame while its
  // buf[0] is set.
  std::mutex pending_lock;
  AVFrame* pending = nullptr;
  std::shared_ptr<qtm::PictureConverter> converter;
  qtm::ConversionSettings settings;
};

namespace qtm {

// Bytes per pixel of the packed formats a session emits; 0 for others.
int PackedBytesPerPixel(OSType format);

QtmPixelBuffer* NewPixelBuffer(OSType format, int width, int height);
void RetainPixelBuffer(QtmPixelBuffer* buffer);
void ReleasePixelBuffer(QtmPixelBuffer* buffer);
// The buffer behind a reference a caller passed, or null when it is not one.
QtmPixelBuffer* ValidPixelBuffer(CVPixelBufferRef buffer);

// Gives buffer the decoded frame (its references move in; frame is left
// blank) to convert on the first lock, replacing any picture it held.
void SetPendingPicture(QtmPixelBuffer* buffer, AVFrame* frame, std::shared_ptr<PictureConverter> converter,
                       const ConversionSettings& settings);
// Converts the pending picture, if any; false when that fails.
bool ResolvePendingPicture(QtmPixelBuffer* buffer);
// Converts the pending picture straight into size bytes of the caller's
// memory, rows bytes_per_row apart; the buffer keeps it pending. False when
// nothing is pending (the caller copies the converted picture) or the
// conversion cannot write there (PictureConverter::ConvertInto).
bool ConvertPendingPictureInto(QtmPixelBuffer* buffer, uint8_t* data, size_t bytes_per_row, size_t size);

// Buffers of one format and size, reused once nobody but the pool holds them.
class PixelBufferPool {
 public:
  PixelBufferPool() = default;
  ~PixelBufferPool();
  PixelBufferPool(const PixelBufferPool&) = delete;
  PixelBufferPool& operator=(const PixelBufferPool&) = delete;

  void Configure(OSType format, int width, int height);
  // A buffer only the pool holds (any picture it still held dropped), with
  // one more reference for the caller (release it with ReleasePixelBuffer);
  // null when out of memory.
  QtmPixelBuffer* Take();

 private:
  OSType format_ = 0;
  int width_ = 0, height_ = 0;
  std::vector<QtmPixelBuffer*> buffers_;
};

}  // namespace qtm

#endif
