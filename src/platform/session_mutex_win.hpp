#pragma once
// A named mutex shared by the processes of one session, held by one of them at a time.

#include <string_view>

#include "platform/handle_win.hpp"

namespace brevlo {

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
  // this thread owns it. A mutex whose owner ended without releasing it is owned all the same.
  // When the mutex cannot be opened or waited for, nothing is held.
  static SessionMutex acquire(std::string_view name);

  // True while the mutex is owned here.
  bool held() const noexcept { return static_cast<bool>(handle_); }

  // Releases the mutex and closes the handle; nothing when nothing is held.
  void release() noexcept;

 private:
  UniqueHandle handle_;
};

}  // namespace brevlo
