#include "framework/am_thread.h"

#include <objbase.h>

#include <initializer_list>

namespace kestrel {

CAMThread::CAMThread()
    : m_EventSend(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_EventComplete(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

CAMThread::~CAMThread() {
  Close();
  if (m_EventSend) CloseHandle(m_EventSend);
  if (m_EventComplete) CloseHandle(m_EventComplete);
}

DWORD WINAPI CAMThread::InitialThreadProc(LPVOID pv) {
  auto* thread = static_cast<CAMThread*>(pv);
  // Looked up at run time so a host without ole32 still gets a worker.
  using CoInitializeExFn = HRESULT(WINAPI*)(LPVOID, DWORD);
  HMODULE ole32 = LoadLibraryW(L"ole32.dll");
  HRESULT hrCo = E_FAIL;
  if (ole32) {
    auto init = reinterpret_cast<CoInitializeExFn>(reinterpret_cast<void*>(GetProcAddress(ole32, "CoInitializeEx")));
    if (init) hrCo = init(nullptr, COINIT_DISABLE_OLE1DDE);
  }
  DWORD result = thread->ThreadProc();
  if (SUCCEEDED(hrCo)) CoUninitialize();
  if (ole32) FreeLibrary(ole32);
  return result;
}

HRESULT CAMThread::Create() {
  CAutoLock lock(&m_AccessLock);
  if (m_hThread || !m_EventSend || !m_EventComplete) return E_FAIL;
  ResetEvent(m_EventSend);
  ResetEvent(m_EventComplete);
  InterlockedExchange(&m_pending, 0);
  DWORD id = 0;
  HANDLE h = CreateThread(nullptr, 0, InitialThreadProc, this, 0, &id);
  if (!h) return E_FAIL;
  m_hThread = h;
  return S_OK;
}

DWORD CAMThread::CallWorker(DWORD dwParam) {
  CAutoLock lock(&m_AccessLock);
  if (!m_hThread) return static_cast<DWORD>(E_FAIL);
  m_dwParam = dwParam;
  InterlockedExchange(&m_pending, 1);
  SetEvent(m_EventSend);
  // A worker that has already left its loop never replies: its end
  // answers instead of a wait without end.
  HANDLE waits[2] = {m_EventComplete, m_hThread};
  if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
    InterlockedExchange(&m_pending, 0);
    ResetEvent(m_EventSend);
    return static_cast<DWORD>(E_FAIL);
  }
  return m_dwReturnVal;
}

void CAMThread::Close() {
  HANDLE h;
  {
    // Not while an exchange waits on the handle.
    CAutoLock lock(&m_AccessLock);
    h = InterlockedExchangePointer(const_cast<HANDLE*>(&m_hThread), nullptr);
  }
  if (!h) return;
  WaitForSingleObject(h, INFINITE);
  CloseHandle(h);
}

bool CAMThread::ReleaseEvents() {
  CAutoLock lock(&m_AccessLock);
  if (m_hThread) return false;
  for (HANDLE* event : {&m_EventSend, &m_EventComplete}) {
    if (*event) CloseHandle(*event);
    *event = nullptr;
  }
  return true;
}

DWORD CAMThread::GetRequest() {
  WaitForSingleObject(m_EventSend, INFINITE);
  return m_dwParam;
}

bool CAMThread::CheckRequest(DWORD* pParam) {
  // Asked between every two samples: the flag spares a wait on the event
  // (a round trip to the system under Wine) while nothing is pending.
  if (InterlockedCompareExchange(&m_pending, 0, 0) == 0) return false;
  if (WaitForSingleObject(m_EventSend, 0) != WAIT_OBJECT_0) return false;
  if (pParam) *pParam = m_dwParam;
  return true;
}

bool CAMThread::WaitForRequest(DWORD dwMilliseconds) {
  return WaitForSingleObject(m_EventSend, dwMilliseconds) == WAIT_OBJECT_0;
}

void CAMThread::Reply(DWORD dw) {
  m_dwReturnVal = dw;
  InterlockedExchange(&m_pending, 0);
  ResetEvent(m_EventSend);
  SetEvent(m_EventComplete);
}

}  // namespace kestrel
