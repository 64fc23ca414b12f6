#include <algorithm>
#include <memory>
#include <string_view>

#include "pack/file_io.hpp"
#include "platform/error.hpp"
#include "platform/handle_win.hpp"
#include "platform/system_text_win.hpp"
#include "platform/text.hpp"
#include "platform/win_support.hpp"

namespace brevlo::pack {
namespace {

std::unexpected<std::string> reason_of(const Error& error) {
  return std::unexpected(display_form(error));
}

std::unexpected<std::string> last_error() { return reason_of(Error::os(GetLastError())); }

// ReadFile and WriteFile take at most 4 GiB - 1 per call; 1 GiB keeps every call well inside.
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

}  // namespace

// Read, not mapped: a mapped file could not be replaced while packing writes over its own stub.
std::expected<FileBytes, std::string> read_whole_file(const std::string& path) {
  const auto wide = long_path_form(path);
  if (!wide) return reason_of(wide.error());
  UniqueHandle file(CreateFileW(as_wide(*wide), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return last_error();
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size)) return last_error();
  const auto total = static_cast<std::size_t>(size.QuadPart);
  auto data = std::make_unique_for_overwrite<std::uint8_t[]>(total);
  std::size_t done = 0;
  while (done < total) {
    DWORD got = 0;
    const auto want = static_cast<DWORD>(std::min(total - done, kMaxTransfer));
    if (!ReadFile(file.get(), data.get() + done, want, &got, nullptr)) return last_error();
    if (got == 0) break;  // the file became shorter while it was read
    done += got;
  }
  return FileBytes(data.release(), done, [](std::uint8_t* bytes, std::size_t) { delete[] bytes; });
}

std::expected<void, std::string> write_file_replacing(const std::string& path,
                                                      std::span<const Bytes> pieces) {
  const std::string temporary = path + "." + std::to_string(GetCurrentProcessId()) + ".tmp";
  const auto wide_path = long_path_form(path);
  if (!wide_path) return reason_of(wide_path.error());
  const auto wide_temporary = long_path_form(temporary);
  if (!wide_temporary) return reason_of(wide_temporary.error());
  UniqueHandle file(CreateFileW(as_wide(*wide_temporary), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return last_error();
  const auto fail = [&](DWORD code) {
    file.reset();
    DeleteFileW(as_wide(*wide_temporary));
    return reason_of(Error::os(code));
  };
  for (Bytes piece : pieces) {
    while (!piece.empty()) {
      DWORD put = 0;
      const auto want = static_cast<DWORD>(std::min(piece.size(), kMaxTransfer));
      if (!WriteFile(file.get(), piece.data(), want, &put, nullptr)) return fail(GetLastError());
      if (put == 0) return fail(ERROR_WRITE_FAULT);
      piece = piece.subspan(put);
    }
  }
  if (!CloseHandle(file.release())) return fail(GetLastError());
  if (!MoveFileExW(as_wide(*wide_temporary), as_wide(*wide_path), MOVEFILE_REPLACE_EXISTING)) {
    return fail(GetLastError());
  }
  return std::expected<void, std::string>();
}

}  // namespace brevlo::pack
