// Extracts a movie's whole sound through AudioExtractor (16-bit PCM for a
// 16-bit source, one second per fill, as the audio pin does) and prints the
// time it took.
//   kestrel-bench-audio FILE [REPEATS]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "audio/audio_extractor.h"
#include "bench/bench_support.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: kestrel-bench-audio FILE [REPEATS]\n");
    return 2;
  }
  int repeats = argc > 2 ? atoi(argv[2]) : 3;
  if (!kestrel::bench::StartMediaEngine()) return 1;
  double best = 1e9;
  unsigned long long bytes_out = 0;
  WAVEFORMATEX wf = {};
  for (int i = 0; i < repeats; ++i) {
    kestrel::bench::Stopwatch watch;
    kestrel::AudioExtractor extractor;
    if (FAILED(extractor.Open(argv[1]))) {
      fprintf(stderr, "Open failed\n");
      return 1;
    }
    extractor.GetWaveFormat(&wf);
    if (wf.nAvgBytesPerSec == 0) {
      fprintf(stderr, "no sound\n");
      return 1;
    }
    std::vector<BYTE> buffer(wf.nAvgBytesPerSec);
    unsigned long long total = 0;
    for (;;) {
      uint32_t bytes = 0;
      HRESULT hr = extractor.Fill(buffer.data(), static_cast<uint32_t>(buffer.size()), &bytes, nullptr, nullptr);
      if (hr != S_OK) {
        if (FAILED(hr)) fprintf(stderr, "Fill failed: 0x%08lx\n", static_cast<unsigned long>(hr));
        break;
      }
      total += bytes;
    }
    double s = watch.Seconds();
    bytes_out = total;
    if (s < best) best = s;
  }
  double seconds_of_sound = static_cast<double>(bytes_out) / wf.nAvgBytesPerSec;
  printf(
      "kestrel AudioExtractor: %.1f s of %u Hz %u-channel %u-bit PCM (%llu bytes), best of %d: %.3f s "
      "(%.0f times real time)\n",
      seconds_of_sound, static_cast<unsigned>(wf.nSamplesPerSec), static_cast<unsigned>(wf.nChannels),
      static_cast<unsigned>(wf.wBitsPerSample), bytes_out, repeats, best, seconds_of_sound / best);
  ExitMovies();
  return 0;
}
