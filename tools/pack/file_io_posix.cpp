#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "pack/file_io.hpp"
#include "platform/unique_resource.hpp"

namespace brevlo::pack {
namespace {

std::unexpected<std::string> system_reason() { return std::unexpected(std::string(std::strerror(errno))); }

// A file descriptor, -1 for none.
struct CloseDescriptor {
  static constexpr int none() noexcept { return -1; }
  static bool holds(int fd) noexcept { return fd >= 0; }
  void operator()(int fd) const noexcept { ::close(fd); }
};
using Descriptor = UniqueResource<int, CloseDescriptor>;

// The mapping is read-only and private, so its pages can always be dropped: touched again, they
// are read from the file. The range is widened to whole pages, which the mapping covers.
void drop_pages(std::uint8_t* data, std::size_t size) {
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<std::uintptr_t>(data) & ~(page - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + size + page - 1) & ~(page - 1);
  (void)::madvise(reinterpret_cast<void*>(start), end - start, MADV_DONTNEED);
}

}  // namespace

std::expected<FileBytes, std::string> read_whole_file(const std::string& path) {
  Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) return system_reason();
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) return system_reason();
  // A regular file is mapped: its pages are read where they lie and dropped after use.
  if (S_ISREG(info.st_mode) && info.st_size > 0) {
    const auto size = static_cast<std::size_t>(info.st_size);
    void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, file.get(), 0);
    if (mapped == MAP_FAILED) return system_reason();
    (void)::madvise(mapped, size, MADV_SEQUENTIAL);
    return FileBytes(static_cast<std::uint8_t*>(mapped), size,
                     {[](std::uint8_t* data, std::size_t length) { ::munmap(data, length); },
                      drop_pages});
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
  return FileBytes(data.release(), size,
                   {[](std::uint8_t* bytes, std::size_t) { delete[] bytes; }, nullptr});
}

struct OutputFile::State {
  State(std::string path, std::string temporary, int fd)
      : path(std::move(path)), temporary(std::move(temporary)), file(fd) {}
  // Closes the file now; false when the system reports a failure (errno holds it).
  bool close() { return !file || ::close(file.release()) == 0; }
  std::string path;
  std::string temporary;
  Descriptor file;
  bool committed = false;
};

OutputFile::OutputFile(std::unique_ptr<State> state) : state_(std::move(state)) {}
OutputFile::OutputFile(OutputFile&& other) noexcept = default;

OutputFile::~OutputFile() {
  if (state_ && !state_->committed) {
    state_->file.reset();
    ::unlink(state_->temporary.c_str());
  }
}

std::expected<OutputFile, std::string> OutputFile::create(const std::string& path) {
  std::string temporary = path + "." + std::to_string(::getpid()) + ".tmp";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0777);
  if (fd < 0) return system_reason();
  return OutputFile(std::make_unique<State>(path, std::move(temporary), fd));
}

std::expected<void, std::string> OutputFile::write(Bytes bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(state_->file.get(), bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return system_reason();
    }
    if (n == 0) return std::unexpected(std::string(std::strerror(EIO)));
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  return {};
}

std::expected<void, std::string> OutputFile::write_at(std::uint64_t offset, Bytes bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::pwrite(state_->file.get(), bytes.data(), bytes.size(),
                               static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return system_reason();
    }
    if (n == 0) return std::unexpected(std::string(std::strerror(EIO)));
    bytes = bytes.subspan(static_cast<std::size_t>(n));
    offset += static_cast<std::uint64_t>(n);
  }
  return {};
}

std::expected<void, std::string> OutputFile::commit() {
  if (!state_->close()) return system_reason();
  if (::rename(state_->temporary.c_str(), state_->path.c_str()) != 0) return system_reason();
  state_->committed = true;
  return {};
}

}  // namespace brevlo::pack
