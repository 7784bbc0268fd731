// Opens a movie through MovieFacts::Open (frame count included) and
// prints the time it took. With REPEATS 0 it only starts the engine, which
// gives the baseline for the memory measured around it (open_bench.sh): the
// engine's tables live on the Unix heap, which the Windows counters miss.
//   kestrel-bench-open FILE [REPEATS]
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "engine/movie_facts.h"

namespace {

double Seconds(LARGE_INTEGER a, LARGE_INTEGER b, LARGE_INTEGER f) {
  return static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: kestrel-bench-open FILE [REPEATS]\n");
    return 2;
  }
  int repeats = argc > 2 ? atoi(argv[2]) : 3;
  if (InitializeQTML(0) != noErr || EnterMovies() != noErr) {
    fprintf(stderr, "the media engine could not be started\n");
    return 1;
  }
  LARGE_INTEGER freq;
  QueryPerformanceFrequency(&freq);
  double best = 1e9;
  uint32_t frames = 0;
  for (int i = 0; i < repeats; ++i) {
    LARGE_INTEGER t0, t1;
    kestrel::MovieFacts session;
    QueryPerformanceCounter(&t0);
    HRESULT hr = session.Open(argv[1]);
    QueryPerformanceCounter(&t1);
    if (FAILED(hr)) {
      fprintf(stderr, "Open failed: 0x%08lx\n", static_cast<unsigned long>(hr));
      return 1;
    }
    session.GetFrameCount(&frames);
    double s = Seconds(t0, t1, freq);
    if (s < best) best = s;
  }
  if (repeats > 0) printf("kestrel MovieFacts::Open: %u samples, best of %d: %.3f s\n", frames, repeats, best);
  ExitMovies();
  return 0;
}
