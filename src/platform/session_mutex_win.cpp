#include "platform/session_mutex_win.hpp"

#include "platform/text.hpp"

namespace brevlo {

SessionMutex SessionMutex::acquire(std::string_view name) {
  SessionMutex mutex;
  const std::u16string wide = utf16_from_wtf8(name);
  UniqueHandle handle(::CreateMutexW(nullptr, FALSE, as_wide(wide)));
  if (!handle) return mutex;
  const DWORD waited = ::WaitForSingleObject(handle.get(), INFINITE);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) mutex.handle_ = std::move(handle);
  return mutex;
}

void SessionMutex::release() noexcept {
  if (!handle_) return;
  ::ReleaseMutex(handle_.get());
  handle_.reset();
}

}  // namespace brevlo
