#include "pack/options.hpp"

#include <algorithm>
#include <vector>

#include "pack/version_info.hpp"

namespace brevlo::pack {
namespace {

using O = PackToolOptions;

constexpr PackOption kPackOptions[] = {
    {"--stub", "STUB.exe", "", &O::stub},
    {"--config", "game.json", "", &O::config},
    {"--installer", "SETUP.exe", "", &O::installer},
    {"--out", "OUT.exe", "", &O::out},
    {"--icon", "ICON.ico", "", &O::icon},
    {"--product-name", "TEXT", "", &O::product_name},
    {"--file-description", "TEXT", "", &O::file_description},
    {"--version", "A[.B[.C[.D]]]", "", &O::version},
    {"--failure-dialog", "",
     "when a run fails (exit 1 or 101) and the launcher was started without a\n"
     "standard error handle (double-clicked in Explorer), show the failure\n"
     "line(s) in a message box titled with --product-name (else productName)\n"
     "before exiting; with a console, file or pipe for standard error nothing\n"
     "is shown",
     &O::failure_dialog},
    {"--support-log", "",
     "append each run to %TEMP%\\<productName>-launcher.log: the start time,\n"
     "the launcher's version and command line, every line printed and the exit\n"
     "status; the oldest runs are dropped to keep it at most 64 KiB",
     &O::support_log},
    {"--splash", "IMAGE.png",
     "when the game is missing, the installer runs silently and the launcher\n"
     "was started without a standard error handle, show IMAGE.png (with its\n"
     "transparency) centred on the screen from 1 second after the installation\n"
     "began until the game has started; a PNG of truecolour or palette pixels,\n"
     "at most 2048x2048 and 8 MiB, stored decoded (4 bytes a pixel)",
     &O::splash},
};

constexpr std::string_view kInspectUsage = "inspect [--json] LAUNCHER.exe";
constexpr std::string_view kHelpFooter =
    "Without these options the launcher shows nothing and writes no log. See\n"
    "docs/publisher-guide.md for pictures of the dialog and the splash.\n";
// The column --help's descriptions start at.
constexpr std::size_t kHelpColumn = 18;

std::unexpected<PackError> usage(std::string problem) {
  return pack_error(PackErrorKind::Usage, std::move(problem));
}

bool is_flag(const PackOption& option) {
  return std::holds_alternative<bool PackToolOptions::*>(option.field);
}

// "--name ARGUMENT", or "--name" for a flag.
std::string with_argument(const PackOption& option) {
  std::string text(option.name);
  if (!option.argument.empty()) text += " " + std::string(option.argument);
  return text;
}

// The option's help: its name and the first line, or its name alone on a line when it is too
// long for that, then every line indented to the column.
std::string option_help(const PackOption& option) {
  std::string text = with_argument(option);
  if (text.size() + 2 > kHelpColumn) text += "\n" + std::string(kHelpColumn, ' ');
  else text.append(kHelpColumn - text.size(), ' ');
  for (const char c : option.help) {
    text += c;
    if (c == '\n') text.append(kHelpColumn, ' ');
  }
  return text + "\n";
}

// The value (empty for a flag) given for each row of the table, in the table's order.
using GivenValues = std::vector<std::optional<std::string>>;

PackResult<GivenValues> collect_values(std::span<const std::string> args) {
  const std::span<const PackOption> table = pack_options();
  GivenValues given(table.size());
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    const auto row = std::find_if(table.begin(), table.end(),
                                  [&](const PackOption& o) { return o.name == option; });
    if (row == table.end()) return usage("unknown argument " + option);
    const bool flag = is_flag(*row);
    if (!flag && i + 1 == args.size()) return usage(option + " needs a value");
    auto& slot = given[static_cast<std::size_t>(row - table.begin())];
    if (slot) return usage(option + " given twice");
    slot = flag ? std::string() : args[++i];
  }
  return given;
}

// Puts a row's value in its field; only a version can be wrong.
PackResult<void> store(const PackOption& option, const std::string& value,
                       PackToolOptions& options) {
  if (const auto* field = std::get_if<std::optional<Version> O::*>(&option.field)) {
    const auto parts = parse_version(value);
    if (!parts) {
      return pack_error(PackErrorKind::Version,
                        std::string(option.name) + " " + value +
                            " is not 1 to 4 numbers from 0 to 65535 separated by dots");
    }
    options.**field = Version{value, *parts};
  } else if (const auto* text = std::get_if<std::string O::*>(&option.field)) {
    options.**text = value;
  } else if (const auto* maybe = std::get_if<std::optional<std::string> O::*>(&option.field)) {
    options.**maybe = value;
  } else {
    options.*std::get<bool O::*>(option.field) = true;
  }
  return {};
}

PackResult<PackToolOptions> parse_pack_options(std::span<const std::string> args) {
  const auto given = collect_values(args);
  if (!given) return std::unexpected(given.error());
  const std::span<const PackOption> table = pack_options();
  for (std::size_t row = 0; row < table.size(); ++row) {
    if (is_required(table[row]) && !(*given)[row]) {
      return usage("missing " + std::string(table[row].name));
    }
  }
  PackToolOptions options;
  for (std::size_t row = 0; row < table.size(); ++row) {
    if (!(*given)[row]) continue;
    if (auto stored = store(table[row], *(*given)[row], options); !stored) {
      return std::unexpected(stored.error());
    }
  }
  return options;
}

PackResult<InspectOptions> parse_inspect_options(std::span<const std::string> args) {
  InspectOptions options;
  bool named = false;
  for (const std::string& arg : args) {
    if (arg == "--json" && !options.json) {
      options.json = true;
    } else if (arg.starts_with("--") || named) {
      return usage("inspect takes [--json] and one launcher, not " + arg);
    } else {
      options.launcher = arg;
      named = true;
    }
  }
  if (!named) return usage("inspect needs a launcher");
  return options;
}

}  // namespace

std::span<const PackOption> pack_options() { return kPackOptions; }

bool is_required(const PackOption& option) {
  return std::holds_alternative<std::string PackToolOptions::*>(option.field);
}

PackResult<ToolCommand> parse_command_line(std::span<const std::string> args) {
  if (args.empty()) return pack_error(PackErrorKind::NoCommand, "");
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) return HelpRequest{};
  if (args[0] == "inspect") {
    auto inspect = parse_inspect_options(args.subspan(1));
    if (!inspect) return std::unexpected(inspect.error());
    return std::move(*inspect);
  }
  auto pack = parse_pack_options(args);
  if (!pack) return std::unexpected(pack.error());
  return std::move(*pack);
}

std::string usage_text() {
  std::string text = "usage: brevlo-pack";
  for (const PackOption& option : pack_options()) {
    text += is_required(option) ? " " + with_argument(option) : " [" + with_argument(option) + "]";
  }
  return text + "\n       brevlo-pack " + std::string(kInspectUsage);
}

std::string help_text() {
  std::string text = usage_text() + "\n\n";
  for (const PackOption& option : pack_options()) {
    if (!option.help.empty()) text += option_help(option);
  }
  return text + std::string(kHelpFooter);
}

}  // namespace brevlo::pack
