#include "platform/command_line.hpp"

#include <cstddef>
#include <expected>

#include "platform/text.hpp"

namespace brevlo {

Result<void> append_argument(std::u16string& line, std::string_view argument) {
  if (argument.find('\0') != std::string_view::npos) {
    return std::unexpected(
        Error::fixed(ErrorKind::InvalidInput, "nul byte found in provided data"));
  }
  const std::u16string units = utf16_from_wtf8(argument);
  // Without quotes an empty argument would vanish, and a blank would split it in two.
  const bool quoted = units.empty() || units.find_first_of(u" \t") != std::u16string::npos;
  if (quoted) line += u'"';
  // Backslashes are literal unless a double quote follows them; only then do they need doubling.
  std::size_t backslashes = 0;
  for (const char16_t unit : units) {
    if (unit == u'\\') {
      ++backslashes;
    } else {
      if (unit == u'"') line.append(backslashes + 1, u'\\');
      backslashes = 0;
    }
    line += unit;
  }
  if (quoted) {
    line.append(backslashes, u'\\');
    line += u'"';
  }
  return Result<void>();
}

Result<std::u16string> build_command_line(const ChildCommand& command) {
  if (command.program().find('\0') != std::string::npos) {
    return std::unexpected(
        Error::fixed(ErrorKind::InvalidInput, "strings passed to WinAPI cannot contain NULs"));
  }
  // The program is always quoted so that a path with blanks stays one word; a double quote cannot
  // occur in a Windows path, so nothing inside needs escaping.
  std::u16string line = u"\"";
  line += utf16_from_wtf8(command.program());
  line += u'"';
  for (const std::string& argument : command.arguments()) {
    line += u' ';
    if (Result<void> appended = append_argument(line, argument); !appended) {
      return std::unexpected(appended.error());
    }
  }
  return line;
}

}  // namespace brevlo
