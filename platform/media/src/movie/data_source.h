// Random access to the bytes of a movie. The engine's core reads files only
// through this interface: a build for another system needs its own file
// source and nothing else.
#ifndef QTMEDIA_MOVIE_DATA_SOURCE_H
#define QTMEDIA_MOVIE_DATA_SOURCE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qtm {

class DataSource {
 public:
  virtual ~DataSource() = default;
  // Reads exactly size bytes at offset; false when they are not all there.
  virtual bool ReadAt(uint64_t offset, void* dst, size_t size) const = 0;
  virtual uint64_t Size() const = 0;
};

// Bytes the caller keeps alive for the source's lifetime, read in place.
class SpanSource final : public DataSource {
 public:
  SpanSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool ReadAt(uint64_t offset, void* dst, size_t size) const override;
  uint64_t Size() const override { return size_; }

 private:
  const uint8_t* data_;
  size_t size_;
};

// Why a file did not open for reading.
struct FileOpenError {
  enum Kind { kNone, kNotFound, kIsDirectory, kUnreadable };
  Kind kind = kNone;
  std::string message;  // the system's words for it (kUnreadable), UTF-8
};

// Paths are UTF-8. A file opened for reading (nullptr when it does not open
// or is not a regular file, with *error saying why when asked); whether a
// file of any kind is there at all; and a path given in the system's own
// narrow encoding (Windows: the ANSI code page) as UTF-8: the calls each
// system implements in its own file (file_source_posix.cpp,
// file_source_win32.cpp).
std::shared_ptr<DataSource> OpenFileSource(const std::string& path, FileOpenError* error = nullptr);
bool FileExists(const std::string& path);
std::string PathFromSystemName(const char* name);

// A null-terminated UTF-16 path as UTF-8; empty when it is not well formed.
std::string PathFromUtf16(const uint16_t* path);

// A memory buffer, and a source whose bytes from offset on are held in
// memory (bytes: what the source has there).
std::shared_ptr<DataSource> MakeMemorySource(std::vector<uint8_t> bytes);
std::shared_ptr<DataSource> MakeWindowSource(std::shared_ptr<DataSource> source, uint64_t offset,
                                             std::vector<uint8_t> bytes);

}  // namespace qtm

#endif
