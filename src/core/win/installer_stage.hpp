#pragma once
// Installing from the embedded installer: write it to the temporary directory, run it, report,
// start the application, remove the file.

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>

#include "core/config/config.hpp"
#include "core/image_digest.hpp"
#include "core/launch_environment.hpp"
#include "platform/error.hpp"

namespace brevlo {

// The directory the system reports for temporary files (GetTempPath2W where the system has it,
// else GetTempPathW), taken as it comes, without a Unicode check.
Result<std::string> temporary_directory();

// Creates the file at path (or opens and empties the one there), writes image straight from
// where it lies, flushes and closes it. A failure leaves the file as far as it was written.
Result<void> write_installer_file(const std::string& path, std::span<const std::uint8_t> image);

// The installer file as write_checked_installer left it, for the stage to run.
struct WrittenInstaller {
  std::string path;
  Result<void> outcome;  // how the write ended; on failure the file is as far as it was written
};

// Writes image to path in large pieces, straight from where it lies, while a second thread hashes
// it, and answers whether its digest is expected. A damaged image stops the write and has its file
// removed before this returns; an intact one leaves written as the stage needs it. Without a
// second thread the image is hashed first and written only when it is intact.
[[nodiscard]] bool write_checked_installer(const std::string& path,
                                           std::span<const std::uint8_t> image,
                                           const ImageDigest& expected, WrittenInstaller& written);

// The path the installer stage writes file_name to: <temporary directory>\<file_name>.
Result<std::string> installer_path_for(std::string_view file_name);

// Writes image to <temporary directory>\<file_name> (or takes written, when it is that file), runs it (with "/S" when webview_ready) and
// waits; on exit code 0 starts the installed application and removes the file. Success tells
// whether the application was started. The temporary directory or LOCALAPPDATA missing is a
// fatal stop.
std::expected<bool, StageError> run_installer_stage(std::span<const std::uint8_t> image,
                                                    std::string_view file_name, GameConfig config,
                                                    bool webview_ready,
                                                    const WrittenInstaller* written = nullptr);

}  // namespace brevlo
