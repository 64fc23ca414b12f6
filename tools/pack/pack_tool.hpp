#pragma once
// The brevlo-pack command:
//   brevlo-pack --stub S --config C --installer I --out O [--icon ICO] [--product-name TEXT]
//               [--file-description TEXT] [--version A[.B[.C[.D]]]] [--failure-dialog]
//               [--support-log] [--splash IMAGE.png]
//   brevlo-pack inspect [--json] LAUNCHER.exe
// Exit 0 and no output: O is written. Exit 1: an input is refused, with one line on standard
// error. Exit 2: a file cannot be read or the output cannot be written, or the command line is
// wrong, with one line on standard error. O is only ever replaced whole. The command line is
// read first (options.hpp), then the command runs on what it asks for.

#include <span>
#include <string>

#include "pack/pack_error.hpp"

namespace brevlo::pack {

// What one run printed and its exit status.
struct ToolOutcome {
  int status = 0;
  std::string out;  // standard output
  std::string err;  // standard error
  friend bool operator==(const ToolOutcome&, const ToolOutcome&) = default;
};

// The files a refusal line names.
struct InputNames {
  std::string stub;
  std::string installer;
  std::string icon;
  std::string splash;
};

// The line (without line feed) that reports an error, naming the refused input from names.
std::string error_line(const PackError& error, const InputNames& names);

// The exit status of a run stopped by an error of that kind: 2 for the command line and the
// system, 1 for a refusal.
int exit_status(PackErrorKind kind);

// Runs brevlo-pack on its arguments (UTF-8, without the program name).
ToolOutcome run_pack_tool(std::span<const std::string> args);

}  // namespace brevlo::pack
