#include "core/windows_environment_win.hpp"

#include <memory>

#include "core/app_launch_win.hpp"
#include "core/app_path_win.hpp"
#include "core/config/config.hpp"
#include "core/installer_stage_win.hpp"
#include "core/payload.hpp"
#include "core/splash_window_win.hpp"
#include "core/webview_probe_win.hpp"
#include "platform/output.hpp"
#include "platform/session_mutex_win.hpp"
#include "platform/text.hpp"

namespace brevlo {
namespace {

// The install lock, held until its guard ends.
class HeldInstallLock final : public Held {
 public:
  explicit HeldInstallLock(SessionMutex mutex) : mutex_(std::move(mutex)) {}

 private:
  SessionMutex mutex_;
};

}  // namespace

bool WindowsLaunchEnvironment::probe_webview() { return brevlo::probe_webview(); }

GameConfig WindowsLaunchEnvironment::load_game_config() {
  GameConfig config = brevlo::load_game_config();
  product_name_ = config.productName;
  return config;
}

Result<std::string> WindowsLaunchEnvironment::installed_application_path(
    const GameConfig& config) {
  return brevlo::installed_application_path(config);
}

bool WindowsLaunchEnvironment::path_exists(std::string_view path) {
  return brevlo::path_exists(path);
}

bool WindowsLaunchEnvironment::launch_application(std::string_view path) {
  return brevlo::launch_application(path);
}

Result<PreparedInstaller> WindowsLaunchEnvironment::prepare_installer(
    std::span<const std::uint8_t> image) {
  return brevlo::prepare_installer(image);
}

Result<bool> WindowsLaunchEnvironment::run_installer_stage(const PreparedInstaller& installer,
                                                           GameConfig config,
                                                           bool webview_ready) {
  return brevlo::run_installer_stage(installer, config, webview_ready);
}

Guard WindowsLaunchEnvironment::lock_install(const GameConfig& config) {
  SessionMutex mutex = SessionMutex::acquire(install_lock_name(config.productName));
  if (!mutex.held()) return nullptr;
  return std::make_unique<HeldInstallLock>(std::move(mutex));
}

Guard WindowsLaunchEnvironment::show_splash(bool silent) {
  if (!silent || has_standard_error()) return nullptr;
  const auto options = embedded_pack_options();
  if (!options || !options->splash) return nullptr;
  const auto image = embedded_splash_image();
  if (!image) return nullptr;
  auto splash = std::make_unique<SplashWindow>();
  splash->open(*image, utf16_from_wtf8(product_name_));
  return splash;
}

}  // namespace brevlo
