// The filter module (kestrel.ax) as loaded into the host process.
#ifndef KESTREL_BASE_MODULE_H
#define KESTREL_BASE_MODULE_H

#include <windows.h>

namespace kestrel {

// Handle kept at process attach; null outside the filter module.
HINSTANCE GetModuleInstance();
// Called by the module's entry point at process attach.
void SetModuleInstance(HINSTANCE instance);

}  // namespace kestrel

#endif
