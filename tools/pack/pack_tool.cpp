#include "pack/pack_tool.hpp"

#include <algorithm>
#include <map>
#include <optional>

#include "pack/file_io.hpp"
#include "pack/inspect.hpp"
#include "pack/version_info.hpp"

namespace brevlo::pack {
namespace {

constexpr std::string_view kTool = "brevlo-pack: ";

ToolOutcome failure(int status, std::string_view line) {
  return {status, "", std::string(line) + "\n"};
}

ToolOutcome usage_error(const std::string& problem) {
  return failure(2, std::string(kTool) + problem + "; brevlo-pack --help shows the usage");
}

ToolOutcome run_inspect(std::span<const std::string> args) {
  bool json = false;
  std::optional<std::string> path;
  for (const std::string& arg : args) {
    if (arg == "--json" && !json) {
      json = true;
    } else if (arg.starts_with("--") || path) {
      return usage_error("inspect takes [--json] and one launcher, not " + arg);
    } else {
      path = arg;
    }
  }
  if (!path) return usage_error("inspect needs a launcher");
  const auto bytes = read_whole_file(*path);
  if (!bytes) return failure(2, std::string(kTool) + "cannot read " + *path + ": " + bytes.error());
  const auto facts =
      inspect_launcher(bytes->bytes(), [&](Bytes window) { bytes->release_pages(window); });
  if (!facts) return failure(1, std::string(kTool) + *path + ": " + facts.error());
  return {0, json ? facts_json(*facts) : facts_text(*facts), ""};
}

}  // namespace

std::string refusal_line(const Refusal& refusal, const InputNames& names) {
  const std::string tool(kTool);
  switch (refusal.input) {
    case Refusal::Input::Config: return refusal.reason;
    case Refusal::Input::Installer:
      return tool + names.installer + " is not a Windows executable: " + refusal.reason;
    case Refusal::Input::InstallerSize:
      return tool + names.installer + " is too large: " + refusal.reason;
    case Refusal::Input::NotAStub:
      return tool + names.stub + " is not a brevlo stub: " + refusal.reason;
    case Refusal::Input::Stub: return tool + names.stub + " cannot be packed: " + refusal.reason;
    case Refusal::Input::Icon: return tool + names.icon + " is not a valid .ico: " + refusal.reason;
    case Refusal::Input::Splash:
      return tool + names.splash + " is not a usable splash image: " + refusal.reason;
    case Refusal::Input::Output: break;
  }
  return tool + refusal.reason;
}

ToolOutcome run_pack_tool(std::span<const std::string> args) {
  if (args.empty()) return failure(2, kUsage);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    return {0, std::string(kUsage) + "\n" + std::string(kOptionsHelp), ""};
  }
  if (args[0] == "inspect") return run_inspect(args.subspan(1));
  static const std::string_view kOptions[] = {"--stub",         "--config",
                                              "--installer",    "--out",
                                              "--icon",         "--product-name",
                                              "--file-description", "--version",
                                              "--splash"};
  static const std::string_view kFlags[] = {"--failure-dialog", "--support-log"};
  std::map<std::string, std::string, std::less<>> given;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    const bool flag = std::find(std::begin(kFlags), std::end(kFlags), option) != std::end(kFlags);
    if (!flag &&
        std::find(std::begin(kOptions), std::end(kOptions), option) == std::end(kOptions)) {
      return usage_error("unknown argument " + option);
    }
    if (!flag && i + 1 == args.size()) return usage_error(option + " needs a value");
    if (!given.emplace(option, flag ? std::string() : args[++i]).second) {
      return usage_error(option + " given twice");
    }
  }
  for (const std::string_view required : {"--stub", "--config", "--installer", "--out"}) {
    if (!given.contains(required)) return usage_error("missing " + std::string(required));
  }
  const auto value = [&](std::string_view option) -> std::optional<std::string> {
    const auto it = given.find(option);
    if (it == given.end()) return std::nullopt;
    return it->second;
  };

  Branding branding;
  branding.product_name = value("--product-name");
  branding.file_description = value("--file-description");
  if (const auto text = value("--version")) {
    const auto parts = parse_version(*text);
    if (!parts) {
      return failure(1, std::string(kTool) + "--version " + *text +
                            " is not 1 to 4 numbers from 0 to 65535 separated by dots");
    }
    branding.version = Version{*text, *parts};
  }

  PackOptions options;
  options.failure_dialog = given.contains("--failure-dialog");
  options.support_log = given.contains("--support-log");

  const InputNames names{*value("--stub"), *value("--installer"),
                         value("--icon").value_or(""), value("--splash").value_or("")};
  std::map<std::string, FileBytes> files;
  for (const std::string_view option :
       {"--stub", "--config", "--installer", "--icon", "--splash"}) {
    const auto path = value(option);
    if (!path) continue;
    auto bytes = read_whole_file(*path);
    if (!bytes) {
      return failure(2, std::string(kTool) + "cannot read " + *path + ": " + bytes.error());
    }
    files.emplace(option, std::move(*bytes));
  }
  if (files.contains("--icon")) branding.icon = files.at("--icon").bytes();
  if (files.contains("--splash")) branding.splash = files.at("--splash").bytes();

  const auto packed = pack(files.at("--stub").bytes(), files.at("--config").bytes(),
                           files.at("--installer").bytes(), branding, options);
  if (!packed) return failure(1, refusal_line(packed.error(), names));
  const std::string out = *value("--out");
  const auto cannot_write = [&](const std::string& reason) {
    return failure(2, std::string(kTool) + "cannot write " + out + ": " + reason);
  };
  auto file = OutputFile::create(out);
  if (!file) return cannot_write(file.error());
  // The inputs' pages are dropped as they go out; the inputs are closed before the output takes
  // its name, which may be one of theirs.
  struct Sink final : LauncherSink {
    OutputFile& file;
    const std::map<std::string, FileBytes>& inputs;
    Sink(OutputFile& file, const std::map<std::string, FileBytes>& inputs)
        : file(file), inputs(inputs) {}
    std::expected<void, std::string> write(Bytes bytes) override {
      auto written = file.write(bytes);
      for (const auto& [option, input] : inputs) input.release_pages(bytes);
      return written;
    }
    std::expected<void, std::string> write_at(std::uint64_t offset, Bytes bytes) override {
      return file.write_at(offset, bytes);
    }
  } sink(*file, files);
  if (auto written = packed->write(sink); !written) return cannot_write(written.error());
  files.clear();
  if (auto committed = file->commit(); !committed) return cannot_write(committed.error());
  return {};
}

}  // namespace brevlo::pack
