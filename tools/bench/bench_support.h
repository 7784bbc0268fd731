// What the benchmark programs share: a wall-clock stopwatch and the start of
// the media engine.
#ifndef KESTREL_TOOLS_BENCH_BENCH_SUPPORT_H
#define KESTREL_TOOLS_BENCH_BENCH_SUPPORT_H

#include <windows.h>

#include <cstdio>

#include "qtmedia.h"

namespace kestrel::bench {

class Stopwatch {
 public:
  Stopwatch() {
    QueryPerformanceFrequency(&frequency_);
    Restart();
  }
  void Restart() { QueryPerformanceCounter(&start_); }
  // Seconds since the watch was made or restarted.
  double Seconds() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - start_.QuadPart) / static_cast<double>(frequency_.QuadPart);
  }

 private:
  LARGE_INTEGER frequency_, start_;
};

// False, with a line on stderr, when the engine cannot be started.
inline bool StartMediaEngine() {
  if (InitializeQTML(0) == noErr && EnterMovies() == noErr) return true;
  fprintf(stderr, "the media engine could not be started\n");
  return false;
}

}  // namespace kestrel::bench

#endif
