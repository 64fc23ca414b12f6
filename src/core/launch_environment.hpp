#pragma once
// What the launch sequence needs from the system. The Windows launcher implements it over the
// real system; tests drive the sequence with a fake.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "core/config/config.hpp"
#include "platform/error.hpp"

namespace brevlo {

// Why an environment variable could not be read: not set (or unreadable); or holding UTF-16 that
// is not valid Unicode, the raw value kept as WTF-8. Their debug forms are "NotPresent" and
// NotUnicode("<raw value as a path debug form>").
Error environment_variable_missing();
Error environment_variable_not_unicode(std::string_view raw);

// The context of the fatal stop for a LOCALAPPDATA that cannot be read.
inline constexpr std::string_view kLocalAppDataStopContext = "无法获取 LOCALAPPDATA 环境变量";

// The name of the per-user lock that guards a product's installation: "Local\\brevlo-install-"
// and the 64-bit FNV-1a hash of productName's UTF-8 bytes in 16 lowercase hex digits, so any
// product name gives a valid object name (no backslash, bounded length) in the session's own
// namespace.
std::string install_lock_name(std::string_view product_name);

// The name the installer is written under, in the temporary directory.
inline constexpr std::string_view kInstallerFileName = "setup_temp.exe";

// Something the environment took for the caller (the install lock, the splash); its end gives it
// back.
class Held {
 public:
  virtual ~Held() = default;
};

// Holds what a call of the environment took until the guard's scope ends, fatal stops included;
// empty when nothing was taken.
using Guard = std::unique_ptr<Held>;

// The installer as prepare_installer left it for the stage.
struct PreparedInstaller {
  // False when the image is not as packed (a damaged launcher, a missing or damaged options
  // section): then nothing was written, and nothing may run.
  bool intact = false;
  std::string path;     // where the installer was written
  Result<void> written;  // how the write ended; on failure the file is as far as it was written
};

// The operations of the launch sequence.
class LaunchEnvironment {
 public:
  virtual ~LaunchEnvironment() = default;

  // True when the WebView2 runtime is registered; never fails.
  virtual bool probe_webview() = 0;
  // The embedded configuration; a parse error is a fatal stop inside.
  virtual GameConfig load_game_config() = 0;
  // %LOCALAPPDATA%\<productName>\<mainBinaryName>.exe, or why LOCALAPPDATA could not be read.
  [[nodiscard]] virtual Result<std::string> installed_application_path(
      const GameConfig& config) = 0;
  // True when something can be queried at path; every failure is false.
  virtual bool path_exists(std::string_view path) = 0;
  // Starts the application and reports the outcome; true when it was started.
  virtual bool launch_application(std::string_view path) = 0;
  // The embedded installer, as start and length.
  virtual std::span<const std::uint8_t> installer_image() = 0;
  // Checks image against the digest recorded in the options section and writes it to
  // <temporary directory>\kInstallerFileName as it checks; a damaged image has nothing left
  // behind. An error when the check cannot be made; a temporary directory that cannot be known is
  // a fatal stop once the image is known to be intact. Only the install path calls it.
  [[nodiscard]] virtual Result<PreparedInstaller> prepare_installer(
      std::span<const std::uint8_t> image) = 0;
  // Runs the prepared installer (with "/S" when webview_ready) and waits; on exit code 0 starts
  // the installed application and removes the file. Success tells whether the application was
  // started.
  [[nodiscard]] virtual Result<bool> run_installer_stage(const PreparedInstaller& installer,
                                                         GameConfig config,
                                                         bool webview_ready) = 0;
  // Takes the per-user lock of the product's installation, waiting while another launcher holds
  // it; a holder that ended without giving it back has given it up. When the lock cannot be made
  // the run goes on without it (an empty guard).
  [[nodiscard]] virtual Guard lock_install(const GameConfig& config) = 0;
  // The installation has begun (the 📦 line is out); silent: the installer will run silently. A
  // launcher packed with a splash image may show it until the guard ends; never fails.
  [[nodiscard]] virtual Guard show_splash(bool /*silent*/) { return nullptr; }
};

}  // namespace brevlo
