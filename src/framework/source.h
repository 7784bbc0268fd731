// CSource: the base of a push source filter. Owns its state lock and its
// pins (CSourceStream objects, in the order they were added); the pins
// add and remove themselves, and the filter deletes those left, last first.
// State changes (in CBaseFilter) activate and deactivate the pins.
//
// How to derive: construct with the filter's class identifier, then create
// the pins with this filter as their owner (each adds itself here; check
// the HRESULT they give back). Add interfaces in front of
// NonDelegatingQueryInterface. Nothing else is required.
#ifndef KESTREL_FRAMEWORK_SOURCE_H
#define KESTREL_FRAMEWORK_SOURCE_H

#include "framework/base_filter.h"

namespace kestrel {

class CSourceStream;

class CSource : public CBaseFilter {
 public:
  CSource(const wchar_t* pName, IUnknown* pUnk, REFCLSID clsid);
  ~CSource() override;

  int GetPinCount() override;
  CBasePin* GetPin(int n) override;

  // Called by a pin's constructor: the array grows by one under the state
  // lock; E_OUTOFMEMORY when it cannot.
  HRESULT AddPin(CSourceStream* pStream);
  // Called by a pin's destructor: later pins move down one place. S_FALSE
  // when the pin is not in the array.
  HRESULT RemovePin(CSourceStream* pStream);
  // Position of a pin, or -1.
  int FindPinNumber(IPin* pPin);

 protected:
  CCritSec m_cStateLock;
  int m_iPins = 0;
  CSourceStream** m_paStreams = nullptr;
};

}  // namespace kestrel

#endif
