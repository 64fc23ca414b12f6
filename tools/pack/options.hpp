#pragma once
// brevlo-pack's command line, read into a typed record before anything runs. The packing
// options are one table: each row gives an option's name, its argument, its help and the field
// that holds it; the usage line, the help and the parser are all made from it.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "pack/pack.hpp"
#include "pack/pack_error.hpp"

namespace brevlo::pack {

// What packing was asked for. The four std::string fields must be given.
struct PackToolOptions {
  std::string stub;
  std::string config;
  std::string installer;
  std::string out;
  std::optional<std::string> icon;
  std::optional<std::string> product_name;
  std::optional<std::string> file_description;
  std::optional<Version> version;
  bool failure_dialog = false;
  bool support_log = false;
  std::optional<std::string> splash;
};

// Where an option's value goes: a required text, an optional text, a version, or a flag (set
// when given, taking no argument).
using OptionField =
    std::variant<std::string PackToolOptions::*, std::optional<std::string> PackToolOptions::*,
                 std::optional<Version> PackToolOptions::*, bool PackToolOptions::*>;

struct PackOption {
  std::string_view name;
  std::string_view argument;  // as the usage line names it; empty for a flag
  std::string_view help;      // --help's lines for it, '\n' between them; empty: not described
  OptionField field;
};

// The packing options in the order the usage line lists them.
std::span<const PackOption> pack_options();

// Whether the option must be given (its field is a plain std::string).
bool is_required(const PackOption& option);

// `brevlo-pack inspect [--json] LAUNCHER.exe`.
struct InspectOptions {
  bool json = false;
  std::string launcher;
};

// `brevlo-pack --help` (or -h), alone.
struct HelpRequest {};

using ToolCommand = std::variant<PackToolOptions, InspectOptions, HelpRequest>;

// The command a command line (UTF-8, without the program name) asks for. An empty one is a
// NoCommand error; a wrong one a Usage error naming the first problem (an unknown argument, a
// value missing, an option given twice, then a required option missing); a --version that is
// not 1 to 4 numbers a Version error.
[[nodiscard]] PackResult<ToolCommand> parse_command_line(std::span<const std::string> args);

// The usage line (two lines, without the last line feed).
std::string usage_text();

// What --help prints: the usage, then the options the table describes.
std::string help_text();

}  // namespace brevlo::pack
