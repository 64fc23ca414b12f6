#pragma once
// A named mutex shared by the processes of one session, held by one of them at a time.

#include <string_view>

#include "platform/handle_win.hpp"

namespace brevlo {

// How the mutex is reached: the system's own calls, or a test's stand-ins.
struct MutexCalls {
  decltype(&::CreateMutexW) create = ::CreateMutexW;
  decltype(&::OpenMutexW) open = ::OpenMutexW;
  decltype(&::WaitForSingleObject) wait = ::WaitForSingleObject;
};

class SessionMutex {
 public:
  SessionMutex() = default;
  SessionMutex(SessionMutex&&) = default;
  SessionMutex& operator=(SessionMutex&& other) noexcept {
    if (this != &other) {
      release();
      handle_ = std::move(other.handle_);
    }
    return *this;
  }
  ~SessionMutex() { release(); }

  // Opens (or creates) the mutex called name (WTF-8, such as "Local\brevlo-...") and waits until
  // this thread owns it. A mutex whose owner ended without releasing it is owned all the same, and
  // so is one made by another process with rights that do not let this one open it for all
  // access. Only when the system gives no such mutex at all, or cannot wait for it, is nothing
  // held.
  static SessionMutex acquire(std::string_view name, const MutexCalls& calls = {});

  // True while the mutex is owned here.
  bool held() const noexcept { return static_cast<bool>(handle_); }

  // Releases the mutex and closes the handle; nothing when nothing is held.
  void release() noexcept;

 private:
  UniqueHandle handle_;
};

}  // namespace brevlo
