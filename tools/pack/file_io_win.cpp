#include <algorithm>
#include <memory>
#include <string_view>

#include "pack/file_io.hpp"
#include "platform/error.hpp"
#include "platform/handle_win.hpp"
#include "platform/system_text_win.hpp"
#include "platform/text.hpp"
#include "platform/windows_api_win.hpp"
#include "platform/write_all.hpp"

namespace brevlo::pack {
namespace {

std::unexpected<PackError> reason_of(const Error& error) {
  return pack_error(PackErrorKind::System, display_form(error));
}

std::unexpected<PackError> last_error() { return reason_of(Error::os(GetLastError())); }

// ReadFile and WriteFile take at most 4 GiB - 1 per call; 1 GiB keeps every call well inside.
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

// Pages of a view that is not locked leave the working set when it is unlocked; touched again,
// they are read from the file.
void drop_pages(std::uint8_t* data, std::size_t size) { (void)VirtualUnlock(data, size); }

}  // namespace

// Mapped: the view outlives the handles, and is unmapped before the output is put in place, so
// that packing can write over its own stub.
PackResult<FileBytes> read_whole_file(const std::string& path) {
  const auto wide = long_path_form(path);
  if (!wide) return reason_of(wide.error());
  UniqueHandle file(CreateFileW(as_wide(*wide), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return last_error();
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size)) return last_error();
  if (size.QuadPart == 0) return FileBytes();  // an empty file cannot be mapped
  UniqueHandle mapping(CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping) return last_error();
  void* view = MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0);
  if (view == nullptr) return last_error();
  return FileBytes(static_cast<std::uint8_t*>(view), static_cast<std::size_t>(size.QuadPart),
                   {[](std::uint8_t* data, std::size_t) { UnmapViewOfFile(data); }, drop_pages});
}

struct OutputFile::State {
  std::u16string path;
  std::u16string temporary;
  UniqueHandle file;
  bool committed = false;
};

OutputFile::OutputFile(std::unique_ptr<State> state) : state_(std::move(state)) {}
OutputFile::OutputFile(OutputFile&& other) noexcept = default;

OutputFile::~OutputFile() {
  if (state_ && !state_->committed) {
    state_->file.reset();
    DeleteFileW(as_wide(state_->temporary));
  }
}

PackResult<OutputFile> OutputFile::create(const std::string& path) {
  const std::string temporary = path + "." + std::to_string(GetCurrentProcessId()) + ".tmp";
  const auto wide_path = long_path_form(path);
  if (!wide_path) return reason_of(wide_path.error());
  const auto wide_temporary = long_path_form(temporary);
  if (!wide_temporary) return reason_of(wide_temporary.error());
  auto state = std::make_unique<State>();
  state->path = *wide_path;
  state->temporary = *wide_temporary;
  state->file.reset(CreateFileW(as_wide(state->temporary), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!state->file) return last_error();
  return OutputFile(std::move(state));
}

PackResult<void> OutputFile::write(Bytes bytes) {
  const auto written = write_every_byte(bytes, [&](Bytes rest) -> Result<std::size_t> {
    DWORD put = 0;
    const auto want = static_cast<DWORD>(std::min(rest.size(), kMaxTransfer));
    if (!WriteFile(state_->file.get(), rest.data(), want, &put, nullptr)) {
      return std::unexpected(Error::os(GetLastError()));
    }
    return put;
  });
  if (!written) return reason_of(written.error());
  return {};
}

PackResult<void> OutputFile::write_at(std::uint64_t offset, Bytes bytes) {
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(offset);
  LARGE_INTEGER end{};
  if (!SetFilePointerEx(state_->file.get(), LARGE_INTEGER{}, &end, FILE_CURRENT) ||
      !SetFilePointerEx(state_->file.get(), at, nullptr, FILE_BEGIN)) {
    return last_error();
  }
  auto written = write(bytes);
  if (!SetFilePointerEx(state_->file.get(), end, nullptr, FILE_BEGIN) && written) {
    return last_error();
  }
  return written;
}

PackResult<void> OutputFile::commit() {
  if (!CloseHandle(state_->file.release())) return last_error();
  if (!MoveFileExW(as_wide(state_->temporary), as_wide(state_->path), MOVEFILE_REPLACE_EXISTING)) {
    return last_error();
  }
  state_->committed = true;
  return {};
}

}  // namespace brevlo::pack
