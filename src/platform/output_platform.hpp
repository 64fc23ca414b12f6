#pragma once
// What each platform's device file gives the portable channels.

#include <new>
#include <utility>

#include "platform/output.hpp"

namespace brevlo {

// The one object of type T, created on first use and never destroyed: the clean-up at the end of
// the process and prints from other threads may still reach the channels and devices while
// static objects are being torn down. Each distinct Tag gives its own object.
template <class T, auto Tag = 0, class... Args>
T& never_destroyed(Args&&... args) {
  alignas(T) static unsigned char storage[sizeof(T)];
  static T* const object = new (storage) T(std::forward<Args>(args)...);
  return *object;
}

// The platform's own device for a stream; process-wide and never destroyed.
OutputDevice& platform_device(Stream stream);

// Forgets any state the platform's devices keep between writes (tests).
void reset_platform_devices();

// The re-entrant lock of a stream's channel: process-wide, never destroyed, free at the start.
void lock_channel(Stream stream);
[[nodiscard]] bool try_lock_channel(Stream stream);
void unlock_channel(Stream stream);

}  // namespace brevlo
