#include "movie/format_input.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cstring>
#include <new>

namespace qtm {

namespace {

// libavformat's own file reads go 32 KB at a time.
constexpr int kBufferSize = 32768;

}  // namespace

std::unique_ptr<FormatInput> FormatInput::Open(std::shared_ptr<DataSource> source, const std::string& name,
                                               const std::vector<uint64_t>& hidden_tracks) {
  if (!source) return nullptr;
  std::unique_ptr<FormatInput> input(new (std::nothrow) FormatInput(std::move(source)));
  if (!input) return nullptr;
  // Only an atom whose type reads 'trak' is hidden.
  for (uint64_t offset : hidden_tracks) {
    uint8_t type[4];
    if (input->source_->ReadAt(offset + 4, type, sizeof type) && std::memcmp(type, "trak", 4) == 0)
      input->hidden_types_.push_back(offset + 4);
  }
  std::sort(input->hidden_types_.begin(), input->hidden_types_.end());
  auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
  if (!buffer) return nullptr;
  input->io_ = avio_alloc_context(buffer, kBufferSize, 0, input.get(), &FormatInput::Read, nullptr, &FormatInput::Seek);
  if (!input->io_) {
    av_free(buffer);
    return nullptr;
  }
  AVFormatContext* format = avformat_alloc_context();
  if (!format) return nullptr;
  format->pb = input->io_;
  // On failure libavformat frees the context it was given.
  if (avformat_open_input(&format, name.c_str(), nullptr, nullptr) < 0) return nullptr;
  input->format_ = format;
  return input;
}

FormatInput::~FormatInput() {
  avformat_close_input(&format_);
  if (io_) {
    av_freep(&io_->buffer);
    avio_context_free(&io_);
  }
}

int FormatInput::Read(void* opaque, uint8_t* buffer, int size) {
  auto* self = static_cast<FormatInput*>(opaque);
  uint64_t total = self->source_->Size();
  if (size <= 0) return 0;
  if (self->position_ >= total) return AVERROR_EOF;
  size_t count = static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(size), total - self->position_));
  if (!self->source_->ReadAt(self->position_, buffer, count)) return AVERROR(EIO);
  if (!self->hidden_types_.empty()) self->HideTracks(self->position_, buffer, count);
  self->position_ += count;
  return static_cast<int>(count);
}

void FormatInput::HideTracks(uint64_t position, uint8_t* buffer, size_t count) const {
  // Every type that overlaps this read: one may begin before it or end after it.
  auto it =
      position < 4 ? hidden_types_.begin() : std::upper_bound(hidden_types_.begin(), hidden_types_.end(), position - 4);
  for (; it != hidden_types_.end() && *it < position + count; ++it) {
    for (uint64_t at = std::max(*it, position); at < *it + 4 && at < position + count; ++at)
      buffer[at - position] = static_cast<uint8_t>("free"[at - *it]);
  }
}

int64_t FormatInput::Seek(void* opaque, int64_t offset, int whence) {
  auto* self = static_cast<FormatInput*>(opaque);
  int64_t total = static_cast<int64_t>(std::min<uint64_t>(self->source_->Size(), INT64_MAX));
  int64_t base;
  switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
      return total;
    case SEEK_SET:
      base = 0;
      break;
    case SEEK_CUR:
      base = static_cast<int64_t>(self->position_);
      break;
    case SEEK_END:
      base = total;
      break;
    default:
      return AVERROR(EINVAL);
  }
  if ((offset < 0 && base < -offset) || (offset > 0 && base > INT64_MAX - offset)) return AVERROR(EINVAL);
  self->position_ = static_cast<uint64_t>(base + offset);
  return base + offset;
}

}  // namespace qtm
