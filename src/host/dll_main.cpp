// The module's entry points: DllMain, DllGetClassObject, DllCanUnloadNow.
#include <windows.h>

#include <new>

#include "base/module.h"
#include "host/factory_template.h"

using kestrel::g_cTemplates;
using kestrel::g_Templates;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      kestrel::SetModuleInstance(instance);
      DisableThreadLibraryCalls(instance);
      for (int i = 0; i < g_cTemplates; ++i)
        if (g_Templates[i].m_lpfnInit) g_Templates[i].m_lpfnInit(TRUE, g_Templates[i].m_ClsID);
      break;
    case DLL_PROCESS_DETACH:
      for (int i = 0; i < g_cTemplates; ++i)
        if (g_Templates[i].m_lpfnInit) g_Templates[i].m_lpfnInit(FALSE, g_Templates[i].m_ClsID);
      break;
    default:
      break;
  }
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  // The interface is checked before the class.
  if (riid != IID_IClassFactory && riid != IID_IUnknown) return E_NOINTERFACE;
  for (int i = 0; i < g_cTemplates; ++i) {
    if (!g_Templates[i].IsClassID(rclsid)) continue;
    auto* factory = new (std::nothrow) kestrel::CClassFactory(&g_Templates[i]);
    if (!factory) return E_OUTOFMEMORY;
    factory->AddRef();
    *ppv = static_cast<IClassFactory*>(factory);
    return S_OK;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return kestrel::CClassFactory::ServerLocks() > 0 || kestrel::CBaseObject::ObjectsActive() != 0 ? S_FALSE : S_OK;
}
