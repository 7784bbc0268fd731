// Decodes a movie's video through MovieSession::ProduceFrame to UYVY and
// prints frames per second; then the time from SeekTo to the first frame at
// 20 pseudo-random positions.
//   kestrel-bench-video FILE
#include <windows.h>

#include <cstdio>
#include <vector>

#include "bench/bench_support.h"
#include "video/movie_session.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: kestrel-bench-video FILE\n");
    return 2;
  }
  if (!kestrel::bench::StartMediaEngine()) return 1;
  kestrel::MovieSession session;
  if (session.Open(argv[1]) != S_OK || session.CreateDecoder(0x32767579 /* '2vuy' */) != S_OK) {
    fprintf(stderr, "cannot open %s for decoding\n", argv[1]);
    return 1;
  }
  int32_t width = 0, height = 0;
  int64_t duration = 0;
  session.GetDimensions(&width, &height);
  session.GetDuration(&duration);
  std::vector<uint8_t> frame(static_cast<size_t>(width) * height * 2);

  kestrel::bench::Stopwatch watch;
  int frames = 0;
  HRESULT hr;
  while ((hr = session.ProduceFrame(frame.data(), frame.size(), nullptr, nullptr)) == S_OK) ++frames;
  double s = watch.Seconds();
  if (FAILED(hr)) {
    fprintf(stderr, "ProduceFrame failed: 0x%08lx after %d frames\n", static_cast<unsigned long>(hr), frames);
    return 1;
  }
  printf("kestrel ProduceFrame to UYVY: %dx%d, %d frames in %.3f s: %.1f frames per second\n", width, height, frames, s,
         frames / s);

  // Seeks: a fixed linear congruential sequence over the duration.
  uint32_t state = 12345;
  double total = 0, worst = 0;
  const int kSeeks = 20;
  for (int i = 0; i < kSeeks; ++i) {
    state = state * 1664525u + 1013904223u;
    int64_t position = static_cast<int64_t>(static_cast<double>(state) / 4294967296.0 * duration);
    watch.Restart();
    session.SeekTo(position);
    hr = session.ProduceFrame(frame.data(), frame.size(), nullptr, nullptr);
    double seek = watch.Seconds();
    if (hr != S_OK) {
      fprintf(stderr, "no frame after a seek to %lld: 0x%08lx\n", static_cast<long long>(position),
              static_cast<unsigned long>(hr));
      return 1;
    }
    total += seek;
    if (seek > worst) worst = seek;
  }
  printf("kestrel SeekTo then first frame, %d positions: mean %.1f ms, worst %.1f ms\n", kSeeks, total / kSeeks * 1e3,
         worst * 1e3);
  ExitMovies();
  return 0;
}
