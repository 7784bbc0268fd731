// The module's self-registration: DllRegisterServer, DllUnregisterServer.
#include "host/registration.h"

#include <windows.h>

#include "base/module.h"

namespace {

// Server keys and the filter mapper decide the answer; the extensions, the
// byte signatures and the type library follow only when they succeeded, and their own results
// are logged or dropped.
HRESULT RegisterModule(bool bRegister) {
  HMODULE module = kestrel::GetModuleInstance();
  HRESULT hr = kestrel::RegisterServer(module, bRegister);
  if (FAILED(hr)) return hr;
  if (bRegister) {
    kestrel::RegisterExtensions();
    kestrel::RegisterSignatures();
    kestrel::RegisterTypeLibrary(module);
  } else {
    kestrel::UnregisterExtensions();
    kestrel::UnregisterSignatures();
    kestrel::UnregisterTypeLibrary(module);
  }
  return hr;
}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() { return RegisterModule(true); }

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return RegisterModule(false); }
