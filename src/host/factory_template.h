// The classes the module serves, one factory template a class, and the
// generic class factory that makes objects from a template.
#ifndef KESTREL_HOST_FACTORY_TEMPLATE_H
#define KESTREL_HOST_FACTORY_TEMPLATE_H

#include <windows.h>

#include <unknwn.h>

#include "framework/unknown.h"

struct AMOVIESETUP_FILTER;

namespace kestrel {

// Makes an object, aggregated when pUnkOuter is given; returns its
// non-delegating unknown, or null with *phr set to the failure.
using NewComObjectFn = CUnknown*(WINAPI*)(IUnknown* pUnkOuter, HRESULT* phr);
// Called with (true, class) when the module loads and (false, class) when it
// unloads.
using InitRoutineFn = void (*)(BOOL bLoading, const CLSID* rclsid);

struct CFactoryTemplate {
  const wchar_t* m_Name;
  const CLSID* m_ClsID;
  NewComObjectFn m_lpfnNew;
  InitRoutineFn m_lpfnInit;
  const AMOVIESETUP_FILTER* m_pAMovieSetup_Filter;

  bool IsClassID(REFCLSID rclsid) const { return *m_ClsID == rclsid; }
};

// The module's table, in order: the filter, then its property page.
extern const CFactoryTemplate g_Templates[];
extern const int g_cTemplates;

// The class factory of one template. Counted as an active object; its own
// reference count starts at 0.
class CClassFactory : public IClassFactory, public CBaseObject {
 public:
  explicit CClassFactory(const CFactoryTemplate* pTemplate);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override;

  // Server locks taken with LockServer and not yet given back.
  static LONG ServerLocks();

 private:
  volatile LONG m_cRef = 0;
  const CFactoryTemplate* const m_pTemplate;
};

}  // namespace kestrel

#endif
