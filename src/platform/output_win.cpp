// The Windows device: every write asks GetStdHandle anew and never closes what it gets (the
// standard handles belong to the process, not to the channel). A console whose output code page
// is not UTF-8 gets the text path through WriteConsoleW; files, pipes and UTF-8 consoles get the
// bytes unchanged.
#include "platform/byte_path_win.hpp"
#include "platform/console_text.hpp"
#include "platform/lock_win.hpp"
#include "platform/output_platform.hpp"
#include "platform/windows_api_win.hpp"

namespace brevlo {
namespace {

class ConsoleHandleSink final : public ConsoleSink {
 public:
  explicit ConsoleHandleSink(HANDLE console) : console_(console) {}

  Result<std::size_t> write_units(std::span<const char16_t> units) override {
    DWORD written = 0;
    if (!WriteConsoleW(console_, units.data(), static_cast<DWORD>(units.size()), &written,
                       nullptr)) {
      return std::unexpected(Error::os(GetLastError()));
    }
    return written;
  }

 private:
  HANDLE console_;
};

class StandardHandleDevice final : public OutputDevice {
 public:
  explicit StandardHandleDevice(DWORD which) : which_(which) {}

  Result<std::size_t> write(std::span<const std::uint8_t> bytes) override {
    if (bytes.empty()) return 0;
    HANDLE handle = GetStdHandle(which_);
    if (handle == nullptr) return std::unexpected(Error::os(ERROR_INVALID_HANDLE));
    if (handle == INVALID_HANDLE_VALUE) return std::unexpected(Error::os(GetLastError()));
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode) && GetConsoleOutputCP() != CP_UTF8) {
      ConsoleHandleSink console(handle);
      return write_console_text(carry_, bytes, console);
    }
    return write_to_handle(handle, bytes);
  }

  void reset() { carry_ = Utf8CarryOver{}; }

 private:
  DWORD which_;
  Utf8CarryOver carry_;
};

StandardHandleDevice& device_of(Stream stream) {
  if (stream == Stream::Stdout) {
    return never_destroyed<StandardHandleDevice, Stream::Stdout>(STD_OUTPUT_HANDLE);
  }
  return never_destroyed<StandardHandleDevice, Stream::Stderr>(STD_ERROR_HANDLE);
}

// Free before any code runs (constant initialisation) and never destroyed.
constinit ReentrantLock g_channel_locks[2];

ReentrantLock& channel_lock(Stream stream) {
  return g_channel_locks[stream == Stream::Stdout ? 0 : 1];
}

}  // namespace

OutputDevice& platform_device(Stream stream) { return device_of(stream); }

void reset_platform_devices() {
  device_of(Stream::Stdout).reset();
  device_of(Stream::Stderr).reset();
}

void lock_channel(Stream stream) { channel_lock(stream).lock(); }
bool try_lock_channel(Stream stream) { return channel_lock(stream).try_lock(); }
void unlock_channel(Stream stream) { channel_lock(stream).unlock(); }

bool has_standard_error() {
  const HANDLE handle = ::GetStdHandle(STD_ERROR_HANDLE);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

}  // namespace brevlo
