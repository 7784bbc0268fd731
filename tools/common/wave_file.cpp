#include "common/wave_file.h"

#include <vector>

namespace kestrel::tools {
namespace {

void Put16(std::vector<uint8_t>* b, uint32_t v) {
  b->push_back(static_cast<uint8_t>(v));
  b->push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>* b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

// The 44-byte RIFF header of a PCM wave file holding data_bytes.
std::vector<uint8_t> WaveHeader(const WAVEFORMATEX& wf, uint32_t data_bytes) {
  std::vector<uint8_t> h;
  h.insert(h.end(), {'R', 'I', 'F', 'F'});
  Put32(&h, 36 + data_bytes);
  h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  Put32(&h, 16);
  Put16(&h, wf.wFormatTag);
  Put16(&h, wf.nChannels);
  Put32(&h, wf.nSamplesPerSec);
  Put32(&h, wf.nAvgBytesPerSec);
  Put16(&h, wf.nBlockAlign);
  Put16(&h, wf.wBitsPerSample);
  h.insert(h.end(), {'d', 'a', 't', 'a'});
  Put32(&h, data_bytes);
  return h;
}

}  // namespace

WaveFileWriter::~WaveFileWriter() {
  if (m_file) Close();
}

bool WaveFileWriter::Open(const std::string& path, const WAVEFORMATEX& format) {
  m_file = fopen(path.c_str(), "wb");
  if (!m_file) return false;
  m_format = format;
  m_bytes = 0;
  std::vector<uint8_t> header = WaveHeader(m_format, 0);
  m_ok = fwrite(header.data(), 1, header.size(), m_file) == header.size();
  return m_ok;
}

bool WaveFileWriter::Write(const void* data, size_t bytes) {
  if (!m_file || !m_ok) return false;
  m_ok = fwrite(data, 1, bytes, m_file) == bytes;
  m_bytes += bytes;
  return m_ok;
}

bool WaveFileWriter::Close() {
  if (!m_file) return false;
  // A wave file counts its data in 32 bits.
  uint32_t data_bytes = m_bytes > 0xFFFFFFD3u ? 0xFFFFFFD3u : static_cast<uint32_t>(m_bytes);
  std::vector<uint8_t> header = WaveHeader(m_format, data_bytes);
  bool ok = m_ok && fseek(m_file, 0, SEEK_SET) == 0 && fwrite(header.data(), 1, header.size(), m_file) == header.size();
  ok = (fclose(m_file) == 0) && ok;
  m_file = nullptr;
  return ok;
}

}  // namespace kestrel::tools
