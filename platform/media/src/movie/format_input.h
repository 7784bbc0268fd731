// libavformat reading one of the engine's data sources: the engine's files
// reach FFmpeg only this way, so every system opens them as it opens the
// movie reader's (file_source_*.cpp).
#ifndef QTMEDIA_MOVIE_FORMAT_INPUT_H
#define QTMEDIA_MOVIE_FORMAT_INPUT_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "movie/data_source.h"

struct AVFormatContext;
struct AVIOContext;

namespace qtm {

class FormatInput {
 public:
  // libavformat's input on source: probed from its first bytes and name
  // (the file's path: some kinds are known by their extension), the
  // header read. Null when libavformat refuses it or memory runs out.
  // The 'trak' atoms at hidden_tracks (offsets of their headers) read as
  // 'free': libavformat neither sees those tracks nor builds their indexes.
  static std::unique_ptr<FormatInput> Open(std::shared_ptr<DataSource> source, const std::string& name,
                                           const std::vector<uint64_t>& hidden_tracks = {});
  ~FormatInput();
  FormatInput(const FormatInput&) = delete;
  FormatInput& operator=(const FormatInput&) = delete;

  AVFormatContext* context() const { return format_; }

 private:
  explicit FormatInput(std::shared_ptr<DataSource> source) : source_(std::move(source)) {}
  static int Read(void* opaque, uint8_t* buffer, int size);
  static int64_t Seek(void* opaque, int64_t offset, int whence);
  void HideTracks(uint64_t position, uint8_t* buffer, size_t count) const;

  std::shared_ptr<DataSource> source_;
  std::vector<uint64_t> hidden_types_;  // offsets of the hidden atoms' types, sorted
  uint64_t position_ = 0;
  AVIOContext* io_ = nullptr;
  AVFormatContext* format_ = nullptr;
};

}  // namespace qtm

#endif
