// A running graph that holds the installed filter: creates Kestrel through
// the registered server, loads the movie given, runs it into Null
// Renderers on the graph's clock, prints "ready MODULE_PATH" and holds
// everything until a line (or the end) arrives on its standard input.
//   kestrel-hold-filter.exe MOVIE
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "framework/com_ptr.h"
#include "play/play_graph.h"

namespace {

constexpr CLSID kClsidKestrel = {0xe6e6e32e, 0xbb36, 0x4aaa, {0xbb, 0xc3, 0xd7, 0x16, 0xe7, 0x75, 0x57, 0xcc}};

int Hold(const wchar_t* movie) {
  using kestrel::ComPtr;
  ComPtr<IBaseFilter> filter;
  HRESULT hr = CoCreateInstance(kClsidKestrel, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                filter.ReleaseAndGetVoidAddress());
  if (FAILED(hr)) {
    fprintf(stderr, "hold-filter: no registered filter (0x%08lx)\n", static_cast<unsigned long>(hr));
    return 1;
  }
  ComPtr<IFileSourceFilter> source;
  hr = filter->QueryInterface(IID_IFileSourceFilter, source.ReleaseAndGetVoidAddress());
  if (SUCCEEDED(hr)) hr = source->Load(movie, nullptr);
  kestrel::play::PlayGraph graph;
  if (SUCCEEDED(hr)) hr = graph.Create(filter.Get());
  std::vector<ComPtr<kestrel::play::SampleRecorder>> recorders;
  for (auto& pin : graph.SourcePins()) {
    if (FAILED(hr)) break;
    recorders.emplace_back().Attach(new kestrel::play::SampleRecorder);
    hr = graph.Connect(pin.Get(), nullptr, recorders.back().Get());
  }
  if (SUCCEEDED(hr)) hr = graph.Run();
  if (FAILED(hr)) {
    fprintf(stderr, "hold-filter: the movie does not play (0x%08lx)\n", static_cast<unsigned long>(hr));
    return 1;
  }
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(GetModuleHandleW(L"kestrel.ax"), path, MAX_PATH);
  printf("ready %ls\n", path);
  fflush(stdout);
  char line[16];
  (void)!fgets(line, sizeof(line), stdin);
  graph.Stop();
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: kestrel-hold-filter MOVIE\n");
    return 2;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
  int result = Hold(argv[1]);
  CoUninitialize();
  return result;
}
