// CBaseFilter: the filter base. Carries the state (stopped, paused,
// running), the start time, the reference clock, the graph and its event
// sink, the filter name and class, and the pin version; answers
// IBaseFilter (with IMediaFilter and IPersist) and IAMovieSetup.
//
// How to derive: give the constructor the filter's state lock (a CCritSec
// that lives as long as the filter; it is also the lock of every pin) and
// the class identifier; implement GetPinCount and GetPin; add interfaces in
// front of NonDelegatingQueryInterface. CSource (source.h) does all of this
// for a source filter.
//  - GetPinCount: the number of pins now (called under the state lock).
//  - GetPin(n): the n-th pin without a reference, or null out of range.
//  - GetPinVersion: changes whenever a pin is added or removed.
//  - StreamTime: the clock's time minus the start time.
//  - GetSetupData: the filter's registration data; none by default. The
//    module's registration entry points register filters, not
//    IAMovieSetup.
#ifndef KESTREL_FRAMEWORK_BASE_FILTER_H
#define KESTREL_FRAMEWORK_BASE_FILTER_H

#include <windows.h>

#include <strmif.h>

#include <memory>

#include "base/critical_section.h"
#include "framework/com_ptr.h"
#include "framework/unknown.h"

struct AMOVIESETUP_FILTER;

namespace kestrel {

class CBasePin;

class CBaseFilter : public CUnknown, public IBaseFilter, public IAMovieSetup {
 public:
  CBaseFilter(const wchar_t* pName, IUnknown* pUnk, CCritSec* pLock, REFCLSID clsid);
  ~CBaseFilter() override;

  KESTREL_DECLARE_IUNKNOWN
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  virtual HRESULT StreamTime(REFERENCE_TIME* prtStream);
  virtual LONG GetPinVersion();
  virtual int GetPinCount() = 0;
  virtual CBasePin* GetPin(int n) = 0;
  virtual const AMOVIESETUP_FILTER* GetSetupData();

  // IPersist
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* pClsID) override;
  // IMediaFilter
  HRESULT STDMETHODCALLTYPE Stop() override;
  HRESULT STDMETHODCALLTYPE Pause() override;
  HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME tStart) override;
  HRESULT STDMETHODCALLTYPE GetState(DWORD dwMSecs, FILTER_STATE* State) override;
  HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* pClock) override;
  HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** pClock) override;
  // IBaseFilter
  HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** ppEnum) override;
  HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR Id, IPin** ppPin) override;
  HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* pInfo) override;
  HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) override;
  HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* pVendorInfo) override;
  // IAMovieSetup: S_FALSE and nothing done; registration goes through the
  // module's entry points.
  HRESULT STDMETHODCALLTYPE Register() override;
  HRESULT STDMETHODCALLTYPE Unregister() override;

  // Passes an event to the graph's sink (EC_COMPLETE carries this filter as
  // its second parameter); E_NOTIMPL without a sink.
  HRESULT NotifyEvent(long EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2);

  bool IsActive();   // paused or running
  bool IsStopped();  // stopped
  CCritSec* pStateLock() const { return m_pLock; }
  IFilterGraph* GetFilterGraph() const { return m_pGraph; }

 protected:
  void IncrementPinVersion() { InterlockedIncrement(&m_PinVersion); }

  FILTER_STATE m_State = State_Stopped;
  REFERENCE_TIME m_tStart = 0;
  ComPtr<IReferenceClock> m_pClock;
  IFilterGraph* m_pGraph = nullptr;    // not held
  IMediaEventSink* m_pSink = nullptr;  // not held
  std::unique_ptr<wchar_t[]> m_pName;  // own copy
  CLSID m_clsid;
  CCritSec* const m_pLock;
  volatile LONG m_PinVersion = 1;
};

}  // namespace kestrel

#endif
