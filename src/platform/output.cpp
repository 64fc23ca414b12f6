#include "platform/output.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <mutex>

#include "platform/output_platform.hpp"
#include "platform/write_all.hpp"

namespace brevlo {
namespace {

constexpr std::size_t kLineBufferCapacity = 1024;
constexpr std::uint32_t kErrorInvalidHandle = 6;

// Standard output's channel. The buffer's storage is always there; its capacity is 1024 from the
// first print on, and 0 once the end-of-process clean-up has run (or when the clean-up was the
// first use), so that later text goes straight to the device.
struct StdoutChannel {
  bool created = false;
  std::size_t capacity = 0;
  std::size_t filled = 0;
  std::array<std::uint8_t, kLineBufferCapacity> buffer;
};

StdoutChannel& stdout_channel() { return never_destroyed<StdoutChannel>(); }

// A stream's channel lock (the platform's), in the form std::lock_guard and std::unique_lock take.
// Standard error has no buffer, only its lock: each piece goes to the device as soon as it is
// formed.
class ChannelLock {
 public:
  explicit ChannelLock(Stream stream) : stream_(stream) {}
  void lock() { lock_channel(stream_); }
  bool try_lock() { return try_lock_channel(stream_); }
  void unlock() { unlock_channel(stream_); }

 private:
  Stream stream_;
};

std::atomic<OutputDevice*> g_test_devices[2] = {nullptr, nullptr};
std::atomic<OutputRecord*> g_record{nullptr};

std::size_t index_of(Stream stream) { return stream == Stream::Stdout ? 0 : 1; }

OutputDevice& unrecorded_device(Stream stream) {
  if (OutputDevice* device = g_test_devices[index_of(stream)].load()) return *device;
  return platform_device(stream);
}

// Passes each write on and adds what was taken to the record.
class RecordingDevice final : public OutputDevice {
 public:
  explicit RecordingDevice(Stream stream) : stream_(stream) {}

  Result<std::size_t> write(std::span<const std::uint8_t> bytes) override {
    auto written = unrecorded_device(stream_).write(bytes);
    std::span<const std::uint8_t> taken;
    if (written) {
      taken = bytes.first(std::min(*written, bytes.size()));
    } else if (written.error().is_os() && written.error().code() == kErrorInvalidHandle) {
      taken = bytes;
    }
    if (OutputRecord* record = g_record.load(); record != nullptr && !taken.empty()) {
      const std::string_view text(reinterpret_cast<const char*>(taken.data()), taken.size());
      record->all += text;
      if (stream_ == Stream::Stderr) record->err += text;
    }
    return written;
  }

 private:
  Stream stream_;
};

std::span<const std::uint8_t> as_bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Writes the buffered bytes until all are out or a write fails; what was written leaves the
// buffer either way.
Result<void> flush_buffer(StdoutChannel& channel, OutputDevice& device) {
  std::size_t done = 0;
  Result<void> result = write_every_byte(
      std::span(channel.buffer.data(), channel.filled),
      [&device](std::span<const std::uint8_t> rest) { return device_write(device, rest); }, done,
      "failed to write the buffered data");
  std::memmove(channel.buffer.data(), channel.buffer.data() + done, channel.filled - done);
  channel.filled -= done;
  return result;
}

// Copies a piece into the buffer when it fits; otherwise flushes first. A piece at least as long
// as the whole buffer never enters it and goes straight to the device.
Result<void> append(StdoutChannel& channel, OutputDevice& device,
                    std::span<const std::uint8_t> piece) {
  const std::size_t spare = channel.capacity - channel.filled;
  if (piece.size() > spare) {
    if (auto flushed = flush_buffer(channel, device); !flushed) return flushed;
  }
  if (piece.size() >= channel.capacity) return write_all(device, piece);
  std::memcpy(channel.buffer.data() + channel.filled, piece.data(), piece.size());
  channel.filled += piece.size();
  return Result<void>();
}

// Line buffering: a line reaches the device in one write when its line feed is handed over; text
// after the last line feed waits for the next line feed, a flush or the end of the process.
Result<void> write_stdout_piece(StdoutChannel& channel, OutputDevice& device,
                                std::span<const std::uint8_t> piece) {
  const auto last_line_feed = std::find(piece.rbegin(), piece.rend(), '\n');
  if (last_line_feed == piece.rend()) {
    if (channel.filled > 0 && channel.buffer[channel.filled - 1] == '\n') {
      if (auto flushed = flush_buffer(channel, device); !flushed) return flushed;
    }
    return append(channel, device, piece);
  }

  const auto lines_length = static_cast<std::size_t>(piece.rend() - last_line_feed);
  const auto lines = piece.first(lines_length);
  if (channel.filled == 0) {
    if (auto written = write_all(device, lines); !written) return written;
  } else {
    if (auto appended = append(channel, device, lines); !appended) return appended;
    if (auto flushed = flush_buffer(channel, device); !flushed) return flushed;
  }
  return append(channel, device, piece.subspan(lines_length));
}

}  // namespace

OutputDevice& standard_device(Stream stream) {
  if (g_record.load() != nullptr) {
    if (stream == Stream::Stdout) {
      return never_destroyed<RecordingDevice, Stream::Stdout>(Stream::Stdout);
    }
    return never_destroyed<RecordingDevice, Stream::Stderr>(Stream::Stderr);
  }
  return unrecorded_device(stream);
}

void set_output_record(OutputRecord* record) { g_record.store(record); }

void set_standard_device(Stream stream, OutputDevice* device) {
  g_test_devices[index_of(stream)].store(device);
}

Result<std::size_t> device_write(OutputDevice& device, std::span<const std::uint8_t> bytes) {
  auto written = device.write(bytes);
  if (!written && written.error().is_os() && written.error().code() == kErrorInvalidHandle) {
    return bytes.size();
  }
  return written;
}

Result<void> write_all(OutputDevice& device, std::span<const std::uint8_t> bytes) {
  return write_every_byte(
      bytes, [&device](std::span<const std::uint8_t> rest) { return device_write(device, rest); });
}

Result<void> channel_write(Stream stream, std::span<const std::string_view> pieces) {
  OutputDevice& device = standard_device(stream);
  ChannelLock lock(stream);
  std::lock_guard guard(lock);
  if (stream == Stream::Stderr) {
    for (const std::string_view piece : pieces) {
      if (auto written = write_all(device, as_bytes(piece)); !written) return written;
    }
    return Result<void>();
  }

  StdoutChannel& channel = stdout_channel();
  if (!channel.created) {
    channel.created = true;
    channel.capacity = kLineBufferCapacity;
  }
  for (const std::string_view piece : pieces) {
    if (auto written = write_stdout_piece(channel, device, as_bytes(piece)); !written) {
      return written;
    }
  }
  return Result<void>();
}

void output_cleanup() {
  ChannelLock lock(Stream::Stdout);
  std::unique_lock guard(lock, std::try_to_lock);
  StdoutChannel& channel = stdout_channel();
  if (!guard.owns_lock()) return;
  if (channel.created) (void)flush_buffer(channel, standard_device(Stream::Stdout));
  channel.created = true;
  channel.capacity = 0;
  channel.filled = 0;
}

void reset_channels_for_testing() {
  ChannelLock lock(Stream::Stdout);
  std::lock_guard guard(lock);
  StdoutChannel& channel = stdout_channel();
  channel.created = false;
  channel.capacity = 0;
  channel.filled = 0;
  reset_platform_devices();
}

}  // namespace brevlo
