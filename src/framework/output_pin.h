// CBaseOutputPin: an output pin that pushes samples through the
// downstream pin's IMemInputPin. Chooses the allocator at connection
// (the downstream one, else the system memory allocator), commits and
// decommits it with the filter's state, and delivers samples, end of
// stream, flushes and segments downstream.
//
// How to derive: implement the CBasePin hooks and
//  - DecideBufferSize(pAlloc, pRequest): size the allocator with
//    SetProperties from the downstream request (alignment at least 1);
//    a failure makes the base try the system memory allocator, then fail.
// Optionally:
//  - DecideAllocator(pPin, ppAlloc): the allocator choice itself.
//  - InitAllocator(ppAlloc): the fallback allocator (CLSID_MemoryAllocator).
#ifndef KESTREL_FRAMEWORK_OUTPUT_PIN_H
#define KESTREL_FRAMEWORK_OUTPUT_PIN_H

#include "framework/base_pin.h"

namespace kestrel {

class CBaseOutputPin : public CBasePin {
 public:
  CBaseOutputPin(const wchar_t* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName);
  ~CBaseOutputPin() override;

  // Commits the allocator (VFW_E_NO_ALLOCATOR without one).
  HRESULT Active() override;
  // Decommits the allocator (VFW_E_NO_ALLOCATOR without one).
  HRESULT Inactive() override;
  // CBasePin's direction test, then the downstream IMemInputPin, held.
  HRESULT CheckConnect(IPin* pPin) override;
  // Decommits and releases the allocator, releases the IMemInputPin. A
  // failing decommit is returned and nothing is released.
  HRESULT BreakConnect() override;
  // DecideAllocator with the downstream IMemInputPin.
  HRESULT CompleteConnect(IPin* pReceivePin) override;

  virtual HRESULT DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc);
  virtual HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) = 0;
  // The allocator's GetBuffer; E_NOINTERFACE without an allocator.
  virtual HRESULT GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime, REFERENCE_TIME* pEndTime,
                                    DWORD dwFlags);
  // Each answers VFW_E_NOT_CONNECTED without a connection.
  virtual HRESULT Deliver(IMediaSample* pSample);
  virtual HRESULT InitAllocator(IMemAllocator** ppAlloc);
  virtual HRESULT DeliverEndOfStream();
  virtual HRESULT DeliverBeginFlush();
  virtual HRESULT DeliverEndFlush();
  virtual HRESULT DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);

  // An output pin receives no stream control: E_UNEXPECTED.
  HRESULT STDMETHODCALLTYPE EndOfStream() override;
  HRESULT STDMETHODCALLTYPE BeginFlush() override;
  HRESULT STDMETHODCALLTYPE EndFlush() override;

  IMemAllocator* Allocator() const { return m_pAllocator.Get(); }
  IMemInputPin* InputPin() const { return m_pInputPin.Get(); }

 protected:
  ComPtr<IMemAllocator> m_pAllocator;
  ComPtr<IMemInputPin> m_pInputPin;
};

}  // namespace kestrel

#endif
