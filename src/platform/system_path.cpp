#include "platform/system_path.hpp"

#include <cstddef>
#include <expected>
#include <utility>

#include "platform/text.hpp"

namespace brevlo {
namespace {

// Lengths count the terminating NUL, as the system's own limits do.
constexpr std::size_t kLegacyMaxPath = 248;  // from here on directory calls need the \\?\ form
constexpr std::size_t kMaxPath = 260;

constexpr std::u16string_view kVerbatim = u"\\\\?\\";
constexpr std::u16string_view kNtObject = u"\\??\\";
constexpr std::u16string_view kVerbatimUnc = u"\\\\?\\UNC\\";
constexpr std::u16string_view kDevice = u"\\\\.\\";

bool is_separator(char16_t c) { return c == u'\\' || c == u'/'; }

// C: alone or C:\... / C:/..., and \\... or //...: forms the system takes as they are while short.
bool usable_while_short(std::u16string_view path) {
  if (path.size() >= 2 && path[1] == u':' && !is_separator(path[0])) {
    return path.size() == 2 || is_separator(path[2]);
  }
  return path.size() >= 2 && is_separator(path[0]) && is_separator(path[1]);
}

Result<std::u16string> long_form(std::u16string path, bool always_verbatim,
                                 const FullPathQuery& full_path) {
  const std::u16string_view view = path;
  if (view.starts_with(kVerbatim) || view.starts_with(kNtObject)) return path;
  if (path.size() + 1 < kLegacyMaxPath && usable_while_short(view)) return path;

  Result<std::u16string> absolute = full_path(path);
  if (!absolute) return std::unexpected(absolute.error());
  std::u16string_view result = *absolute;
  if (!always_verbatim && result.size() + 1 < kLegacyMaxPath) return std::move(*absolute);

  std::u16string_view prefix;
  if (result.size() >= 3 && result[1] == u':' && result[2] == u'\\') {
    prefix = kVerbatim;
  } else if (result.starts_with(kDevice)) {
    result.remove_prefix(kDevice.size());
    prefix = kVerbatim;
  } else if (result.starts_with(kVerbatim)) {
    // Already verbatim.
  } else if (result.starts_with(u"\\\\")) {
    result.remove_prefix(2);
    prefix = kVerbatimUnc;
  }
  std::u16string formed(prefix);
  formed += result;
  return formed;
}

// Takes \\?\ away from a verbatim path when the system reads the rest the same way without it:
// rest is what the plain form would be.
Result<std::u16string> plain_if_same(std::u16string path, std::u16string rest,
                                     const FullPathQuery& full_path) {
  Result<std::u16string> absolute = full_path(rest);
  if (!absolute) return std::unexpected(absolute.error());
  if (*absolute == rest) return rest;
  return path;
}

}  // namespace

Result<std::u16string> to_system_units(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) {
    return std::unexpected(
        Error::fixed(ErrorKind::InvalidInput, "strings passed to WinAPI cannot contain NULs"));
  }
  return utf16_from_wtf8(text);
}

Result<std::u16string> file_system_path_form(std::u16string path, const FullPathQuery& full_path) {
  return long_form(std::move(path), true, full_path);
}

Result<std::u16string> program_path_form(std::u16string path, const FullPathQuery& full_path) {
  if (path.size() + 1 > kMaxPath) return path;
  const std::u16string_view view = path;
  if (view.starts_with(kVerbatim) && view.size() >= 7 && view[5] == u':' && view[6] == u'\\') {
    std::u16string rest(view.substr(kVerbatim.size()));
    return plain_if_same(std::move(path), std::move(rest), full_path);
  }
  if (view.starts_with(kVerbatimUnc)) {
    std::u16string rest = u"\\\\";
    rest += view.substr(kVerbatimUnc.size());
    return plain_if_same(std::move(path), std::move(rest), full_path);
  }
  return long_form(std::move(path), false, full_path);
}

}  // namespace brevlo
