#pragma once
// Installing from the embedded installer: write it to the temporary directory as it is checked,
// run it, report, start the application, remove the file.

#include <cstdint>
#include <span>
#include <string>

#include "core/config/config.hpp"
#include "core/image_digest.hpp"
#include "core/launch_environment.hpp"
#include "platform/error.hpp"

namespace brevlo {

// Writes image to path in large pieces, straight from where it lies, while a second thread hashes
// it, and tells whether its digest is expected. A damaged image stops the write and has its file
// removed before this returns (intact false); an intact one is left written, or as far as its
// write went, for the stage. Without a second thread the image is hashed first and written only
// when it is intact.
[[nodiscard]] PreparedInstaller write_checked_installer(const std::string& path,
                                                        std::span<const std::uint8_t> image,
                                                        const ImageDigest& expected);

// The launch environment's prepare_installer over the real system, for this launcher's image:
// <temporary directory>\kInstallerFileName, checked against the digest of the options section
// (a launcher without one is damaged).
[[nodiscard]] Result<PreparedInstaller> prepare_installer(std::span<const std::uint8_t> image);

// Runs the prepared installer (with "/S" when webview_ready) and waits; on exit code 0 starts the
// installed application and removes the file. Success tells whether the application was started.
// LOCALAPPDATA missing is a fatal stop.
[[nodiscard]] Result<bool> run_installer_stage(const PreparedInstaller& installer,
                                               const GameConfig& config, bool webview_ready);

}  // namespace brevlo
