// CAMThread: one worker thread and the command exchange with it. A control
// thread sends a command with CallWorker and waits for the worker's reply;
// the worker takes commands with GetRequest (waiting) or CheckRequest (not
// waiting) and answers each with Reply.
//
// How to derive: implement ThreadProc; call Create to start the thread and
// Close to wait for its end after telling it to leave.
//  - ThreadProc: runs on the worker after COM is initialised there (a
//    multithreaded apartment); its result is the thread's exit code.
#ifndef KESTREL_FRAMEWORK_AM_THREAD_H
#define KESTREL_FRAMEWORK_AM_THREAD_H

#include <windows.h>

#include "base/critical_section.h"

namespace kestrel {

class CAMThread {
 public:
  CAMThread();
  virtual ~CAMThread();
  CAMThread(const CAMThread&) = delete;
  CAMThread& operator=(const CAMThread&) = delete;

  virtual DWORD ThreadProc() = 0;

  // Starts the thread: S_OK; E_FAIL when one exists or it cannot start.
  HRESULT Create();
  // Sends a command and waits for the reply, which is the result; E_FAIL
  // when no thread exists or it ends without replying. Holds the access
  // lock for the whole exchange.
  DWORD CallWorker(DWORD dwParam);
  // Waits for the end of the thread and closes it; only one caller does.
  void Close();
  // Closes the command events while no thread exists (false otherwise);
  // Create fails from then on. For an object that will not stream again.
  bool ReleaseEvents();
  bool ThreadExists() const { return m_hThread != nullptr; }

 protected:
  // Worker side: wait for a command.
  DWORD GetRequest();
  // Worker side: a pending command without waiting (false when none).
  bool CheckRequest(DWORD* pParam);
  // Worker side: wait at most dwMilliseconds for a command, without taking
  // it; true when one is pending.
  bool WaitForRequest(DWORD dwMilliseconds);
  // Worker side: answer the pending command.
  void Reply(DWORD dw);

  CCritSec m_AccessLock;

 private:
  static DWORD WINAPI InitialThreadProc(LPVOID pv);

  HANDLE m_EventSend;           // manual reset: a command is pending
  HANDLE m_EventComplete;       // automatic reset: the reply is ready
  LONG volatile m_pending = 0;  // set with m_EventSend, cleared by Reply
  DWORD m_dwParam = 0;
  DWORD m_dwReturnVal = 0;
  HANDLE volatile m_hThread = nullptr;
};

}  // namespace kestrel

#endif
