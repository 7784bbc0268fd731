#include "test_source.h"

#include <vfwmsgs.h>

#include <cstring>

#include "framework_test_util.h"

namespace kestrel::test {

TestPin::TestPin(HRESULT* phr, TestSource* pFilter, LPCWSTR pName)
    : CSourceStream(L"TestPin", phr, pFilter, pName),
      CSourceSeeking(L"TestPinSeeking", static_cast<IPin*>(this), phr, &m_cSharedState),
      eos_event(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
  m_dwSeekingCaps |= AM_SEEKING_CanGetCurrentPos;
  SetDuration(10'000'000);
}

TestPin::~TestPin() { CloseHandle(eos_event); }

HRESULT STDMETHODCALLTYPE TestPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
  return CSourceStream::NonDelegatingQueryInterface(riid, ppv);
}

void TestPin::Log(std::string call) {
  CAutoLock lock(&m_logLock);
  m_calls.push_back(std::move(call));
}

std::vector<std::string> TestPin::Calls() {
  CAutoLock lock(&m_logLock);
  return m_calls;
}

void TestPin::ClearCalls() {
  CAutoLock lock(&m_logLock);
  m_calls.clear();
}

HRESULT TestPin::GetMediaType(int iPosition, CMediaType* pmt) {
  if (single_type) return CSourceStream::GetMediaType(iPosition, pmt);
  if (iPosition < 0) return E_INVALIDARG;
  if (iPosition >= static_cast<int>(types.size())) return VFW_S_NO_MORE_ITEMS;
  return pmt->Set(types[iPosition]);
}

HRESULT TestPin::GetMediaType(CMediaType* pmt) {
  CAutoLock lock(m_pLock);
  if (types.empty()) return E_UNEXPECTED;
  return pmt->Set(types[0]);
}

HRESULT TestPin::CheckMediaType(const CMediaType* pmt) {
  Log("CheckMediaType " + SubtypeName(pmt->subtype));
  if (check) return check(pmt);
  if (single_type) return CSourceStream::CheckMediaType(pmt);
  for (const CMediaType& mine : types) {
    if (mine == *pmt) return S_OK;
  }
  return E_FAIL;
}

HRESULT TestPin::SetMediaType(const CMediaType* pmt) {
  Log("SetMediaType " + SubtypeName(pmt->subtype));
  return S_OK;
}

HRESULT TestPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) {
  Log("DecideBufferSize");
  last_request = *pRequest;
  ALLOCATOR_PROPERTIES props = wanted;
  if (pRequest->cbAlign > props.cbAlign) props.cbAlign = pRequest->cbAlign;
  ALLOCATOR_PROPERTIES actual = {};
  HRESULT hr = pAlloc->SetProperties(&props, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < props.cbBuffer ? E_FAIL : S_OK;
}

HRESULT TestPin::FillBuffer(IMediaSample* pSample) {
  CAutoLock lock(&m_cSharedState);
  int n = m_loopFill++;
  ++fills;
  HRESULT hr;
  if (fill) {
    hr = fill(pSample, n);
  } else if (n >= samples_per_loop) {
    hr = S_FALSE;
  } else {
    BYTE* data = nullptr;
    pSample->GetPointer(&data);
    long size = pSample->GetSize();
    std::memset(data, n & 0xFF, size);
    pSample->SetActualDataLength(size);
    REFERENCE_TIME start = n * 10'000LL;
    REFERENCE_TIME stop = start + 10'000;
    pSample->SetTime(&start, &stop);
    pSample->SetSyncPoint(TRUE);
    hr = S_OK;
  }
  if (hr == S_OK) {
    pSample->SetDiscontinuity(m_discontinuity ? TRUE : FALSE);
    m_discontinuity = false;
  }
  return hr;
}

HRESULT TestPin::OnThreadCreate() {
  ++thread_creates;
  Log("OnThreadCreate");
  return on_thread_create;
}

HRESULT TestPin::OnThreadStartPlay() {
  REFERENCE_TIME start, stop;
  {
    CAutoLock lock(&m_cSharedState);
    m_loopFill = 0;
    m_discontinuity = true;
    start = m_rtStart;
    stop = m_rtStop;
  }
  ++start_plays;
  DeliverNewSegment(start, stop, 1.0);
  return S_OK;
}

HRESULT TestPin::DeliverEndOfStream() {
  // Counted before downstream hears of it, so the count is complete by the
  // time the graph reports the end.
  ++eos_delivered;
  HRESULT hr = CSourceStream::DeliverEndOfStream();
  SetEvent(eos_event);
  return hr;
}

HRESULT TestPin::Deliver(IMediaSample* pSample) {
  HRESULT hr = CSourceStream::Deliver(pSample);
  last_delivery = hr;
  return hr;
}

HRESULT TestPin::ChangeStart() {
  Log("ChangeStart");
  if (ThreadExists()) {
    DeliverBeginFlush();
    Stop();
    DeliverEndFlush();
    Run();
  }
  return change_start_result;
}

HRESULT TestPin::ChangeStop() {
  Log("ChangeStop");
  return change_stop_result;
}

HRESULT TestPin::ChangeRate() {
  Log("ChangeRate");
  return S_OK;
}

}  // namespace kestrel::test
