#pragma once
// Owners for Windows handles: each handle the launcher opens has exactly one, and it is closed
// when that owner's scope ends, on normal paths and during a fatal stop alike.

#include <utility>

#include "platform/win_support.hpp"

namespace brevlo {

// Owns one handle of type T and closes it with Close::close. Both nullptr and
// INVALID_HANDLE_VALUE count as "no handle" (the system uses either, depending on the call).
// Closing keeps the thread's last-error value, so an owner going out of scope between a failing
// call and its GetLastError cannot change the code.
template <class T, class Close>
class UniqueResource {
 public:
  UniqueResource() noexcept = default;
  explicit UniqueResource(T value) noexcept : value_(value) {}
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  ~UniqueResource() { reset(); }

  // True when a handle is held.
  explicit operator bool() const noexcept { return valid(value_); }

  // The handle, still owned here.
  T get() const noexcept { return value_; }

  // Gives the handle up without closing it.
  [[nodiscard]] T release() noexcept { return std::exchange(value_, T{}); }

  // Closes the held handle (if any) and takes value instead.
  void reset(T value = T{}) noexcept {
    const T old = std::exchange(value_, value);
    if (valid(old)) {
      const DWORD last_error = ::GetLastError();
      Close::close(old);
      ::SetLastError(last_error);
    }
  }

  // Closes the held handle and gives the slot for a call that returns a handle through a pointer.
  T* put() noexcept {
    reset();
    return &value_;
  }

 private:
  static bool valid(T value) noexcept {
    return value != T{} && reinterpret_cast<HANDLE>(value) != INVALID_HANDLE_VALUE;
  }

  T value_{};
};

struct CloseKernelHandle {
  static void close(HANDLE handle) noexcept { ::CloseHandle(handle); }
};
struct CloseRegistryKey {
  static void close(HKEY key) noexcept { ::RegCloseKey(key); }
};
struct CloseFindHandle {
  static void close(HANDLE handle) noexcept { ::FindClose(handle); }
};

// A kernel object handle (file, process, thread, duplicated standard handle), closed with
// CloseHandle.
using UniqueHandle = UniqueResource<HANDLE, CloseKernelHandle>;
// An opened registry key, closed with RegCloseKey; never holds a predefined root such as
// HKEY_LOCAL_MACHINE.
using UniqueRegistryKey = UniqueResource<HKEY, CloseRegistryKey>;
// A directory search from FindFirstFileExW, closed with FindClose.
using UniqueFindHandle = UniqueResource<HANDLE, CloseFindHandle>;

// A started child process: its process handle and main-thread handle, closed in that order.
// Closing them does not affect the running child.
class StartedChild {
 public:
  StartedChild(UniqueHandle process, UniqueHandle thread) noexcept
      : process_(std::move(process)), thread_(std::move(thread)) {}
  StartedChild(StartedChild&&) noexcept = default;
  StartedChild& operator=(StartedChild&&) noexcept = default;  // closes process, then thread
  ~StartedChild() { close(); }

  HANDLE process() const noexcept { return process_.get(); }
  HANDLE thread() const noexcept { return thread_.get(); }

  // Closes the process handle and then the thread handle; the owner holds nothing afterwards.
  void close() noexcept {
    process_.reset();
    thread_.reset();
  }

 private:
  UniqueHandle process_;
  UniqueHandle thread_;
};

}  // namespace brevlo
