#include "core/system_file_win.hpp"

#include <algorithm>

#include "platform/byte_path_win.hpp"
#include "platform/system_text_win.hpp"
#include "platform/write_all.hpp"

namespace brevlo {
namespace {

// mingw-w64 hides this class behind a version test that never holds for a _WIN32_WINNT value.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);

bool missing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// The POSIX-semantics delete of the entry itself (a link, not its target).
bool delete_ignoring_read_only(const std::u16string& path) {
  const SystemCalls& calls = system_calls();
  SystemHandle file(calls.create_file(as_wide(path), DELETE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                      nullptr));
  if (!file) return false;
  FILE_DISPOSITION_INFO_EX disposition{FILE_DISPOSITION_FLAG_DELETE |
                                       FILE_DISPOSITION_FLAG_POSIX_SEMANTICS |
                                       FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE};
  return calls.set_file_information(file.get(), kFileDispositionInfoEx, &disposition,
                                    sizeof disposition) != FALSE;
}

}  // namespace

Error last_system_error() { return Error::os(::GetLastError()); }

Result<void> make_folder(const std::string& path, bool existing_ok) {
  auto system_path = long_path_form(path);
  if (!system_path) return std::unexpected(system_path.error());
  if (system_calls().create_directory(as_wide(*system_path), nullptr)) return {};
  const DWORD error = ::GetLastError();
  if (existing_ok && error == ERROR_ALREADY_EXISTS) {
    const DWORD attributes = ::GetFileAttributesW(as_wide(*system_path));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
      return {};
    }
  }
  return std::unexpected(Error::os(error));
}

Result<SystemHandle> create_new_file(const std::string& path) {
  auto system_path = long_path_form(path);
  if (!system_path) return std::unexpected(system_path.error());
  SystemHandle file(system_calls().create_file(as_wide(*system_path), GENERIC_WRITE,
                                               FILE_SHARE_READ, nullptr, CREATE_NEW,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::unexpected(last_system_error());
  return file;
}

Result<SystemHandle> create_unlinked_file(const std::string& path) {
  if (Result<void> removed = remove_file(path, true); !removed) {
    return std::unexpected(removed.error());
  }
  return create_new_file(path);
}

Result<void> write_through(HANDLE file, std::span<const std::uint8_t> bytes) {
  return write_every_byte(bytes, [file](std::span<const std::uint8_t> rest) -> Result<std::size_t> {
    DWORD written = 0;
    const auto length = static_cast<DWORD>(std::min<std::size_t>(rest.size(), 0x40000000));
    if (!system_calls().write_file(file, rest.data(), length, &written, nullptr)) {
      return std::unexpected(last_system_error());
    }
    return written;
  });
}

Result<void> flush_and_close(SystemHandle& file) {
  Result<void> outcome;
  if (!system_calls().flush_file(file.get())) outcome = std::unexpected(last_system_error());
  if (!system_calls().close_handle(file.release()) && outcome) {
    outcome = std::unexpected(last_system_error());
  }
  return outcome;
}

Result<void> write_flush_close(SystemHandle& file, std::span<const std::uint8_t> bytes) {
  Result<void> outcome = write_through(file.get(), bytes);
  if (!outcome) return outcome;  // the handle closes on the way out
  return flush_and_close(file);
}

Result<void> remove_file(const std::string& path, bool missing_ok) {
  auto system_path = long_path_form(path);
  if (!system_path) return std::unexpected(system_path.error());
  if (system_calls().delete_file(as_wide(*system_path))) return {};
  const DWORD error = ::GetLastError();
  if (missing_ok && missing(error)) return {};
  if (error == ERROR_ACCESS_DENIED && delete_ignoring_read_only(*system_path)) return {};
  return std::unexpected(Error::os(error));
}

}  // namespace brevlo
