#pragma once
// What a child process is started with, and the command line the system hands it. Pure text work:
// the start itself is in child.hpp (Windows).

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/error.hpp"

namespace brevlo {

// A program path (WTF-8, kept exactly as given) and its arguments in order; nothing else about the
// child is settable.
class ChildCommand {
 public:
  explicit ChildCommand(std::string program) : program_(std::move(program)) {}

  // Appends one argument; it is quoted when the command line is built.
  void add_argument(std::string argument) { arguments_.push_back(std::move(argument)); }

  const std::string& program() const { return program_; }
  const std::vector<std::string>& arguments() const { return arguments_; }

 private:
  std::string program_;
  std::vector<std::string> arguments_;
};

// Appends one argument in the form the C runtime's splitter gives back unchanged: in double quotes
// when empty or holding a space or tab; n backslashes before a double quote become 2n + 1; n
// backslashes before the closing quote become 2n; other backslashes stay. An interior NUL fails
// with "nul byte found in provided data".
[[nodiscard]] Result<void> append_argument(std::u16string& line, std::string_view argument);

// The whole command line as UTF-16, without the terminating NUL (the caller copies it into a
// writable NUL-terminated buffer): the program exactly as given between double quotes, then each
// argument after one space. The program is not escaped; one with a NUL fails with "strings passed
// to WinAPI cannot contain NULs".
[[nodiscard]] Result<std::u16string> build_command_line(const ChildCommand& command);

}  // namespace brevlo
