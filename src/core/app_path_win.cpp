#include "core/app_path_win.hpp"

#include "core/join_path.hpp"
#include "platform/handle_win.hpp"
#include "platform/system_path.hpp"
#include "platform/system_text_win.hpp"
#include "platform/text.hpp"

namespace brevlo {
namespace {

// Symbolic links and junctions carry this bit in their reparse tag; other reparse points (cloud
// placeholders, deduplicated files) are the file itself.
constexpr DWORD kNameSurrogateBit = 0x20000000;

struct EntryAttributes {
  DWORD attributes = 0;
  DWORD reparse_tag = 0;

  bool is_link() const {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           (reparse_tag & kNameSurrogateBit) != 0;
  }
};

// The entry's attributes from its directory listing, for an entry that cannot be opened because
// it is locked or its own access is denied.
Result<EntryAttributes> listed_attributes(const std::u16string& path, bool follow_links,
                                          DWORD open_error) {
  WIN32_FIND_DATAW found{};
  UniqueFindHandle search(::FindFirstFileExW(as_wide(path), FindExInfoBasic, &found,
                                             FindExSearchNameMatch, nullptr, 0));
  if (!search) return std::unexpected(Error::os(open_error));
  search.reset();
  EntryAttributes entry;
  entry.attributes = found.dwFileAttributes;
  if (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) entry.reparse_tag = found.dwReserved0;
  // The listing describes the link itself, not its target, which cannot be reached this way.
  if (follow_links && entry.is_link()) return std::unexpected(Error::os(ERROR_CANT_ACCESS_FILE));
  return entry;
}

// Opens the entry (following links, or the link itself) without any access rights, which
// directories allow too with FILE_FLAG_BACKUP_SEMANTICS, and reads its attributes.
Result<EntryAttributes> entry_attributes(const std::u16string& path, bool follow_links) {
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS;
  if (!follow_links) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
  const HANDLE opened =
      ::CreateFileW(as_wide(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, flags, nullptr);
  const DWORD open_error = opened == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
  UniqueHandle file(opened);
  if (!file) {
    if (open_error == ERROR_ACCESS_DENIED || open_error == ERROR_SHARING_VIOLATION) {
      return listed_attributes(path, follow_links, open_error);
    }
    return std::unexpected(Error::os(open_error));
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(file.get(), &information)) {
    return std::unexpected(Error::os(::GetLastError()));
  }
  EntryAttributes entry;
  entry.attributes = information.dwFileAttributes;
  if (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(file.get(), FileAttributeTagInfo, &tag, sizeof(tag))) {
      return std::unexpected(Error::os(::GetLastError()));
    }
    entry.reparse_tag = tag.ReparseTag;
  }
  return entry;
}

}  // namespace

Result<std::string> read_environment_variable(std::string_view name) {
  Result<std::u16string> wide_name = to_system_units(name);
  if (!wide_name) return std::unexpected(environment_variable_missing());
  Result<std::u16string> units = environment_units(*wide_name);
  if (!units) return std::unexpected(environment_variable_missing());
  if (!is_valid_utf16(*units)) {
    return std::unexpected(environment_variable_not_unicode(wtf8_from_utf16(*units)));
  }
  return wtf8_from_utf16(*units);
}

Result<std::string> installed_application_path(const GameConfig& config) {
  Result<std::string> local_app_data = read_environment_variable("LOCALAPPDATA");
  if (!local_app_data) return std::unexpected(local_app_data.error());
  return application_path_under(*local_app_data, config);
}

bool path_exists(std::string_view path) {
  const Result<std::u16string> system_path = long_path_form(path);
  if (!system_path) return false;
  const Result<EntryAttributes> target = entry_attributes(*system_path, true);
  if (target) return true;
  // ERROR_CANT_ACCESS_FILE: the target cannot be reached, yet the entry itself may be a file the
  // system cannot open through (an unknown reparse point). Such an entry counts; a link does not.
  if (target.error() != Error::os(ERROR_CANT_ACCESS_FILE)) return false;
  const Result<EntryAttributes> entry = entry_attributes(*system_path, false);
  return entry && !entry->is_link();
}

}  // namespace brevlo
