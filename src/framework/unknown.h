// CBaseObject and CUnknown: the object base of every component of the
// system, with the process-wide count of live objects that decides when the
// library may be unloaded.
//
// How to derive: derive from CUnknown (and the interfaces), pass the outer
// unknown (or null) to the constructor, put KESTREL_DECLARE_IUNKNOWN in the
// class so the interfaces' IUnknown calls go to the owner, and override
// NonDelegatingQueryInterface to answer the class's interfaces with
// GetInterface, passing anything else to the base.
//  - NonDelegatingQueryInterface: answer an interface with a reference, or
//    E_NOINTERFACE with the out-pointer cleared; E_POINTER for a null out.
//  - NonDelegatingAddRef / NonDelegatingRelease: the object's own count; a
//    class whose lifetime belongs to another object (a pin) forwards them.
#ifndef KESTREL_FRAMEWORK_UNKNOWN_H
#define KESTREL_FRAMEWORK_UNKNOWN_H

#include <windows.h>

#include <unknwn.h>

namespace kestrel {

// The non-delegating face of an object: same slot layout as IUnknown, so a
// pointer to it serves as the object's own IUnknown.
struct INonDelegatingUnknown {
  virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;
};

// Counts itself into the active-object count for its whole life.
class CBaseObject {
 public:
  explicit CBaseObject(const wchar_t* pName);
  virtual ~CBaseObject();
  CBaseObject(const CBaseObject&) = delete;
  CBaseObject& operator=(const CBaseObject&) = delete;

  // Objects built on this base that are alive now (filters, pins,
  // enumerators, seeking objects, class factories, pages ...).
  static LONG ObjectsActive();

 private:
  const wchar_t* m_pName;  // a static debugging name, not copied
};

class CUnknown : public INonDelegatingUnknown, public CBaseObject {
 public:
  // pUnk: the outer unknown when aggregated, else null (the object owns
  // itself).
  CUnknown(const wchar_t* pName, IUnknown* pUnk);
  ~CUnknown() override = default;

  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
  ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

  // Where this object's IUnknown calls go.
  IUnknown* GetOwner() const { return m_pUnknown; }

 protected:
  volatile LONG m_cRef = 0;

 private:
  IUnknown* const m_pUnknown;
};

// Gives p to the caller with a reference: S_OK, or E_POINTER for a null out.
HRESULT GetInterface(IUnknown* p, void** ppv);

// The object's own IUnknown as the non-delegating face.
inline IUnknown* AsUnknown(INonDelegatingUnknown* p) { return reinterpret_cast<IUnknown*>(p); }

}  // namespace kestrel

// IUnknown of every interface of a CUnknown-derived class, passed to the owner.
#define KESTREL_DECLARE_IUNKNOWN                                               \
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override { \
    return GetOwner()->QueryInterface(riid, ppv);                              \
  }                                                                            \
  ULONG STDMETHODCALLTYPE AddRef() override { return GetOwner()->AddRef(); }   \
  ULONG STDMETHODCALLTYPE Release() override { return GetOwner()->Release(); }

#endif
