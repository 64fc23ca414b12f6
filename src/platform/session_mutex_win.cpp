#include "platform/session_mutex_win.hpp"

#include "platform/text.hpp"

namespace brevlo {

SessionMutex SessionMutex::acquire(std::string_view name, const MutexCalls& calls) {
  SessionMutex mutex;
  const std::u16string wide = utf16_from_wtf8(name);
  UniqueHandle handle(calls.create(nullptr, FALSE, as_wide(wide)));
  if (!handle && ::GetLastError() == ERROR_ACCESS_DENIED) {
    // It exists, made with rights that do not include all access (a launcher of another integrity
    // level, say): waiting for it and releasing it need only these two.
    handle.reset(calls.open(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, as_wide(wide)));
  }
  if (!handle) return mutex;
  const DWORD waited = calls.wait(handle.get(), INFINITE);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) mutex.handle_ = std::move(handle);
  return mutex;
}

void SessionMutex::release() noexcept {
  if (!handle_) return;
  ::ReleaseMutex(handle_.get());
  handle_.reset();
}

}  // namespace brevlo
