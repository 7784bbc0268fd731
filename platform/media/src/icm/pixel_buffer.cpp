#include "icm/pixel_buffer.h"

#include <new>

namespace qtm {

int PackedBytesPerPixel(OSType format) {
  switch (format) {
    case k2vuyPixelFormat:
    case kYUVSPixelFormat:
      return 2;
    case k32BGRAPixelFormat:
      return 4;
    default:
      return 0;
  }
}

QtmPixelBuffer* NewPixelBuffer(OSType format, int width, int height) {
  int bpp = PackedBytesPerPixel(format);
  if (bpp == 0 || width <= 0 || height <= 0 || width > 16384 || height > 16384) return nullptr;
  auto* buffer = new (std::nothrow) QtmPixelBuffer();
  if (!buffer) return nullptr;
  buffer->format = format;
  buffer->width = width;
  buffer->height = height;
  buffer->bytes_per_row = (static_cast<size_t>(width) * bpp + 63) & ~size_t{63};
  // One spare row: line doubling and swscale's vector stores may touch it.
  buffer->memory = av_buffer_allocz(buffer->bytes_per_row * (height + 1));
  buffer->pending = av_frame_alloc();
  if (!buffer->memory || !buffer->pending) {
    av_buffer_unref(&buffer->memory);
    av_frame_free(&buffer->pending);
    delete buffer;
    return nullptr;
  }
  buffer->data = buffer->memory->data;
  return buffer;
}

void RetainPixelBuffer(QtmPixelBuffer* buffer) {
  if (buffer) buffer->refs.fetch_add(1, std::memory_order_relaxed);
}

void ReleasePixelBuffer(QtmPixelBuffer* buffer) {
  if (buffer && buffer->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    buffer->magic = 0;
    av_frame_free(&buffer->pending);
    av_buffer_unref(&buffer->memory);
    delete buffer;
  }
}

void SetPendingPicture(QtmPixelBuffer* buffer, AVFrame* frame, std::shared_ptr<PictureConverter> converter,
                       const ConversionSettings& settings) {
  std::lock_guard<std::mutex> guard(buffer->pending_lock);
  av_frame_unref(buffer->pending);
  av_frame_move_ref(buffer->pending, frame);
  buffer->converter = std::move(converter);
  buffer->settings = settings;
}

bool ResolvePendingPicture(QtmPixelBuffer* buffer) {
  std::lock_guard<std::mutex> guard(buffer->pending_lock);
  if (!buffer->pending->buf[0]) return true;
  bool ok = buffer->converter && buffer->converter->Convert(buffer->pending, buffer->settings, buffer);
  av_frame_unref(buffer->pending);
  buffer->converter.reset();
  return ok;
}

bool ConvertPendingPictureInto(QtmPixelBuffer* buffer, uint8_t* data, size_t bytes_per_row, size_t size) {
  std::lock_guard<std::mutex> guard(buffer->pending_lock);
  if (!buffer->pending->buf[0] || !buffer->converter || !data || buffer->height <= 0) return false;
  size_t row = static_cast<size_t>(buffer->width) * PackedBytesPerPixel(buffer->format);
  size_t rows = static_cast<size_t>(buffer->height);
  // The last row ends inside size: (rows - 1) * bytes_per_row + row <= size.
  if (row == 0 || bytes_per_row < row || size < row || (rows > 1 && bytes_per_row > (size - row) / (rows - 1)))
    return false;
  return buffer->converter->ConvertInto(buffer->pending, buffer->settings, data, bytes_per_row);
}

PixelBufferPool::~PixelBufferPool() {
  for (QtmPixelBuffer* b : buffers_) ReleasePixelBuffer(b);
}

void PixelBufferPool::Configure(OSType format, int width, int height) {
  if (format == format_ && width == width_ && height == height_) return;
  for (QtmPixelBuffer* b : buffers_) ReleasePixelBuffer(b);
  buffers_.clear();
  format_ = format;
  width_ = width;
  height_ = height;
}

QtmPixelBuffer* PixelBufferPool::Take() {
  for (QtmPixelBuffer* b : buffers_) {
    if (b->refs.load(std::memory_order_acquire) == 1) {
      RetainPixelBuffer(b);
      std::lock_guard<std::mutex> guard(b->pending_lock);
      av_frame_unref(b->pending);
      b->converter.reset();
      return b;
    }
  }
  QtmPixelBuffer* b = NewPixelBuffer(format_, width_, height_);
  if (!b) return nullptr;
  buffers_.push_back(b);
  RetainPixelBuffer(b);
  return b;
}

QtmPixelBuffer* ValidPixelBuffer(CVPixelBufferRef buffer) {
  return buffer && buffer->magic == QtmPixelBuffer::kMagic ? buffer : nullptr;
}

}  // namespace qtm
