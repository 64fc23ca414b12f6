#include "pack/pack_tool.hpp"

#include <optional>
#include <utility>

#include "pack/file_io.hpp"
#include "pack/inspect.hpp"
#include "pack/options.hpp"

namespace brevlo::pack {
namespace {

constexpr std::string_view kTool = "brevlo-pack: ";

ToolOutcome failure(const PackError& error, const InputNames& names = {}) {
  return {exit_status(error.kind), "", error_line(error, names) + "\n"};
}

// A file read whole, or the line's worth of why it could not be.
PackResult<FileBytes> read_input(const std::string& path) {
  auto bytes = read_whole_file(path);
  if (!bytes) {
    return pack_error(PackErrorKind::System, "cannot read " + path + ": " + bytes.error().text);
  }
  return bytes;
}

ToolOutcome run_inspect(const InspectOptions& options) {
  const auto bytes = read_input(options.launcher);
  if (!bytes) return failure(bytes.error());
  const auto facts =
      inspect_launcher(bytes->bytes(), [&](Bytes window) { bytes->release_pages(window); });
  if (!facts) {
    return failure({PackErrorKind::Launcher, options.launcher + ": " + facts.error().text});
  }
  return {0, options.json ? facts_json(*facts) : facts_text(*facts), ""};
}

// The input files, mapped.
struct InputFiles {
  FileBytes stub, config, installer;
  std::optional<FileBytes> icon, splash;

  void release_pages(Bytes part) const {
    for (const FileBytes* file : {&stub, &config, &installer}) file->release_pages(part);
    if (icon) icon->release_pages(part);
    if (splash) splash->release_pages(part);
  }
};

// Read in the order stub, config, installer, icon, splash; the first that fails stops.
PackResult<InputFiles> read_inputs(const PackToolOptions& options) {
  InputFiles files;
  for (const auto& [path, file] : {std::pair{&options.stub, &files.stub},
                                   std::pair{&options.config, &files.config},
                                   std::pair{&options.installer, &files.installer}}) {
    auto bytes = read_input(*path);
    if (!bytes) return std::unexpected(bytes.error());
    *file = std::move(*bytes);
  }
  for (const auto& [path, file] : {std::pair{&options.icon, &files.icon},
                                   std::pair{&options.splash, &files.splash}}) {
    if (!*path) continue;
    auto bytes = read_input(**path);
    if (!bytes) return std::unexpected(bytes.error());
    *file = std::move(*bytes);
  }
  return files;
}

Branding branding_of(const PackToolOptions& options, const InputFiles& files) {
  Branding branding;
  branding.product_name = options.product_name;
  branding.file_description = options.file_description;
  branding.version = options.version;
  if (files.icon) branding.icon = files.icon->bytes();
  if (files.splash) branding.splash = files.splash->bytes();
  return branding;
}

// Writes the launcher to out under a temporary name, dropping the inputs' pages as they go out,
// and closes the inputs before the output takes its name, which may be one of theirs.
PackResult<void> write_launcher(const PackedLauncher& packed, InputFiles&& inputs,
                                const std::string& out) {
  const auto cannot_write = [&](const PackError& error) {
    return pack_error(PackErrorKind::System, "cannot write " + out + ": " + error.text);
  };
  auto file = OutputFile::create(out);
  if (!file) return cannot_write(file.error());
  {
    struct Sink final : LauncherSink {
      OutputFile& file;
      const InputFiles inputs;
      Sink(OutputFile& file, InputFiles&& inputs) : file(file), inputs(std::move(inputs)) {}
      PackResult<void> write(Bytes bytes) override {
        auto written = file.write(bytes);
        inputs.release_pages(bytes);
        return written;
      }
      PackResult<void> write_at(std::uint64_t offset, Bytes bytes) override {
        return file.write_at(offset, bytes);
      }
    } sink(*file, std::move(inputs));
    if (auto written = packed.write(sink); !written) return cannot_write(written.error());
  }
  if (auto committed = file->commit(); !committed) return cannot_write(committed.error());
  return {};
}

PackResult<void> pack_files(const PackToolOptions& options) {
  auto inputs = read_inputs(options);
  if (!inputs) return std::unexpected(inputs.error());
  PackOptions recorded;
  recorded.failure_dialog = options.failure_dialog;
  recorded.support_log = options.support_log;
  const auto packed = pack(inputs->stub.bytes(), inputs->config.bytes(),
                           inputs->installer.bytes(), branding_of(options, *inputs), recorded);
  if (!packed) return std::unexpected(packed.error());
  return write_launcher(*packed, std::move(*inputs), options.out);
}

ToolOutcome run_pack(const PackToolOptions& options) {
  if (auto packed = pack_files(options); !packed) {
    return failure(packed.error(), {options.stub, options.installer, options.icon.value_or(""),
                                    options.splash.value_or("")});
  }
  return {};
}

}  // namespace

std::string error_line(const PackError& error, const InputNames& names) {
  const std::string tool(kTool);
  const std::string& text = error.text;
  switch (error.kind) {
    case PackErrorKind::NoCommand: return usage_text();
    case PackErrorKind::Usage: return tool + text + "; brevlo-pack --help shows the usage";
    case PackErrorKind::Config: return text;
    case PackErrorKind::Installer:
      return tool + names.installer + " is not a Windows executable: " + text;
    case PackErrorKind::InstallerSize: return tool + names.installer + " is too large: " + text;
    case PackErrorKind::NotAStub: return tool + names.stub + " is not a brevlo stub: " + text;
    case PackErrorKind::Stub: return tool + names.stub + " cannot be packed: " + text;
    case PackErrorKind::Icon: return tool + names.icon + " is not a valid .ico: " + text;
    case PackErrorKind::Splash:
      return tool + names.splash + " is not a usable splash image: " + text;
    case PackErrorKind::Malformed:
    case PackErrorKind::System:
    case PackErrorKind::Version:
    case PackErrorKind::Launcher:
    case PackErrorKind::Output: break;
  }
  return tool + text;
}

int exit_status(PackErrorKind kind) {
  switch (kind) {
    case PackErrorKind::NoCommand:
    case PackErrorKind::Usage:
    case PackErrorKind::System: return 2;
    default: return 1;
  }
}

ToolOutcome run_pack_tool(std::span<const std::string> args) {
  const auto command = parse_command_line(args);
  if (!command) return failure(command.error());
  if (const auto* options = std::get_if<PackToolOptions>(&*command)) return run_pack(*options);
  if (const auto* options = std::get_if<InspectOptions>(&*command)) return run_inspect(*options);
  return {0, help_text(), ""};
}

}  // namespace brevlo::pack
