#include "main/launch.hpp"

#include "platform/messages.hpp"

namespace brevlo {
namespace {

// Reports a failed installation on standard error.
int installation_failed(const Error& error) {
  print_stderr({"❌ 静默安装失败: ", display_form(error), "\n"});
  return kExitFailureReported;
}

// Under the install lock, with the application still missing: writes the installer out as it is
// checked, runs it and starts what it installed.
int install(LaunchEnvironment& env, const GameConfig& config, bool webview_ready) {
  print_stdout({"📦 未发现应用。正在执行静默安装...\n"});
  const Guard splash = env.show_splash(webview_ready);
  // A damaged launcher writes and runs nothing.
  const Result<PreparedInstaller> prepared = env.prepare_installer(env.installer_image());
  if (!prepared) return installation_failed(prepared.error());
  if (!prepared->intact) {
    print_stderr({"安装包已损坏，请重新下载启动器。\n"});
    return kExitFailureReported;
  }
  const Result<bool> started = env.run_installer_stage(*prepared, config, webview_ready);
  if (!started) return installation_failed(started.error());
  return *started ? kExitStarted : kExitFailureReported;
}

}  // namespace

int run_launch_sequence(LaunchEnvironment& env) {
  const bool webview_ready = env.probe_webview();
  print_stdout({"🔍 WebView2 Runtime 安装状态: ", display_form(webview_ready), " \n"});

  const GameConfig config = env.load_game_config();

  const std::string app_path =
      expect_ok(env.installed_application_path(config), kLocalAppDataStopContext);

  const auto launch = [&] {
    print_stdout({"🚀 发现已安装应用。正在启动...\n"});
    return env.launch_application(app_path) ? kExitStarted : kExitFailureReported;
  };
  if (env.path_exists(app_path)) return launch();

  // One installation at a time: a launcher started while another installs waits for it here and
  // then finds the application it installed. The lock is held until the sequence returns or a
  // fatal stop leaves it.
  const Guard lock = env.lock_install(config);
  if (env.path_exists(app_path)) return launch();
  return install(env, config, webview_ready);
}

}  // namespace brevlo
