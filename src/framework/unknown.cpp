#include "framework/unknown.h"

#include <atomic>

namespace kestrel {
namespace {

std::atomic<LONG> g_cActiveObjects{0};

}  // namespace

CBaseObject::CBaseObject(const wchar_t* pName) : m_pName(pName) { ++g_cActiveObjects; }

CBaseObject::~CBaseObject() { --g_cActiveObjects; }

LONG CBaseObject::ObjectsActive() { return g_cActiveObjects.load(); }

CUnknown::CUnknown(const wchar_t* pName, IUnknown* pUnk)
    : CBaseObject(pName), m_pUnknown(pUnk ? pUnk : AsUnknown(static_cast<INonDelegatingUnknown*>(this))) {}

HRESULT STDMETHODCALLTYPE CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IUnknown) {
    return GetInterface(AsUnknown(static_cast<INonDelegatingUnknown*>(this)), ppv);
  }
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingAddRef() {
  LONG count = InterlockedIncrement(&m_cRef);
  return count < 1 ? 1 : static_cast<ULONG>(count);
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingRelease() {
  LONG count = InterlockedDecrement(&m_cRef);
  if (count == 0) {
    // Calls made while the object is destroyed must not destroy it again.
    m_cRef = 1;
    delete this;
    return 0;
  }
  return count < 1 ? 1 : static_cast<ULONG>(count);
}

HRESULT GetInterface(IUnknown* p, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = p;
  p->AddRef();
  return S_OK;
}

}  // namespace kestrel
