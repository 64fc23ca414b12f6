// The native device: write(2) to file descriptor 1 or 2. Used by the native build's tests only;
// errno values stand in for system error codes, and EBADF for the missing handle.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <mutex>

#include "platform/output_platform.hpp"

namespace brevlo {
namespace {

constexpr std::uint32_t kErrorInvalidHandle = 6;

class DescriptorDevice final : public OutputDevice {
 public:
  explicit DescriptorDevice(int fd) : fd_(fd) {}

  Result<std::size_t> write(std::span<const std::uint8_t> bytes) override {
    if (bytes.empty()) return 0;
    const std::size_t length = std::min<std::size_t>(bytes.size(), SSIZE_MAX);
    for (;;) {
      const ssize_t written = ::write(fd_, bytes.data(), length);
      if (written >= 0) return static_cast<std::size_t>(written);
      if (errno == EINTR) continue;
      if (errno == EBADF) return std::unexpected(Error::os(kErrorInvalidHandle));
      return std::unexpected(Error::os(static_cast<std::uint32_t>(errno)));
    }
  }

 private:
  int fd_;
};

std::recursive_mutex& channel_lock(Stream stream) {
  if (stream == Stream::Stdout) return never_destroyed<std::recursive_mutex, Stream::Stdout>();
  return never_destroyed<std::recursive_mutex, Stream::Stderr>();
}

}  // namespace

OutputDevice& platform_device(Stream stream) {
  if (stream == Stream::Stdout) return never_destroyed<DescriptorDevice, Stream::Stdout>(1);
  return never_destroyed<DescriptorDevice, Stream::Stderr>(2);
}

void reset_platform_devices() {}

void lock_channel(Stream stream) { channel_lock(stream).lock(); }
bool try_lock_channel(Stream stream) { return channel_lock(stream).try_lock(); }
void unlock_channel(Stream stream) { channel_lock(stream).unlock(); }

bool has_standard_error() { return ::fcntl(2, F_GETFD) != -1; }

}  // namespace brevlo
