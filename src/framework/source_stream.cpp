#include "framework/source_stream.h"

#include <evcode.h>
#include <vfwmsgs.h>

#include "framework/source.h"

namespace kestrel {

CSourceStream::CSourceStream(const wchar_t* pObjectName, HRESULT* phr, CSource* pFilter, LPCWSTR pPinName)
    : CBaseOutputPin(pObjectName, pFilter, pFilter->pStateLock(), phr, pPinName), m_pSourceFilter(pFilter) {
  HRESULT hr = pFilter->AddPin(this);
  if (phr && (FAILED(hr) || SUCCEEDED(*phr))) *phr = hr;
}

CSourceStream::~CSourceStream() {
  // Too late to end a worker that calls into the derived pin: the derived
  // destructor ends it (EndWorker). What is left here can only be idle.
  EndWorker();
  m_pSourceFilter->RemovePin(this);
}

void CSourceStream::EndWorker() {
  if (!ThreadExists()) return;
  if (m_pAllocator) m_pAllocator->Decommit();
  Stop();
  Exit();
  Close();
}

void CSourceStream::ReleaseStreamingResources() {
  CAutoLock lock(m_pLock);
  EndWorker();
  m_mt.Clear();
  ReleaseEvents();
}

HRESULT CSourceStream::OnThreadCreate() { return S_OK; }
HRESULT CSourceStream::OnThreadDestroy() { return S_OK; }
HRESULT CSourceStream::OnThreadStartPlay() { return S_OK; }
HRESULT CSourceStream::GetMediaType(CMediaType*) { return E_UNEXPECTED; }

HRESULT CSourceStream::GetMediaType(int iPosition, CMediaType* pmt) {
  if (!pmt) return E_POINTER;
  if (iPosition < 0) return E_INVALIDARG;
  if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
  CAutoLock lock(m_pLock);
  return GetMediaType(pmt);
}

HRESULT CSourceStream::CheckMediaType(const CMediaType* pmt) {
  if (!pmt) return E_POINTER;
  CAutoLock lock(m_pLock);
  CMediaType mine;
  if (FAILED(GetMediaType(&mine))) return E_FAIL;
  return mine == *pmt ? S_OK : E_FAIL;
}

HRESULT CSourceStream::Active() {
  CAutoLock lock(m_pLock);
  if (m_pFilter->IsActive()) return S_FALSE;
  if (!IsConnected()) return S_OK;
  HRESULT hr = CBaseOutputPin::Active();
  if (FAILED(hr)) return hr;
  if (FAILED(Create())) {
    CBaseOutputPin::Inactive();
    return E_FAIL;
  }
  hr = Init();
  if (FAILED(hr)) {
    // The worker has ended after answering the failure.
    Close();
    CBaseOutputPin::Inactive();
    return hr;
  }
  return Pause();
}

HRESULT CSourceStream::Inactive() {
  CAutoLock lock(m_pLock);
  if (!IsConnected()) return S_OK;
  // Decommit first: a worker waiting for a buffer is released by it.
  HRESULT hr = CBaseOutputPin::Inactive();
  if (FAILED(hr)) return hr;
  if (ThreadExists()) {
    hr = Stop();
    if (SUCCEEDED(hr)) hr = Exit();
    // Either fails only when the worker has already ended: close it anyway,
    // so the next activation can start a new one.
    Close();
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

DWORD CSourceStream::ThreadProc() {
  for (;;) {
    DWORD command = GetRequest();
    if (command == CMD_INIT) break;
    Reply(static_cast<DWORD>(E_UNEXPECTED));
  }
  HRESULT hr = OnThreadCreate();
  if (FAILED(hr)) {
    OnThreadDestroy();
    Reply(static_cast<DWORD>(hr));
    return 1;
  }
  Reply(S_OK);

  for (DWORD command = CMD_INIT; command != CMD_EXIT;) {
    command = GetRequest();
    switch (command) {
      case CMD_PAUSE:
      case CMD_RUN:
        Reply(S_OK);
        DoBufferProcessingLoop();
        break;
      case CMD_STOP:
      case CMD_EXIT:
        Reply(S_OK);
        break;
      default:
        Reply(static_cast<DWORD>(E_NOTIMPL));
        break;
    }
  }
  return FAILED(OnThreadDestroy()) ? 1 : 0;
}

HRESULT CSourceStream::DoBufferProcessingLoop() {
  // A loop that cannot start has nothing to stream: the end, with the error.
  HRESULT start = OnThreadStartPlay();
  if (FAILED(start)) {
    DeliverEndOfStream();
    m_pSourceFilter->NotifyEvent(EC_ERRORABORT, start, 0);
    return start;
  }
  for (;;) {
    DWORD command;
    if (CheckRequest(&command)) {
      // Stop and exit are answered by ThreadProc, which finds them pending.
      if (command == CMD_STOP || command == CMD_EXIT) return S_FALSE;
      Reply(command == CMD_PAUSE || command == CMD_RUN ? S_OK : static_cast<DWORD>(E_UNEXPECTED));
    }

    ComPtr<IMediaSample> sample;
    HRESULT hr = GetDeliveryBuffer(sample.ReleaseAndGetAddressOf(), nullptr, nullptr, 0);
    if (FAILED(hr) || !sample) {
      // A decommitted allocator fails at once until the stop arrives: try
      // again after 1 ms, or at once when a command comes in.
      WaitForRequest(1);
      continue;
    }

    hr = FillBuffer(sample.Get());
    if (hr == S_OK) {
      if (Deliver(sample.Get()) != S_OK) return S_OK;  // downstream wants no more
      continue;
    }
    sample.Reset();  // back to the allocator before the end goes downstream
    DeliverEndOfStream();
    if (hr == S_FALSE) return S_OK;
    m_pSourceFilter->NotifyEvent(EC_ERRORABORT, hr, 0);
    return hr;
  }
}

}  // namespace kestrel
