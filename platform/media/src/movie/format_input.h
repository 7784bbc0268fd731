// libavformat reading one of the engine's data sources: the engine's files
// reach FFmpeg only this way, so every system opens them as it opens the
// movie reader's (file_source_*.cpp).
#ifndef QTMEDIA_MOVIE_FORMAT_INPUT_H
#define QTMEDIA_MOVIE_FORMAT_INPUT_H

#include <memory>
#include <string>

#include "movie/data_source.h"

struct AVFormatContext;
struct AVIOContext;

namespace qtm {

class FormatInput {
 public:
  // libavformat's input on source: probed from its first bytes and name
  // (the file's path: some kinds are known by their extension), the
  // header read. Null when libavformat refuses it or memory runs out.
  static std::unique_ptr<FormatInput> Open(std::shared_ptr<DataSource> source, const std::string& name);
  ~FormatInput();
  FormatInput(const FormatInput&) = delete;
  FormatInput& operator=(const FormatInput&) = delete;

  AVFormatContext* context() const { return format_; }

 private:
  explicit FormatInput(std::shared_ptr<DataSource> source) : source_(std::move(source)) {}
  static int Read(void* opaque, uint8_t* buffer, int size);
  static int64_t Seek(void* opaque, int64_t offset, int whence);

  std::shared_ptr<DataSource> source_;
  uint64_t position_ = 0;
  AVIOContext* io_ = nullptr;
  AVFormatContext* format_ = nullptr;
};

}  // namespace qtm

#endif
