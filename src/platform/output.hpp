#pragma once
// The two output channels: the path from print_stdout / print_stderr to the standard handles.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/error.hpp"

namespace brevlo {

enum class Stream { Stdout, Stderr };

// One write of bytes to a standard handle; reports how many bytes it took. On Windows this is the
// device write over GetStdHandle (console text path or byte path); natively a write to file
// descriptor 1 or 2. A missing handle fails with system error 6, which device_write and every
// caller above it take as success.
class OutputDevice {
 public:
  virtual ~OutputDevice() = default;
  [[nodiscard]] virtual Result<std::size_t> write(std::span<const std::uint8_t> bytes) = 0;
};

// A copy of what was printed in a run, kept only when something asks for it (the support log, the
// failure dialog): the bytes of every device write as the device took them (all of them when the
// stream has no handle), both streams in order in all, standard error's alone in err.
struct OutputRecord {
  std::string all;
  std::string err;
};

// From now on every device write is also added to record; nullptr stops that.
void set_output_record(OutputRecord* record);

// The device behind a stream: the one set for tests, else the platform's own; while a record is
// set, a device that adds to it what that one takes.
OutputDevice& standard_device(Stream stream);

// Replaces the device behind a stream (tests); nullptr restores the platform's own.
void set_standard_device(Stream stream, OutputDevice* device);

// One device write in which system error 6 (ERROR_INVALID_HANDLE: no standard handle, or one that
// has become invalid) counts as success with every byte written, so that a process without
// standard handles prints successfully and its text is dropped.
[[nodiscard]] Result<std::size_t> device_write(OutputDevice& device,
                                               std::span<const std::uint8_t> bytes);

// Hands one message to its channel piece by piece under the channel's re-entrant lock: stdout
// through its 1024-byte line buffer, stderr straight to the device. Returns the first failure.
[[nodiscard]] Result<void> channel_write(Stream stream, std::span<const std::string_view> pieces);

// Repeats device writes until every byte is out; a write that takes 0 bytes fails with
// "failed to write whole buffer".
[[nodiscard]] Result<void> write_all(OutputDevice& device, std::span<const std::uint8_t> bytes);

// True when the process has a standard error handle. Without one (started from Explorer) nobody
// reads the launcher's lines, so a person is watching the screen instead: the rule by which the
// splash and the failure dialog are shown.
bool has_standard_error();

// End-of-process clean-up: if the stdout lock can be had without waiting (free, or held by the
// calling thread), flush the buffer (failures ignored) and make stdout unbuffered from then on.
// When another thread holds the lock, nothing is done.
void output_cleanup();

// Drops the channels' state so that each test starts from a new process's view.
void reset_channels_for_testing();

}  // namespace brevlo
