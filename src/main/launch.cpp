#include "main/launch.hpp"

#include "platform/messages.hpp"

namespace brevlo {
namespace {

// Holds the installation lock for the rest of the sequence, fatal stops included.
class InstallLock {
 public:
  InstallLock(LaunchEnvironment& env, const GameConfig& config) : env_(env) {
    env_.lock_install(config);
  }
  ~InstallLock() { env_.unlock_install(); }
  InstallLock(const InstallLock&) = delete;
  InstallLock& operator=(const InstallLock&) = delete;

 private:
  LaunchEnvironment& env_;
};

// Shows the splash (when the launcher has one) for the rest of the installation: it is gone
// once the sequence returns or a fatal stop leaves it.
class SplashShown {
 public:
  SplashShown(LaunchEnvironment& env, bool silent) : env_(env) { env_.open_splash(silent); }
  ~SplashShown() { env_.close_splash(); }
  SplashShown(const SplashShown&) = delete;
  SplashShown& operator=(const SplashShown&) = delete;

 private:
  LaunchEnvironment& env_;
};

}  // namespace

int run_launch_sequence(LaunchEnvironment& env) {
  const bool webview_ready = env.probe_webview();
  print_stdout({"🔍 WebView2 Runtime 安装状态: ", display_form(webview_ready), " \n"});

  const GameConfig config = env.load_game_config();

  // Formed once for the existence test; the installer stage forms its own copy again.
  const std::string app_path =
      expect_ok(env.installed_application_path(config), "无法获取 LOCALAPPDATA 环境变量");

  const auto launch = [&] {
    print_stdout({"🚀 发现已安装应用。正在启动...\n"});
    return env.launch_application(app_path) ? kExitStarted : kExitFailureReported;
  };
  if (env.path_exists(app_path)) return launch();

  // One installation at a time: a launcher started while another installs waits for it here and
  // then finds the application it installed.
  const InstallLock lock(env, config);
  if (env.path_exists(app_path)) return launch();

  print_stdout({"📦 未发现应用。正在执行静默安装...\n"});
  const SplashShown splash(env, webview_ready);
  const std::span<const std::uint8_t> image = env.installer_image();
  // A damaged launcher writes and runs nothing.
  auto intact = env.installer_image_intact(image);
  if (!intact) {
    print_stderr({"❌ 静默安装失败: ", display_form(intact.error()), "\n"});
    return kExitFailureReported;
  }
  if (!*intact) {
    print_stderr({"安装包已损坏，请重新下载启动器。\n"});
    return kExitFailureReported;
  }
  auto installed = env.run_installer_stage(image, kInstallerFileName, config, webview_ready);
  if (!installed) {
    print_stderr({"❌ 静默安装失败: ", display_form(installed.error()), "\n"});
    return kExitFailureReported;
  }
  return *installed ? kExitStarted : kExitFailureReported;
}

}  // namespace brevlo
