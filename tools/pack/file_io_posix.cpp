#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "pack/file_io.hpp"

namespace brevlo::pack {
namespace {

std::unexpected<std::string> system_reason() { return std::unexpected(std::string(std::strerror(errno))); }

// Closes a file descriptor once.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { close(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Closes now; false when the system reports a failure (errno holds it).
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_;
};

}  // namespace

std::expected<FileBytes, std::string> read_whole_file(const std::string& path) {
  Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) return system_reason();
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) return system_reason();
  // A regular file is mapped: packing reads the installer once for the checksum and hands the
  // mapped pages to write(), with no copy of its own.
  if (S_ISREG(info.st_mode) && info.st_size > 0) {
    const auto size = static_cast<std::size_t>(info.st_size);
    void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, file.get(), 0);
    if (mapped == MAP_FAILED) return system_reason();
    return FileBytes(static_cast<std::uint8_t*>(mapped), size,
                     [](std::uint8_t* data, std::size_t length) { ::munmap(data, length); });
  }
  // Anything else (an empty file, a pipe; a folder, whose read fails) is read until its end.
  std::size_t capacity = 65536;
  auto data = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
  std::size_t size = 0;
  while (true) {
    if (size == capacity) {
      auto larger = std::make_unique_for_overwrite<std::uint8_t[]>(capacity * 2);
      std::memcpy(larger.get(), data.get(), size);
      data = std::move(larger);
      capacity *= 2;
    }
    const ssize_t n = ::read(file.get(), data.get() + size, capacity - size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return system_reason();
    }
    if (n == 0) break;
    size += static_cast<std::size_t>(n);
  }
  return FileBytes(data.release(), size, [](std::uint8_t* bytes, std::size_t) { delete[] bytes; });
}

std::expected<void, std::string> write_file_replacing(const std::string& path,
                                                      std::span<const Bytes> pieces) {
  const std::string temporary = path + "." + std::to_string(::getpid()) + ".tmp";
  Descriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0777));
  if (!file) return system_reason();
  const auto fail = [&]() {
    const int saved = errno;
    file.close();
    ::unlink(temporary.c_str());
    return std::unexpected(std::string(std::strerror(saved)));
  };
  for (Bytes piece : pieces) {
    while (!piece.empty()) {
      const ssize_t n = ::write(file.get(), piece.data(), piece.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        return fail();
      }
      if (n == 0) {
        errno = EIO;
        return fail();
      }
      piece = piece.subspan(static_cast<std::size_t>(n));
    }
  }
  if (!file.close()) return fail();
  if (::rename(temporary.c_str(), path.c_str()) != 0) return fail();
  return std::expected<void, std::string>();
}

}  // namespace brevlo::pack
