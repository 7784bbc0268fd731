// CEnumMediaTypes: the media-type enumerator of a CBasePin, walking the
// pin's GetMediaType(iPosition). Holds a reference on the pin (so on its
// filter). A change of the pin's media-type version makes Next, Skip and
// Clone answer VFW_E_ENUM_OUT_OF_SYNC until Reset.
#ifndef KESTREL_FRAMEWORK_ENUM_MEDIA_TYPES_H
#define KESTREL_FRAMEWORK_ENUM_MEDIA_TYPES_H

#include "framework/base_pin.h"

namespace kestrel {

class CEnumMediaTypes : public CUnknown, public IEnumMediaTypes {
 public:
  CEnumMediaTypes(CBasePin* pPin, const CEnumMediaTypes* pCopy);
  ~CEnumMediaTypes() override;

  KESTREL_DECLARE_IUNKNOWN
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // Each type is task memory for the caller (DeleteMediaType). S_OK when
  // all were returned, S_FALSE when fewer.
  HRESULT STDMETHODCALLTYPE Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) override;
  // S_OK when a type exists at the new position minus one.
  HRESULT STDMETHODCALLTYPE Skip(ULONG cMediaTypes) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** ppEnum) override;

 private:
  bool AreWeOutOfSync() const { return m_pPin->GetMediaTypeVersion() != m_Version; }

  CBasePin* const m_pPin;  // held
  int m_Position = 0;
  LONG m_Version = 0;
};

}  // namespace kestrel

#endif
