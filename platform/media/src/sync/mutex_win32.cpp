#include <windows.h>

#include "sync/mutex.h"

namespace qtm {

static_assert(sizeof(SRWLOCK) == sizeof(void*) && sizeof(CONDITION_VARIABLE) == sizeof(void*),
              "the lock and the condition variable are one pointer each");

namespace {

SRWLOCK* Srw(void** state) { return reinterpret_cast<SRWLOCK*>(state); }
CONDITION_VARIABLE* Cv(void** state) { return reinterpret_cast<CONDITION_VARIABLE*>(state); }

}  // namespace

void Mutex::lock() { AcquireSRWLockExclusive(Srw(&srw_)); }

bool Mutex::try_lock() { return TryAcquireSRWLockExclusive(Srw(&srw_)) != 0; }

void Mutex::unlock() { ReleaseSRWLockExclusive(Srw(&srw_)); }

void ConditionVariable::notify_one() { WakeConditionVariable(Cv(&cv_)); }

void ConditionVariable::notify_all() { WakeAllConditionVariable(Cv(&cv_)); }

// INFINITE: back only when woken (or spuriously, which the callers' loops
// allow for).
void ConditionVariable::wait(std::unique_lock<Mutex>& lock) {
  SleepConditionVariableSRW(Cv(&cv_), Srw(&lock.mutex()->srw_), INFINITE, 0);
}

}  // namespace qtm
