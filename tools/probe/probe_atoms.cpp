// The movie file's atom tree, as the engine's movie reader walks it.
#include <windows.h>

#include <cstdio>

#include "probe/probe.h"
#include "qtmedia_engine.h"

namespace kestrel::probe {

int PrintAtoms(const Options& options) {
  // Not one of QuickTime's calls: looked up in the engine the session loaded.
  using DumpAtoms = OSErr (*)(const char* path, Handle* text);
  HMODULE engine = GetModuleHandleA(QTM_LIBRARY_NAME);
  auto dump = engine ? reinterpret_cast<DumpAtoms>(GetProcAddress(engine, "qtm_DumpAtoms")) : nullptr;
  if (!dump) {
    fprintf(stderr, "kestrel-probe: the media engine has no atom dump\n");
    return 1;
  }
  Handle text = nullptr;
  OSErr err = dump(options.file.c_str(), &text);
  if (text) {
    fwrite(*text, 1, static_cast<size_t>(GetHandleSize(text)), stdout);
    DisposeHandle(text);
  }
  if (err == fnfErr) fprintf(stderr, "kestrel-probe: %s does not open\n", options.file.c_str());
  return err == noErr ? 0 : 1;
}

}  // namespace kestrel::probe
