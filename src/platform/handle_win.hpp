#pragma once
// Owners for Windows handles: each handle the launcher opens has exactly one, and it is closed
// when that owner's scope ends, on normal paths and during a fatal stop alike.

#include <utility>

#include "platform/unique_resource.hpp"
#include "platform/windows_api_win.hpp"

namespace brevlo {

// A close for Windows handles. Both nullptr and INVALID_HANDLE_VALUE count as "no handle" (the
// system uses either, depending on the call). Closing keeps the thread's last-error value, so an
// owner going out of scope between a failing call and its GetLastError cannot change the code.
template <class T>
bool is_held_handle(T value) noexcept {
  return value != T{} && reinterpret_cast<HANDLE>(value) != INVALID_HANDLE_VALUE;
}

template <class T, class Function>
struct WindowsClose {
  static bool holds(T value) noexcept { return is_held_handle(value); }
  void operator()(T value) const noexcept {
    const DWORD last_error = ::GetLastError();
    Function{}(value);
    ::SetLastError(last_error);
  }
};

// The same with a close function found at run time (GetProcAddress); a null one closes nothing.
template <class T, class Function>
struct LoadedClose {
  Function function = nullptr;

  static bool holds(T value) noexcept { return is_held_handle(value); }
  void operator()(T value) const noexcept {
    if (function == nullptr) return;
    const DWORD last_error = ::GetLastError();
    function(value);
    ::SetLastError(last_error);
  }
};

struct CallCloseHandle {
  void operator()(HANDLE handle) const noexcept { ::CloseHandle(handle); }
};
struct CallRegCloseKey {
  void operator()(HKEY key) const noexcept { ::RegCloseKey(key); }
};
struct CallFindClose {
  void operator()(HANDLE handle) const noexcept { ::FindClose(handle); }
};

// A kernel object handle (file, process, thread, duplicated standard handle), closed with
// CloseHandle.
using UniqueHandle = UniqueResource<HANDLE, WindowsClose<HANDLE, CallCloseHandle>>;
// An opened registry key, closed with RegCloseKey; never holds a predefined root such as
// HKEY_LOCAL_MACHINE.
using UniqueRegistryKey = UniqueResource<HKEY, WindowsClose<HKEY, CallRegCloseKey>>;
// A directory search from FindFirstFileExW, closed with FindClose.
using UniqueFindHandle = UniqueResource<HANDLE, WindowsClose<HANDLE, CallFindClose>>;

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
