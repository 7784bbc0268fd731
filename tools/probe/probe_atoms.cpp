// The movie file's atom tree, as the engine's movie reader walks it.
#include <windows.h>

#include <cstdio>

#include "common/play_reason.h"
#include "probe/probe.h"
#include "qtmedia.h"

namespace kestrel::probe {

int PrintAtoms(const Options& options) {
  Handle text = nullptr;
  OSErr err = qtm_DumpAtoms(reinterpret_cast<const UniChar*>(options.file.c_str()), &text);
  if (text) {
    fwrite(*text, 1, static_cast<size_t>(GetHandleSize(text)), stdout);
    DisposeHandle(text);
  }
  if (err == fnfErr) {
    MovieDiagnosis diagnosis;
    if (DiagnoseMovieFile(options.file, &diagnosis))
      PrintReason("kestrel-probe", LoadFailure(diagnosis, true));
    else
      fprintf(stderr, "kestrel-probe: %s does not open\n", Utf8(options.file.c_str()).c_str());
  }
  return err == noErr ? 0 : 1;
}

}  // namespace kestrel::probe
