#pragma once
// The launch environment over the real Windows system.

#include <cstdint>
#include <span>
#include <string>

#include "core/launch_environment.hpp"

namespace brevlo {

class WindowsLaunchEnvironment final : public LaunchEnvironment {
 public:
  // image: the embedded installer, kept by the launcher for the whole run.
  explicit WindowsLaunchEnvironment(std::span<const std::uint8_t> image) : image_(image) {}

  bool probe_webview() override;
  GameConfig load_game_config() override;
  Result<std::string> installed_application_path(const GameConfig& config) override;
  bool path_exists(std::string_view path) override;
  bool launch_application(std::string_view path) override;
  std::span<const std::uint8_t> installer_image() override { return image_; }
  Result<PreparedInstaller> prepare_installer(std::span<const std::uint8_t> image) override;
  Result<bool> run_installer_stage(const PreparedInstaller& installer, GameConfig config,
                                   bool webview_ready) override;
  Guard lock_install(const GameConfig& config) override;
  // Shows the splash only when the launcher carries one, the installer runs silently and the
  // process has no standard error handle (nobody reads its lines: a person is watching).
  Guard show_splash(bool silent) override;

  // productName of the configuration the run read; empty before it was read.
  const std::string& product_name() const { return product_name_; }

 private:
  std::span<const std::uint8_t> image_;
  std::string product_name_;
};

}  // namespace brevlo
