// One costly movie through the filter (scripts/malformed/make-costly.py):
// how long its Load takes (wall clock and the loading thread's processor
// time) and the most memory the process held meanwhile, then a play of it
// into Null Renderers without a clock that is stopped after 2 s, and how
// long that Stop takes. Prints one row of the table costly_bench.sh makes
// (--header: the header line).
//   kestrel-bench-costly [--header] [FILE]
#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <string>

#include "bench/bench_support.h"
#include "common/json_writer.h"
#include "play/play_graph.h"

namespace {

using kestrel::ComPtr;
using kestrel::bench::Stopwatch;
using namespace kestrel::play;

constexpr DWORD kPlayMs = 2000;

double ThreadSeconds() {
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0.0;
  auto value = [](const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return static_cast<double>(value(kernel) + value(user)) / 1e7;
}

PROCESS_MEMORY_COUNTERS Memory() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
  return counters;
}

double Megabytes(SIZE_T bytes) { return static_cast<double>(bytes) / (1 << 20); }

void Header() {
  printf("%-22s %8s %-22s %7s %7s %8s  %s\n", "file", "KB", "Load", "wall s", "cpu s", "peak MB", "play");
}

int Run(const std::wstring& path) {
  std::string name = kestrel::tools::Utf8(path.c_str());
  name = name.substr(name.find_last_of("\\/") + 1);
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  LARGE_INTEGER size = {};
  if (file == INVALID_HANDLE_VALUE || !GetFileSizeEx(file, &size)) {
    fprintf(stderr, "cannot open %s\n", name.c_str());
    return 2;
  }
  CloseHandle(file);

  ComPtr<IBaseFilter> filter;
  HRESULT hr = CreateKestrelFilter(filter.ReleaseAndGetAddressOf());
  if (FAILED(hr)) {
    fprintf(stderr, "no filter: %s\n", HResultName(hr).c_str());
    return 2;
  }
  ComPtr<IFileSourceFilter> source;
  filter->QueryInterface(IID_IFileSourceFilter, reinterpret_cast<void**>(source.ReleaseAndGetAddressOf()));
  SIZE_T before = Memory().WorkingSetSize;
  double cpu = ThreadSeconds();
  Stopwatch watch;
  hr = source->Load(path.c_str(), nullptr);
  double wall = watch.Seconds();
  cpu = ThreadSeconds() - cpu;
  SIZE_T peak = Memory().PeakWorkingSetSize;
  double peak_mb = peak > before ? Megabytes(peak - before) : 0.0;

  std::string play = "-";
  if (SUCCEEDED(hr)) {
    PlayGraph graph;
    if (SUCCEEDED(graph.Create(filter.Get()))) {
      int connected = 0;
      for (const ComPtr<IPin>& pin : graph.SourcePins()) {
        auto* recorder = new SampleRecorder();
        recorder->SetLimit(1);
        if (SUCCEEDED(graph.Connect(pin.Get(), nullptr, recorder))) ++connected;
        recorder->Release();
      }
      char text[96];
      if (connected == 0) {
        play = "no pin connects";
      } else {
        graph.RemoveClock();
        watch.Restart();
        HRESULT run = graph.Run();
        HRESULT abort_code = S_OK;
        EndResult end = FAILED(run) ? EndResult::kErrorAbort : graph.WaitForEnd(kPlayMs, &abort_code);
        double played = watch.Seconds();
        if (end == EndResult::kTimeout) {
          watch.Restart();
          graph.Stop();
          snprintf(text, sizeof text, "stopped at %.1f s in %.2f s", played, watch.Seconds());
        } else {
          graph.Stop();
          snprintf(text, sizeof text, "%s at %.2f s",
                   FAILED(run)                     ? ("Run " + HResultName(run)).c_str()
                   : end == EndResult::kComplete   ? "EC_COMPLETE"
                   : end == EndResult::kErrorAbort ? "EC_ERRORABORT"
                                                   : "ended",
                   played);
        }
        play = text;
      }
    }
  }
  printf("%-22s %8lld %-22s %7.2f %7.2f %8.1f  %s\n", name.substr(0, name.rfind('.')).c_str(),
         static_cast<long long>(size.QuadPart / 1024), HResultName(hr).c_str(), wall, cpu, peak_mb, play.c_str());
  fflush(stdout);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring path;
  bool header = false;
  for (int i = 1; i < argc; ++i) {
    if (std::wstring(argv[i]) == L"--header") {
      header = true;
    } else if (path.empty()) {
      path = argv[i];
    } else {
      fprintf(stderr, "usage: kestrel-bench-costly [--header] [FILE]\n");
      return 2;
    }
  }
  if (header) Header();
  if (path.empty()) return header ? 0 : 2;
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 2;
  int status = Run(path);
  CoUninitialize();
  return status;
}
