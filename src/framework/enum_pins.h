// CEnumPins: the pin enumerator of a CBaseFilter. Holds a reference on the
// filter. When the filter's pin version changes, Next starts again from the
// first pin but never returns a pin it already returned since the last
// Reset; Skip and Clone answer VFW_E_ENUM_OUT_OF_SYNC until Reset.
#ifndef KESTREL_FRAMEWORK_ENUM_PINS_H
#define KESTREL_FRAMEWORK_ENUM_PINS_H

#include <vector>

#include "framework/base_filter.h"

namespace kestrel {

class CEnumPins : public CUnknown, public IEnumPins {
 public:
  // pCopy: an enumerator to copy (position, version, returned pins), or null.
  CEnumPins(CBaseFilter* pFilter, const CEnumPins* pCopy);
  ~CEnumPins() override;

  KESTREL_DECLARE_IUNKNOWN
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // S_OK when all cPins were returned, S_FALSE when fewer.
  HRESULT STDMETHODCALLTYPE Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) override;
  // S_FALSE, without moving, when fewer than cPins are left.
  HRESULT STDMETHODCALLTYPE Skip(ULONG cPins) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Clone(IEnumPins** ppEnum) override;

 private:
  bool AreWeOutOfSync() const { return m_pFilter->GetPinVersion() != m_Version; }

  CBaseFilter* const m_pFilter;  // held
  int m_Position = 0;
  int m_PinCount = 0;
  LONG m_Version = 0;
  std::vector<CBasePin*> m_Returned;  // since the last Reset
};

}  // namespace kestrel

#endif
