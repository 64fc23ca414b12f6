#pragma once
// Installing from the embedded installer: write it to the temporary directory, run it, report,
// start the application, remove the file.

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>

#include "core/config/config.hpp"
#include "core/launch_environment.hpp"
#include "platform/error.hpp"

namespace brevlo {

// The directory the system reports for temporary files (GetTempPath2W where the system has it,
// else GetTempPathW), taken as it comes, without a Unicode check.
Result<std::string> temporary_directory();

// Creates the file at path (or opens and empties the one there), writes image straight from
// where it lies, flushes and closes it. A failure leaves the file as far as it was written.
Result<void> write_installer_file(const std::string& path, std::span<const std::uint8_t> image);

// Writes image to <temporary directory>\<file_name>, runs it (with "/S" when webview_ready) and
// waits; on exit code 0 starts the installed application and removes the file. Success tells
// whether the application was started. The temporary directory or LOCALAPPDATA missing is a
// fatal stop.
std::expected<bool, StageError> run_installer_stage(std::span<const std::uint8_t> image,
                                                    std::string_view file_name, GameConfig config,
                                                    bool webview_ready);

}  // namespace brevlo
