#pragma once
// What the launch sequence needs from the system, and the error types it names. The Windows
// launcher implements it over the real system; tests drive the sequence with a fake.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "core/config/config.hpp"
#include "platform/error.hpp"

namespace brevlo {

// A failed lookup of an environment variable: not set (or unreadable), or holding UTF-16 that is
// not valid Unicode (the raw value kept as WTF-8).
struct EnvVarError {
  bool not_unicode = false;
  std::string raw;
  friend bool operator==(const EnvVarError&, const EnvVarError&) = default;
};

// "NotPresent", or NotUnicode("<raw value as a path debug form>").
std::string debug_form(const EnvVarError& error);

// What the installer stage fails with: an error value or a message text of its own.
using StageError = std::variant<Error, std::string>;

// The text the launch sequence prints after "❌ 静默安装失败: ".
std::string display_form(const StageError& error);

// The name of the per-user lock that guards a product's installation: "Local\\brevlo-install-"
// and the 64-bit FNV-1a hash of productName's UTF-8 bytes in 16 lowercase hex digits, so any
// product name gives a valid object name (no backslash, bounded length) in the session's own
// namespace.
std::string install_lock_name(std::string_view product_name);

// The name the installer is written under, in the temporary directory.
inline constexpr std::string_view kInstallerFileName = "setup_temp.exe";

// The operations of the launch sequence.
class LaunchEnvironment {
 public:
  virtual ~LaunchEnvironment() = default;

  // True when the WebView2 runtime is registered; never fails.
  virtual bool probe_webview() = 0;
  // The embedded configuration; a parse error is a fatal stop inside.
  virtual GameConfig load_game_config() = 0;
  // %LOCALAPPDATA%\<productName>\<mainBinaryName>.exe, or why LOCALAPPDATA could not be read.
  virtual std::expected<std::string, EnvVarError> installed_application_path(
      const GameConfig& config) = 0;
  // True when something can be queried at path; every failure is false.
  virtual bool path_exists(std::string_view path) = 0;
  // Starts the application and reports the outcome; true when it was started.
  virtual bool launch_application(std::string_view path) = 0;
  // The embedded installer, as start and length.
  virtual std::span<const std::uint8_t> installer_image() = 0;
  // True when image is the installer as packed (its digest matches the one in the options
  // section); false for a damaged launcher or a missing or damaged options section; an error when
  // the check cannot be made. Only the install path calls it. It may write the installer file
  // (kInstallerFileName) as it checks, for run_installer_stage to take; when it answers false no
  // such file is left.
  virtual Result<bool> installer_image_intact(std::span<const std::uint8_t> image) = 0;
  // Writes, runs and removes the installer; on success, whether the application was started.
  virtual std::expected<bool, StageError> run_installer_stage(std::span<const std::uint8_t> image,
                                                              std::string_view file_name,
                                                              GameConfig config,
                                                              bool webview_ready) = 0;
  // Takes the per-user lock of the product's installation, waiting while another launcher holds
  // it; a holder that ended without giving it back has given it up. When the lock cannot be made
  // the run goes on without it. Held until unlock_install (or the end of the process).
  virtual void lock_install(const GameConfig& config) = 0;
  // Gives the lock back; nothing when it is not held.
  virtual void unlock_install() = 0;
  // The installation has begun (the 📦 line is out); silent: the installer will run silently. A
  // launcher packed with a splash image may show it from now until close_splash; never fails.
  virtual void open_splash(bool /*silent*/) {}
  // Takes the splash away before the run goes on; nothing when none was opened.
  virtual void close_splash() {}
};

}  // namespace brevlo
