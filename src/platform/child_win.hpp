#pragma once
// Starting child processes. A child inherits the launcher's environment, current directory and
// standard handles (duplicated as inheritable); nothing else about the start can be changed.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/command_line.hpp"
#include "platform/error.hpp"
#include "platform/handle_win.hpp"

namespace brevlo {

// The program path CreateProcessW is given: a path with a directory part is used as it is when it
// ends in ".exe" (any case), else with ".exe" appended if that file exists; a bare name is looked
// for beside the launcher, in the system and Windows directories and along PATH. Fails with
// "program path has no file name", "strings passed to WinAPI cannot contain NULs" or
// "program not found".
[[nodiscard]] Result<std::u16string> resolve_program(std::string_view program);

// Starts the command without waiting: the child's process and main-thread handles, or why it
// could not be started (nothing was started then). The caller decides when to release them.
[[nodiscard]] Result<StartedChild> start_child(const ChildCommand& command);

// Starts the command, waits for its end without a time limit and gives its 32-bit exit code; the
// child's handles are closed before it returns, whatever the outcome.
[[nodiscard]] Result<std::uint32_t> run_and_wait(const ChildCommand& command);

}  // namespace brevlo
