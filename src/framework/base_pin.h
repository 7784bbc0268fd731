// CBasePin: a pin of a CBaseFilter. Holds the connection (the connected
// pin and the agreed media type), negotiates it in Connect, answers IPin
// and IQualityControl, and hands out media-type enumerators. A pin has no
// reference count of its own: AddRef and Release go to its filter, which
// owns and deletes it.
//
// How to derive (output pins derive from CBaseOutputPin, source pins from
// CSourceStream, which add allocator choice and delivery):
//  - CheckMediaType(pmt): S_OK when the pin can take the type; anything
//    else refuses it. Called under the pin's lock.
//  - GetMediaType(iPosition, pmt): the pin's types in order of preference:
//    S_OK with the type filled in, VFW_S_NO_MORE_ITEMS past the last,
//    E_INVALIDARG for a negative position.
//  - SetMediaType(pmt): the type was agreed; the base has already stored
//    it as the connection type. A failure refuses the connection.
//  - CheckConnect(pPin): may this pin connect to pPin at all? The base
//    tests the direction.
//  - CompleteConnect(pReceivePin): the downstream pin accepted; the last
//    step of a connection (a failure undoes it).
//  - BreakConnect: undo what CheckConnect, SetMediaType and
//    CompleteConnect acquired. Called after any failed attempt too.
//  - Active / Inactive: the filter leaves or enters the stopped state.
//  - Run(tStart): the filter runs; nothing to do by default.
//  - GetMediaTypeVersion: changes when the pin's list of types changes
//    (IncrementTypeVersion), so open enumerators report it.
#ifndef KESTREL_FRAMEWORK_BASE_PIN_H
#define KESTREL_FRAMEWORK_BASE_PIN_H

#include <windows.h>

#include <strmif.h>

#include <memory>

#include "base/critical_section.h"
#include "framework/base_filter.h"
#include "framework/com_ptr.h"
#include "framework/media_type.h"
#include "framework/unknown.h"

namespace kestrel {

class CBasePin : public CUnknown, public IPin, public IQualityControl {
 public:
  // pLock: the filter's state lock. *phr is left alone on success.
  CBasePin(const wchar_t* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName,
           PIN_DIRECTION dir);
  ~CBasePin() override;

  KESTREL_DECLARE_IUNKNOWN
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
  ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

  virtual LONG GetMediaTypeVersion();
  virtual HRESULT Active();
  virtual HRESULT Inactive();
  virtual HRESULT Run(REFERENCE_TIME tStart);
  virtual HRESULT CheckMediaType(const CMediaType* pmt) = 0;
  virtual HRESULT SetMediaType(const CMediaType* pmt);
  virtual HRESULT CheckConnect(IPin* pPin);
  virtual HRESULT BreakConnect();
  virtual HRESULT CompleteConnect(IPin* pReceivePin);
  virtual HRESULT GetMediaType(int iPosition, CMediaType* pMediaType);

  // IPin
  HRESULT STDMETHODCALLTYPE Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
  HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override;
  HRESULT STDMETHODCALLTYPE Disconnect() override;
  HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pPin) override;
  HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
  HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* pInfo) override;
  HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* pPinDir) override;
  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* Id) override;
  HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* pmt) override;
  HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
  HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** apPin, ULONG* nPin) override;
  HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;
  // IQualityControl
  HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* pSelf, Quality q) override;
  HRESULT STDMETHODCALLTYPE SetSink(IQualityControl* piqc) override;

  bool IsConnected() const { return static_cast<bool>(m_Connected); }
  IPin* GetConnected() const { return m_Connected.Get(); }
  const CMediaType& CurrentMediaType() const { return m_mt; }
  CBaseFilter* Filter() const { return m_pFilter; }
  LPCWSTR Name() const { return m_pName.get(); }
  // The last segment given to NewSegment.
  REFERENCE_TIME CurrentStartTime() const { return m_tStart; }
  REFERENCE_TIME CurrentStopTime() const { return m_tStop; }
  double CurrentRate() const { return m_dRate; }

 protected:
  // One type: CheckConnect, CheckMediaType, SetMediaType, the downstream
  // ReceiveConnection, CompleteConnect; everything undone on failure.
  HRESULT AttemptConnection(IPin* pReceivePin, const CMediaType* pmt);
  // The qualifying types of one list, in order; first failure not passed
  // over is kept in *phrRemembered.
  HRESULT TryDownstreamTypes(IPin* pReceivePin, const CMediaType* pPartial, HRESULT* phrRemembered);
  HRESULT TryOwnTypes(IPin* pReceivePin, const CMediaType* pPartial, HRESULT* phrRemembered);
  void IncrementTypeVersion() { InterlockedIncrement(&m_TypeVersion); }

  std::unique_ptr<wchar_t[]> m_pName;  // own copy
  CBaseFilter* const m_pFilter;
  CCritSec* const m_pLock;
  const PIN_DIRECTION m_dir;
  ComPtr<IPin> m_Connected;
  CMediaType m_mt;
  bool m_bRunTimeError = false;
  bool m_bCanReconnectWhenActive = false;
  bool m_bTryMyTypesFirst = false;
  REFERENCE_TIME m_tStart = 0;
  REFERENCE_TIME m_tStop = MAXLONGLONG;
  double m_dRate = 1.0;
  IQualityControl* m_pQSink = nullptr;  // not held
  volatile LONG m_TypeVersion = 1;

  friend class CEnumMediaTypes;
};

}  // namespace kestrel

#endif
