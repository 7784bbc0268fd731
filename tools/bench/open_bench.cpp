// Opens a movie through MovieFacts::Open (frame count included) and
// prints the time it took. With REPEATS 0 it only starts the engine, which
// gives the baseline for the memory measured around it (open_bench.sh): the
// engine's tables live on the Unix heap, which the Windows counters miss.
//   kestrel-bench-open FILE [REPEATS]
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "bench/bench_support.h"
#include "engine/movie_facts.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: kestrel-bench-open FILE [REPEATS]\n");
    return 2;
  }
  int repeats = argc > 2 ? atoi(argv[2]) : 3;
  if (!kestrel::bench::StartMediaEngine()) return 1;
  double best = 1e9;
  uint32_t frames = 0;
  for (int i = 0; i < repeats; ++i) {
    kestrel::MovieFacts session;
    kestrel::bench::Stopwatch watch;
    HRESULT hr = session.Open(argv[1]);
    double s = watch.Seconds();
    if (FAILED(hr)) {
      fprintf(stderr, "Open failed: 0x%08lx\n", static_cast<unsigned long>(hr));
      return 1;
    }
    session.GetFrameCount(&frames);
    if (s < best) best = s;
  }
  if (repeats > 0) printf("kestrel MovieFacts::Open: %u samples, best of %d: %.3f s\n", frames, repeats, best);
  ExitMovies();
  return 0;
}
