// Opens a movie through MovieFacts::Open (frame count included) and
// prints the time it took. With REPEATS 0 it only starts the engine, which
// gives the baseline for the memory measured around it (open_bench.sh): the
// engine's tables live on the Unix heap, which the Windows counters miss.
// With --load it times the filter's whole IFileSourceFilter::Load instead
// (a new filter each time: its three opens of the file, the pins, the log).
//   kestrel-bench-open [--load] FILE [REPEATS]
#include <windows.h>

#include <dshow.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/bench_support.h"
#include "framework/com_ptr.h"
#include "movie/movie_facts.h"
#include "play/play_graph.h"

namespace {

// The best time of the filter's Load; a negative time when it fails.
double BestLoad(const char* path, int repeats) {
  int chars = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
  std::wstring wide(chars > 0 ? static_cast<size_t>(chars) : 1, L'\0');
  MultiByteToWideChar(CP_ACP, 0, path, -1, wide.data(), chars);
  double best = 1e9;
  for (int i = 0; i < repeats; ++i) {
    kestrel::ComPtr<IBaseFilter> filter;
    kestrel::ComPtr<IFileSourceFilter> source;
    if (FAILED(kestrel::play::CreateKestrelFilter(filter.ReleaseAndGetAddressOf())) ||
        FAILED(filter->QueryInterface(IID_IFileSourceFilter, source.ReleaseAndGetVoidAddress())))
      return -1;
    kestrel::bench::Stopwatch watch;
    HRESULT hr = source->Load(wide.c_str(), nullptr);
    double s = watch.Seconds();
    if (FAILED(hr)) return -1;
    if (s < best) best = s;
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  bool load = argc > 1 && strcmp(argv[1], "--load") == 0;
  if (load) {
    --argc;
    ++argv;
  }
  if (argc < 2) {
    fprintf(stderr, "usage: kestrel-bench-open [--load] FILE [REPEATS]\n");
    return 2;
  }
  int repeats = argc > 2 ? atoi(argv[2]) : 3;
  if (load) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    double best = BestLoad(argv[1], repeats);
    CoUninitialize();
    if (best < 0) {
      fprintf(stderr, "Load failed\n");
      return 1;
    }
    printf("kestrel IFileSourceFilter::Load: best of %d: %.3f s\n", repeats, best);
    return 0;
  }
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
