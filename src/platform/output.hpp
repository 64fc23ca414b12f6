#pragma once
// The two output channels: the path from print_stdout / print_stderr to the standard handles.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/error.hpp"

namespace brevlo {

enum class Stream { Stdout, Stderr };

// One write of bytes to a standard handle; reports how many bytes it took. On Windows this is the
// device write over GetStdHandle (console text path or byte path, a missing handle taken as
// success); natively a write to file descriptor 1 or 2.
class OutputDevice {
 public:
  virtual ~OutputDevice() = default;
  virtual Result<std::size_t> write(std::span<const std::uint8_t> bytes) = 0;
};

// The device behind a stream: the one set for tests, else the platform's own.
OutputDevice& standard_device(Stream stream);

// Replaces the device behind a stream (tests); nullptr restores the platform's own.
void set_standard_device(Stream stream, OutputDevice* device);

// Hands one message to its channel piece by piece under the channel's re-entrant lock: stdout
// through its 1024-byte line buffer, stderr straight to the device. Returns the first failure.
Result<void> channel_write(Stream stream, std::span<const std::string_view> pieces);

// Repeats device writes until every byte is out; a write that takes 0 bytes fails with
// "failed to write whole buffer".
Result<void> write_all(OutputDevice& device, std::span<const std::uint8_t> bytes);

// End-of-process clean-up: if the stdout lock can be had without waiting, flush the buffer
// (failures ignored) and make stdout unbuffered from then on.
void output_cleanup();

// Drops the channels' state so that each test starts from a new process's view.
void reset_channels_for_testing();

}  // namespace brevlo
