// The engine's mutex and condition variable. On Windows they are the
// system's slim reader/writer lock and condition variable, which wait
// without a kernel object; the C++ runtime's own (winpthreads) wait on
// semaphores, a round trip to the Wine server for every wait. Elsewhere
// they are the standard ones. Both work with std::lock_guard and
// std::unique_lock.
#ifndef QTMEDIA_SYNC_MUTEX_H
#define QTMEDIA_SYNC_MUTEX_H

#include <mutex>

#ifndef _WIN32
#include <condition_variable>
#endif

namespace qtm {

#ifdef _WIN32

class Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  void lock();
  bool try_lock();
  void unlock();

 private:
  friend class ConditionVariable;
  void* srw_ = nullptr;  // an SRWLOCK, SRWLOCK_INIT
};

class ConditionVariable {
 public:
  ConditionVariable() = default;
  ConditionVariable(const ConditionVariable&) = delete;
  ConditionVariable& operator=(const ConditionVariable&) = delete;
  void notify_one();
  void notify_all();
  void wait(std::unique_lock<Mutex>& lock);
  template <class Predicate>
  void wait(std::unique_lock<Mutex>& lock, Predicate ready) {
    while (!ready()) wait(lock);
  }

 private:
  void* cv_ = nullptr;  // a CONDITION_VARIABLE, CONDITION_VARIABLE_INIT
};

#else

using Mutex = std::mutex;
using ConditionVariable = std::condition_variable;

#endif

}  // namespace qtm

#endif
