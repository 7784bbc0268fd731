// A PCM wave file written as data arrives: the header is written first and
// completed with the data size when the file is closed.
#ifndef KESTREL_TOOLS_COMMON_WAVE_FILE_H
#define KESTREL_TOOLS_COMMON_WAVE_FILE_H

#include <windows.h>
// WAVEFORMATEX, after the base types.
#include <mmreg.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace kestrel::tools {

class WaveFileWriter {
 public:
  WaveFileWriter() = default;
  ~WaveFileWriter();
  WaveFileWriter(const WaveFileWriter&) = delete;
  WaveFileWriter& operator=(const WaveFileWriter&) = delete;

  // False when the file cannot be created.
  bool Open(const std::string& path, const WAVEFORMATEX& format);
  // False once any write has failed.
  bool Write(const void* data, size_t bytes);
  // Completes the header; false when anything could not be written.
  bool Close();
  uint64_t DataBytes() const { return m_bytes; }

 private:
  FILE* m_file = nullptr;
  WAVEFORMATEX m_format = {};
  uint64_t m_bytes = 0;
  bool m_ok = true;
};

}  // namespace kestrel::tools

#endif
