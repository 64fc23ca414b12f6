#pragma once
// The byte path: one synchronous write of bytes to a handle, as the output channels use it for a
// file, a pipe or a UTF-8 console, and as the installer stage uses it for its file.

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/error.hpp"
#include "platform/windows_api_win.hpp"

namespace brevlo {

// Writes up to 0xFFFFFFFF bytes to handle with NtWriteFile and reports how many it took. A write
// that the system reports as pending is waited out; one that is still pending after the wait ends
// the process at once (its buffer might otherwise be read after this returns). A failure status
// comes back as the system error RtlNtStatusToDosError gives for it. The handle is not closed.
[[nodiscard]] Result<std::size_t> write_to_handle(HANDLE handle,
                                                  std::span<const std::uint8_t> bytes);

// Writes every byte to handle with write_to_handle, as many times as it takes; a write that takes
// none fails with "failed to write whole buffer".
[[nodiscard]] Result<void> write_all_to_handle(HANDLE handle, std::span<const std::uint8_t> bytes);

}  // namespace brevlo
