#pragma once
// The brevlo-pack command:
//   brevlo-pack --stub S --config C --installer I --out O [--icon ICO] [--product-name TEXT]
//               [--file-description TEXT] [--version A[.B[.C[.D]]]] [--failure-dialog]
//               [--support-log] [--splash IMAGE.png]
// Exit 0 and no output: O is written. Exit 1: an input is refused, with one line on standard
// error. Exit 2: a file cannot be read or the output cannot be written, or the command line is
// wrong, with one line on standard error. O is only ever replaced whole.

#include <span>
#include <string>
#include <string_view>

#include "pack/pack.hpp"

namespace brevlo::pack {

inline constexpr std::string_view kUsage =
    "usage: brevlo-pack --stub STUB.exe --config game.json --installer SETUP.exe --out OUT.exe "
    "[--icon ICON.ico] [--product-name TEXT] [--file-description TEXT] [--version A[.B[.C[.D]]]] "
    "[--failure-dialog] [--support-log] [--splash IMAGE.png]\n"
    "       brevlo-pack inspect [--json] LAUNCHER.exe";

// What --help prints after the usage line: the run-time options.
inline constexpr std::string_view kOptionsHelp =
    "\n"
    "--failure-dialog  when a run fails (exit 1 or 101) and the launcher was started without a\n"
    "                  standard error handle (double-clicked in Explorer), show the failure\n"
    "                  line(s) in a message box titled with --product-name (else productName)\n"
    "                  before exiting; with a console, file or pipe for standard error nothing\n"
    "                  is shown\n"
    "--support-log     append each run to %TEMP%\\<productName>-launcher.log: the start time,\n"
    "                  the launcher's version and command line, every line printed and the exit\n"
    "                  status; the oldest runs are dropped to keep it at most 64 KiB\n"
    "--splash IMAGE.png\n"
    "                  when the game is missing, the installer runs silently and the launcher\n"
    "                  was started without a standard error handle, show IMAGE.png (with its\n"
    "                  transparency) centred on the screen from 1 second after the installation\n"
    "                  began until the game has started; a PNG of truecolour or palette pixels,\n"
    "                  at most 2048x2048 and 8 MiB, stored decoded (4 bytes a pixel)\n"
    "Without these options the launcher shows nothing and writes no log. See\n"
    "docs/publisher-guide.md for pictures of the dialog and the splash.\n";

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

// The line (without line feed) that reports a refusal.
std::string refusal_line(const Refusal& refusal, const InputNames& names);

// Runs brevlo-pack on its arguments (UTF-8, without the program name).
ToolOutcome run_pack_tool(std::span<const std::string> args);

}  // namespace brevlo::pack
