#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "pack/file_io.hpp"
#include "platform/error.hpp"
#include "platform/unique_resource.hpp"
#include "platform/write_all.hpp"

namespace brevlo::pack {
namespace {

std::unexpected<PackError> reason_of(int code) {
  return pack_error(PackErrorKind::System, std::strerror(code));
}

std::unexpected<PackError> system_reason() { return reason_of(errno); }

// A write that took no byte is told as EIO, as the system would.
std::unexpected<PackError> reason_of(const Error& error) {
  return reason_of(error.is_os() ? static_cast<int>(error.code()) : EIO);
}

// One write(2) or pwrite(2) of what remains, again when a signal interrupted it.
template <class Call>
Result<std::size_t> retried(Call&& call) {
  for (;;) {
    const ssize_t n = call();
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) return std::unexpected(Error::os(static_cast<std::uint32_t>(errno)));
  }
}

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

PackResult<FileBytes> read_whole_file(const std::string& path) {
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

PackResult<OutputFile> OutputFile::create(const std::string& path) {
  std::string temporary = path + "." + std::to_string(::getpid()) + ".tmp";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0777);
  if (fd < 0) return system_reason();
  return OutputFile(std::make_unique<State>(path, std::move(temporary), fd));
}

PackResult<void> OutputFile::write(Bytes bytes) {
  const int fd = state_->file.get();
  const auto written = write_every_byte(bytes, [fd](Bytes rest) {
    return retried([&] { return ::write(fd, rest.data(), rest.size()); });
  });
  if (!written) return reason_of(written.error());
  return {};
}

PackResult<void> OutputFile::write_at(std::uint64_t offset, Bytes bytes) {
  const int fd = state_->file.get();
  const auto written = write_every_byte(bytes, [&](Bytes rest) {
    const auto at = static_cast<off_t>(offset + (bytes.size() - rest.size()));
    return retried([&] { return ::pwrite(fd, rest.data(), rest.size(), at); });
  });
  if (!written) return reason_of(written.error());
  return {};
}

PackResult<void> OutputFile::commit() {
  if (!state_->close()) return system_reason();
  if (::rename(state_->temporary.c_str(), state_->path.c_str()) != 0) return system_reason();
  state_->committed = true;
  return {};
}

}  // namespace brevlo::pack
