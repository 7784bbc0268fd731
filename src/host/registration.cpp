// The module's self-registration: DllRegisterServer, DllUnregisterServer.
#include "host/registration.h"

#include <windows.h>

#include "host/module.h"

// Server keys and the filter mapper decide the answer; the extensions and
// the type library follow only when they succeeded, and their own results
// are logged or dropped.
extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  HMODULE module = kestrel::GetModuleInstance();
  HRESULT hr = kestrel::RegisterServer(module, true);
  if (FAILED(hr)) return hr;
  kestrel::RegisterExtensions();
  kestrel::RegisterTypeLibrary(module);
  return hr;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  HMODULE module = kestrel::GetModuleInstance();
  HRESULT hr = kestrel::RegisterServer(module, false);
  if (FAILED(hr)) return hr;
  kestrel::UnregisterExtensions();
  kestrel::UnregisterTypeLibrary(module);
  return hr;
}
