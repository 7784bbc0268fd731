// The filter module's entry point: keeps the module handle and turns off
// thread notifications.
#include <windows.h>

#include "host/module.h"

namespace {
HINSTANCE g_module = nullptr;
}

namespace kestrel {
HINSTANCE GetModuleInstance() { return g_module; }
}  // namespace kestrel

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}
