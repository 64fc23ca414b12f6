#pragma once
// The launch environment over the real Windows system.

#include <cstdint>
#include <optional>
#include <span>

#include "core/launch_environment.hpp"
#include "core/win/installer_stage.hpp"
#include "core/win/splash.hpp"
#include "platform/session_mutex_win.hpp"

namespace brevlo {

class WindowsLaunchEnvironment final : public LaunchEnvironment {
 public:
  // image: the embedded installer, kept by the launcher for the whole run.
  explicit WindowsLaunchEnvironment(std::span<const std::uint8_t> image) : image_(image) {}

  bool probe_webview() override;
  GameConfig load_game_config() override;
  std::expected<std::string, EnvVarError> installed_application_path(
      const GameConfig& config) override;
  bool path_exists(std::string_view path) override;
  bool launch_application(std::string_view path) override;
  std::span<const std::uint8_t> installer_image() override { return image_; }
  Result<bool> installer_image_intact(std::span<const std::uint8_t> image) override;
  std::expected<bool, StageError> run_installer_stage(std::span<const std::uint8_t> image,
                                                      std::string_view file_name,
                                                      GameConfig config,
                                                      bool webview_ready) override;
  void lock_install(const GameConfig& config) override;
  void unlock_install() override { install_lock_.release(); }
  // Opens the splash only when the launcher carries one, the installer runs silently and the
  // process has no standard error handle (nobody reads its lines: a person is watching).
  void open_splash(bool silent) override;
  void close_splash() override { splash_.close(); }

  // productName of the configuration the run read; empty before it was read.
  const std::string& product_name() const { return product_name_; }

 private:
  std::span<const std::uint8_t> image_;
  std::optional<WrittenInstaller> written_;  // the file installer_image_intact wrote
  std::string product_name_;
  SessionMutex install_lock_;
  SplashWindow splash_;
};

}  // namespace brevlo
