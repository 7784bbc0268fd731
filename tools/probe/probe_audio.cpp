// The sound as the filter's audio side sees it, and its extraction into a
// wave file.
#include <cstdio>
#include <vector>

#include "audio/audio_extractor.h"
#include "common/json_writer.h"
#include "common/wave_file.h"
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

// 0 written; 1 the movie has no sound or extraction failed; 3 the output
// file could not be written.
int WriteWav(const Options& options) {
  AudioExtractor extractor;
  int32_t has_audio = 0;
  if (FAILED(extractor.Open(options.file.c_str())) || FAILED(extractor.HasAudio(&has_audio)) || !has_audio) {
    fprintf(stderr, "kestrel-probe: no sound to extract from %s\n", Utf8(options.file.c_str()).c_str());
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
  tools::WaveFileWriter wave;
  bool ok = wave.Open(options.wav_out, wf);
  std::vector<BYTE> buffer(wf.nAvgBytesPerSec);
  HRESULT hr = S_OK;
  while (ok) {
    uint32_t bytes = 0;
    hr = extractor.Fill(buffer.data(), static_cast<uint32_t>(buffer.size()), &bytes, nullptr, nullptr);
    if (hr != S_OK) break;
    ok = wave.Write(buffer.data(), bytes);
  }
  ok = wave.Close() && ok;
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
