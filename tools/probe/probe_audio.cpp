// The sound as the filter's audio side sees it, and its extraction into a
// wave file.
#include <cstdio>
#include <vector>

#include "audio/audio_extractor.h"
#include "probe/json_writer.h"
#include "probe/probe.h"

namespace kestrel::probe {

// null when the movie cannot be opened or has no sound.
Section ProbeAudio(const Options& options) {
  Section out;
  AudioExtractor extractor;
  int32_t has_audio = 0;
  if (FAILED(extractor.Open(options.file.c_str())) || FAILED(extractor.HasAudio(&has_audio)) || !has_audio) {
    out.lines.push_back("audio: none");
    return out;
  }
  WAVEFORMATEX wf = {};
  int64_t duration = 0;
  extractor.GetWaveFormat(&wf);
  extractor.GetDuration(&duration);

  JsonObject a;
  a.Add("format", JsonString(extractor.FormatName));
  a.Add("layout", JsonString(extractor.ChannelLayoutName));
  a.Add("sample_rate", JsonNumber(int64_t{wf.nSamplesPerSec}));
  a.Add("channels", JsonNumber(int64_t{wf.nChannels}));
  a.Add("bits", JsonNumber(int64_t{wf.wBitsPerSample}));
  a.Add("avg_bytes_per_sec", JsonNumber(int64_t{wf.nAvgBytesPerSec}));
  a.Add("duration", JsonNumber(duration));
  out.json = a.Text();

  char line[600];
  snprintf(line, sizeof(line), "audio: \"%s\", layout \"%s\"", Utf8(extractor.FormatName).c_str(),
           Utf8(extractor.ChannelLayoutName).c_str());
  out.lines.push_back(line);
  snprintf(line, sizeof(line), "audio: %u Hz, %u channel(s), %u bits, %u bytes per second, duration %.3f s (%lld)",
           static_cast<unsigned>(wf.nSamplesPerSec), static_cast<unsigned>(wf.nChannels),
           static_cast<unsigned>(wf.wBitsPerSample), static_cast<unsigned>(wf.nAvgBytesPerSec), duration / 1e7,
           static_cast<long long>(duration));
  out.lines.push_back(line);
  return out;
}

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

// 0 written; 1 the movie has no sound or extraction failed; 3 the output
// file could not be written.
int WriteWav(const Options& options) {
  AudioExtractor extractor;
  int32_t has_audio = 0;
  if (FAILED(extractor.Open(options.file.c_str())) || FAILED(extractor.HasAudio(&has_audio)) || !has_audio) {
    fprintf(stderr, "kestrel-probe: no sound to extract from %s\n", options.file.c_str());
    return 1;
  }
  WAVEFORMATEX wf = {};
  extractor.GetWaveFormat(&wf);
  if (wf.nAvgBytesPerSec == 0) {
    fprintf(stderr, "kestrel-probe: the sound has no output format\n");
    return 1;
  }
  if (options.seek_seconds >= 0 && FAILED(extractor.Seek(static_cast<int64_t>(options.seek_seconds * 1e7)))) {
    fprintf(stderr, "kestrel-probe: seek refused\n");
    return 1;
  }
  FILE* file = fopen(options.wav_out.c_str(), "wb");
  if (!file) {
    fprintf(stderr, "kestrel-probe: cannot write %s\n", options.wav_out.c_str());
    return 3;
  }
  std::vector<uint8_t> header = WaveHeader(wf, 0);
  bool ok = fwrite(header.data(), 1, header.size(), file) == header.size();
  std::vector<BYTE> buffer(wf.nAvgBytesPerSec);
  uint64_t total = 0;
  HRESULT hr = S_OK;
  while (ok) {
    uint32_t bytes = 0;
    hr = extractor.Fill(buffer.data(), static_cast<uint32_t>(buffer.size()), &bytes, nullptr, nullptr);
    if (hr != S_OK) break;
    ok = fwrite(buffer.data(), 1, bytes, file) == bytes;
    total += bytes;
  }
  // A wave file counts its data in 32 bits.
  uint32_t data_bytes = total > 0xFFFFFFD3u ? 0xFFFFFFD3u : static_cast<uint32_t>(total);
  header = WaveHeader(wf, data_bytes);
  ok = ok && fseek(file, 0, SEEK_SET) == 0 && fwrite(header.data(), 1, header.size(), file) == header.size();
  ok = (fclose(file) == 0) && ok;
  if (!ok) {
    fprintf(stderr, "kestrel-probe: cannot write %s\n", options.wav_out.c_str());
    return 3;
  }
  if (FAILED(hr)) {
    fprintf(stderr, "kestrel-probe: extraction failed\n");
    return 1;
  }
  return 0;
}

}  // namespace kestrel::probe
