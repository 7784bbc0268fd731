// Holds a Wine prefix's system processes up while the tests run: started
// first, with no terminal, it makes Wine start its services with its own
// (empty) standard handles, so no test's output pipe is inherited by them.
// Ends when the prefix's server is stopped, or after two hours.
#include <windows.h>

int main() {
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, L"KestrelPrefixKeepAlive");
  if (!done) return 1;
  if (GetLastError() == ERROR_ALREADY_EXISTS) return 0;  // one is running
  WaitForSingleObject(done, 2 * 60 * 60 * 1000);
  CloseHandle(done);
  return 0;
}
