#pragma once
// Locks built on the system's slim reader/writer lock. A free SRWLOCK is all zeroes: these need no
// initialisation call, allocate nothing and release nothing at the end of the process, and they
// keep the C++ library's thread support out of the launcher (std::mutex brings a POSIX threads
// layer with std::system_error behind it).

#include <atomic>

#include "platform/windows_api_win.hpp"

namespace brevlo {

// An exclusive lock; taking it again on the thread that holds it deadlocks.
class SlimLock {
 public:
  constexpr SlimLock() = default;
  SlimLock(const SlimLock&) = delete;
  SlimLock& operator=(const SlimLock&) = delete;

  void lock() noexcept { AcquireSRWLockExclusive(&lock_); }
  [[nodiscard]] bool try_lock() noexcept { return TryAcquireSRWLockExclusive(&lock_) != FALSE; }
  void unlock() noexcept { ReleaseSRWLockExclusive(&lock_); }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
};

// A lock the thread holding it may take again; it is free once every take has been given back.
class ReentrantLock {
 public:
  constexpr ReentrantLock() = default;
  ReentrantLock(const ReentrantLock&) = delete;
  ReentrantLock& operator=(const ReentrantLock&) = delete;

  void lock() noexcept {
    if (!held_by_caller()) {
      lock_.lock();
      owner_.store(GetCurrentThreadId(), std::memory_order_relaxed);
    }
    ++depth_;
  }

  [[nodiscard]] bool try_lock() noexcept {
    if (!held_by_caller()) {
      if (!lock_.try_lock()) return false;
      owner_.store(GetCurrentThreadId(), std::memory_order_relaxed);
    }
    ++depth_;
    return true;
  }

  void unlock() noexcept {
    if (--depth_ == 0) {
      owner_.store(kNoThread, std::memory_order_relaxed);
      lock_.unlock();
    }
  }

 private:
  // Only the holder stores its own id here, so a thread reads its own id back exactly when it
  // holds the lock; ordering beyond that comes from the SRWLOCK itself.
  bool held_by_caller() const noexcept {
    return owner_.load(std::memory_order_relaxed) == GetCurrentThreadId();
  }

  static constexpr DWORD kNoThread = 0;  // no thread has the id 0

  SlimLock lock_;
  std::atomic<DWORD> owner_{kNoThread};
  unsigned depth_ = 0;
};

}  // namespace brevlo
