// Opens a movie through MovieSession::Open (frame count included) and
// prints the time it took and the memory it needed.
//   kestrel-bench-open FILE [REPEATS]
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>

#include "engine/movie_session.h"

namespace {

double Seconds(LARGE_INTEGER a, LARGE_INTEGER b, LARGE_INTEGER f) {
  return static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

SIZE_T PrivateBytes() {
  PROCESS_MEMORY_COUNTERS_EX pmc = {};
  pmc.cb = sizeof(pmc);
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof(pmc));
  return pmc.PrivateUsage;
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
  SIZE_T grown = 0;
  for (int i = 0; i < repeats; ++i) {
    SIZE_T before = PrivateBytes();
    LARGE_INTEGER t0, t1;
    kestrel::MovieSession session;
    QueryPerformanceCounter(&t0);
    HRESULT hr = session.Open(argv[1]);
    QueryPerformanceCounter(&t1);
    if (FAILED(hr)) {
      fprintf(stderr, "Open failed: 0x%08lx\n", static_cast<unsigned long>(hr));
      return 1;
    }
    session.GetFrameCount(&frames);
    SIZE_T after = PrivateBytes();
    if (after > before && after - before > grown) grown = after - before;
    double s = Seconds(t0, t1, freq);
    if (s < best) best = s;
  }
  printf("kestrel MovieSession::Open: %u samples, best of %d: %.3f s, memory held by the open movie: %.1f MiB "
         "(%.1f bytes per sample)\n",
         frames, repeats, best, grown / 1048576.0, frames ? static_cast<double>(grown) / frames : 0.0);
  ExitMovies();
  return 0;
}
