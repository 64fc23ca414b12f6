// The launch decision flow, driven through a fake launch environment.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/config/config.hpp"
#include "core/run_report_text.hpp"
#include "main/frame.hpp"
#include "main/launch.hpp"
#include "platform/messages.hpp"
#include "test_support.hpp"

namespace brevlo {
namespace {

constexpr std::string_view kAppPath = R"(C:\Users\player\AppData\Local\Ostrevan\Ostrevan.exe)";
constexpr std::string_view kPreparedPath = R"(C:\Users\player\Temp\setup_temp.exe)";

// Stands for the system: answers as configured and records every call in order.
class FakeEnvironment : public LaunchEnvironment {
 public:
  bool webview = false;
  bool config_parses = true;
  Result<std::string> app_path = std::string(kAppPath);
  bool exists = true;
  std::optional<bool> exists_once_locked;  // what path_exists answers once the lock is held
  bool stage_stops = false;                // the installer stage ends in a fatal stop
  bool locked = false;
  bool launch_starts = true;
  Result<bool> stage_result = true;
  Result<bool> intact = true;  // what the image check answers: intact, damaged or an error
  std::vector<std::string> calls;
  std::string partial_text;  // printed without a line feed while the path is formed

  // What the installer stage was handed.
  const std::uint8_t* stage_image = nullptr;
  std::size_t stage_image_size = 0;
  std::string stage_path;
  std::optional<GameConfig> stage_config;
  bool stage_webview = false;

  bool probe_webview() override {
    calls.push_back("probe_webview");
    return webview;
  }
  GameConfig load_game_config() override {
    calls.push_back("load_game_config");
    if (!config_parses) {
      static constexpr char kEmpty[] = {'{', '}'};
      return expect_ok(parse_game_config(kEmpty), "无法解析 game.json");
    }
    return GameConfig{"Ostrevan", "Ostrevan"};
  }
  Result<std::string> installed_application_path(const GameConfig& config) override {
    calls.push_back("installed_application_path " + config.productName);
    if (!partial_text.empty()) print_stdout({partial_text});
    return app_path;
  }
  bool path_exists(std::string_view path) override {
    calls.push_back("path_exists " + std::string(path));
    return locked && exists_once_locked ? *exists_once_locked : exists;
  }
  bool launch_application(std::string_view path) override {
    calls.push_back("launch_application " + std::string(path));
    if (launch_starts) {
      print_stdout({"✅ 主程序启动成功。\n"});
    }
    return launch_starts;
  }
  std::span<const std::uint8_t> installer_image() override {
    calls.push_back("installer_image");
    return image;
  }
  Result<PreparedInstaller> prepare_installer(std::span<const std::uint8_t> img) override {
    calls.push_back(img.data() == image && img.size() == sizeof image
                        ? "prepare_installer"
                        : "prepare_installer of another image");
    stage_image = img.data();
    stage_image_size = img.size();
    if (!intact) return std::unexpected(intact.error());
    return PreparedInstaller{.intact = *intact, .path = std::string(kPreparedPath), .written = {}};
  }
  Result<bool> run_installer_stage(const PreparedInstaller& installer, GameConfig config,
                                   bool webview_ready) override {
    calls.push_back("run_installer_stage");
    stage_path = installer.path;
    stage_config = std::move(config);
    stage_webview = webview_ready;
    if (stage_stops) fatal_stop("stage stopped");
    return stage_result;
  }
  Guard lock_install(const GameConfig& config) override {
    calls.push_back("lock_install " + config.productName);
    locked = true;
    return recorded_guard("unlock_install", [this] { locked = false; });
  }

  // A guard whose end records end_call (and does what it is told).
  Guard recorded_guard(std::string end_call, std::function<void()> also = [] {}) {
    struct Recorded final : Held {
      Recorded(FakeEnvironment& env, std::string call, std::function<void()> also)
          : env(env), call(std::move(call)), also(std::move(also)) {}
      ~Recorded() override {
        env.calls.push_back(call);
        also();
      }
      FakeEnvironment& env;
      std::string call;
      std::function<void()> also;
    };
    return std::make_unique<Recorded>(*this, std::move(end_call), std::move(also));
  }

  const std::uint8_t image[4] = {'M', 'Z', 0, 1};
};

constexpr std::string_view kProbeFalse = "🔍 WebView2 Runtime 安装状态: false \n";
constexpr std::string_view kProbeTrue = "🔍 WebView2 Runtime 安装状态: true \n";

struct FlowCase {
  std::string name;
  bool webview;
  bool exists;
  bool launch_starts;
  Result<bool> stage_result;
  std::string out;
  std::string err;
  int status;
  Result<bool> intact = true;  // what the installer image check answers
};

class LaunchFlow : public ::testing::TestWithParam<FlowCase> {};

TEST_P(LaunchFlow, LinesChannelsAndStatus) {
  const FlowCase& c = GetParam();
  testing::CapturedOutput capture;
  FakeEnvironment env;
  env.webview = c.webview;
  env.exists = c.exists;
  env.launch_starts = c.launch_starts;
  env.stage_result = c.stage_result;
  env.intact = c.intact;

  EXPECT_EQ(run_and_finish(env), c.status);
  EXPECT_EQ(capture.out.text, c.out);
  EXPECT_EQ(capture.err.text, c.err);
  // The probe comes first and the configuration is read before the path is formed.
  ASSERT_GE(env.calls.size(), 4u);
  EXPECT_EQ(env.calls[0], "probe_webview");
  EXPECT_EQ(env.calls[1], "load_game_config");
  EXPECT_EQ(env.calls[2], "installed_application_path Ostrevan");
  EXPECT_EQ(env.calls[3], "path_exists " + std::string(kAppPath));
  if (c.exists) {
    EXPECT_EQ(env.calls, (std::vector<std::string>{env.calls[0], env.calls[1], env.calls[2],
                                                   env.calls[3],
                                                   "launch_application " + std::string(kAppPath)}));
  } else if (!c.intact || !*c.intact) {
    // The image is checked before anything is written, and nothing follows a failed check.
    EXPECT_EQ(env.calls, (std::vector<std::string>{
                             env.calls[0], env.calls[1], env.calls[2], env.calls[3],
                             "lock_install Ostrevan", env.calls[3], "installer_image",
                             "prepare_installer", "unlock_install"}));
  } else {
    // The installation runs under the lock, with the existence tested again once it is held.
    EXPECT_EQ(env.calls, (std::vector<std::string>{
                             env.calls[0], env.calls[1], env.calls[2], env.calls[3],
                             "lock_install Ostrevan", env.calls[3], "installer_image",
                             "prepare_installer", "run_installer_stage", "unlock_install"}));
    EXPECT_FALSE(env.locked);
    EXPECT_EQ(env.stage_image, env.image);
    EXPECT_EQ(env.stage_image_size, sizeof env.image);
    EXPECT_EQ(env.stage_path, kPreparedPath);
    ASSERT_TRUE(env.stage_config.has_value());
    EXPECT_EQ(env.stage_config->mainBinaryName, "Ostrevan");
    EXPECT_EQ(env.stage_config->productName, "Ostrevan");
    EXPECT_EQ(env.stage_webview, c.webview);
  }
}

const std::string kInstallLine = "📦 未发现应用。正在执行静默安装...\n";
const std::string kLaunchLine = "🚀 发现已安装应用。正在启动...\n";
const std::string kStarted = "✅ 主程序启动成功。\n";

INSTANTIATE_TEST_SUITE_P(
    Branches, LaunchFlow,
    ::testing::Values(
        FlowCase{"PresentAndStarted", false, true, true, true,
                 std::string(kProbeFalse) + kLaunchLine + kStarted, "", 0},
        FlowCase{"PresentWithRuntime", true, true, true, true,
                 std::string(kProbeTrue) + kLaunchLine + kStarted, "", 0},
        FlowCase{"PresentButLaunchFails", false, true, false, true,
                 std::string(kProbeFalse) + kLaunchLine, "", 1},
        FlowCase{"AbsentInstalledAndStarted", true, false, true, true,
                 std::string(kProbeTrue) + kInstallLine, "", 0},
        FlowCase{"AbsentWithoutRuntimeStillSaysSilent", false, false, true, true,
                 std::string(kProbeFalse) + kInstallLine, "", 0},
        FlowCase{"AbsentInstalledButNotStarted", true, false, true, false,
                 std::string(kProbeTrue) + kInstallLine, "", 1},
        FlowCase{"AbsentStageSystemError", false, false, true,
                 std::unexpected(Error::os(5)),
                 std::string(kProbeFalse) + kInstallLine,
                 "❌ 静默安装失败: Access is denied. (os error 5)\n", 1},
        FlowCase{"AbsentStageFixedTextError", false, false, true,
                 std::unexpected(
                     Error::fixed(ErrorKind::WriteZero, "failed to write whole buffer")),
                 std::string(kProbeFalse) + kInstallLine,
                 "❌ 静默安装失败: failed to write whole buffer\n", 1},
        FlowCase{"AbsentInstallerExitCode", true, false, true,
                 std::unexpected(Error::message(ErrorKind::Other, "❌ 安装程序返回错误: Some(2)")),
                 std::string(kProbeTrue) + kInstallLine,
                 "❌ 静默安装失败: ❌ 安装程序返回错误: Some(2)\n", 1},
        FlowCase{"AbsentImageDamaged", true, false, true, true,
                 std::string(kProbeTrue) + kInstallLine, "安装包已损坏，请重新下载启动器。\n", 1,
                 false},
        FlowCase{"AbsentImageCannotBeHashed", false, false, true, true,
                 std::string(kProbeFalse) + kInstallLine,
                 "❌ 静默安装失败: The system cannot find the file specified. (os error 2)\n", 1,
                 std::unexpected(Error::os(2))}),
    [](const auto& info) { return info.param.name; });

// A second launcher started while the first installs: it waits for the lock, then tests the
// existence again and goes on from there; the lock is given back on every way out.
struct WaiterCase {
  std::string name;
  bool exists_once_locked;
  bool launch_starts;
  std::vector<std::string> then;
  std::string out;
  int status;
};

class WaiterGoesOn : public ::testing::TestWithParam<WaiterCase> {};

TEST_P(WaiterGoesOn, AfterTheExistenceTest) {
  const WaiterCase& c = GetParam();
  const std::string app(kAppPath);
  const std::vector<std::string> before = {"probe_webview", "load_game_config",
                                           "installed_application_path Ostrevan",
                                           "path_exists " + app, "lock_install Ostrevan",
                                           "path_exists " + app};
  testing::CapturedOutput capture;
  FakeEnvironment env;
  env.exists = false;
  env.exists_once_locked = c.exists_once_locked;
  env.launch_starts = c.launch_starts;
  EXPECT_EQ(run_and_finish(env), c.status) << c.name;
  std::vector<std::string> calls = before;
  calls.insert(calls.end(), c.then.begin(), c.then.end());
  EXPECT_EQ(env.calls, calls) << c.name;
  EXPECT_EQ(capture.out.text, c.out) << c.name;
  EXPECT_EQ(capture.err.text, "") << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    InstallLock, WaiterGoesOn,
    ::testing::Values(
        WaiterCase{"the holder installed it",
                   true,
                   true,
                   {"launch_application " + std::string(kAppPath), "unlock_install"},
                   std::string(kProbeFalse) + kLaunchLine + kStarted,
                   0},
        WaiterCase{"the holder installed it but it does not start",
                   true,
                   false,
                   {"launch_application " + std::string(kAppPath), "unlock_install"},
                   std::string(kProbeFalse) + kLaunchLine,
                   1},
        WaiterCase{"the holder ended without it",
                   false,
                   true,
                   {"installer_image", "prepare_installer", "run_installer_stage",
                    "unlock_install"},
                   std::string(kProbeFalse) + kInstallLine,
                   0}),
    [](const auto& info) { return testing::row_name(info.param.name); });

TEST(InstallLock, GivenBackAfterAFatalStopInTheStage) {
  testing::CapturedOutput capture;
  FakeEnvironment env;
  env.exists = false;
  env.stage_stops = true;
  EXPECT_EQ(run_and_finish(env), 101);
  EXPECT_EQ(env.calls.back(), "unlock_install");
  EXPECT_FALSE(env.locked);
}

// The splash is opened once the installation has begun, told whether the installer runs
// silently, and closed before the sequence ends, whichever way it ends.
TEST(Splash, OpenedAfterTheInstallLineAndClosedOnEveryWayOut) {
  struct SplashRecording : FakeEnvironment {
    Guard show_splash(bool silent) override {
      calls.push_back(silent ? "open_splash silent" : "open_splash");
      return recorded_guard("close_splash");
    }
  };
  struct Case {
    std::string name;
    bool exists, webview;
    std::function<void(SplashRecording&)> set;
    std::vector<std::string> tail;  // the calls after the path was formed
    int status;
  };
  const std::string app(kAppPath);
  // Not installed: the lock, the second look, then the 📦 line.
  const std::vector<std::string> installing = {"path_exists " + app, "lock_install Ostrevan",
                                               "path_exists " + app};
  const auto then = [&](std::vector<std::string> rest) {
    rest.insert(rest.begin(), installing.begin(), installing.end());
    return rest;
  };
  const Case cases[] = {
      {"game present", true, true, [](SplashRecording&) {},
       {"path_exists " + app, "launch_application " + app}, 0},
      {"silent installation", false, true, [](SplashRecording&) {},
       then({"open_splash silent", "installer_image", "prepare_installer",
             "run_installer_stage", "close_splash", "unlock_install"}),
       0},
      {"installer with its own interface", false, false, [](SplashRecording&) {},
       then({"open_splash", "installer_image", "prepare_installer", "run_installer_stage",
             "close_splash", "unlock_install"}),
       0},
      {"damaged image", false, true, [](SplashRecording& env) { env.intact = false; },
       then({"open_splash silent", "installer_image", "prepare_installer", "close_splash",
             "unlock_install"}),
       1},
      {"installer failed", false, true,
       [](SplashRecording& env) { env.stage_result = std::unexpected(Error::os(5)); },
       then({"open_splash silent", "installer_image", "prepare_installer",
             "run_installer_stage", "close_splash", "unlock_install"}),
       1},
      {"fatal stop in the stage", false, true, [](SplashRecording& env) { env.stage_stops = true; },
       then({"open_splash silent", "installer_image", "prepare_installer",
             "run_installer_stage", "close_splash", "unlock_install"}),
       101},
  };
  for (const Case& c : cases) {
    testing::CapturedOutput capture;
    SplashRecording env;
    env.exists = c.exists;
    env.webview = c.webview;
    c.set(env);
    EXPECT_EQ(run_and_finish(env), c.status) << c.name;
    const auto formed = std::ranges::find(env.calls, "installed_application_path Ostrevan");
    ASSERT_NE(formed, env.calls.end()) << c.name;
    EXPECT_EQ(std::vector<std::string>(formed + 1, env.calls.end()), c.tail) << c.name;
  }
}

struct LockNameRow {
  std::string_view name;
  std::string_view product;
  std::string_view lock;
};

class LockName : public ::testing::TestWithParam<LockNameRow> {};

TEST_P(LockName, IsTheSessionsAndHashesTheProductName) {
  const LockNameRow& row = GetParam();
  EXPECT_EQ(install_lock_name(row.product), row.lock) << row.product;
}

INSTANTIATE_TEST_SUITE_P(
    InstallLock, LockName,
    ::testing::Values(
        LockNameRow{"empty", "", "Local\\brevlo-install-cbf29ce484222325"},
        LockNameRow{"latin", "Ostrevan", "Local\\brevlo-install-79511b4cd496c279"},
        LockNameRow{"backslash", "a\\b", "Local\\brevlo-install-e6b9b11904eabd96"},
        LockNameRow{"cjk_and_space", "奥斯特雷文 游戏", "Local\\brevlo-install-89408aa0979f7421"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- what --support-log and --failure-dialog make of a run ------------------------------------

struct LogBlockRow {
  std::string_view name;
  std::string_view printed;
  int status;
  std::string_view body;
};

class SupportLogBlock : public ::testing::TestWithParam<LogBlockRow> {};

TEST_P(SupportLogBlock, OfOneRun) {
  const LocalTime start{2026, 3, 7, 9, 5, 1};
  const LogBlockRow& row = GetParam();
  EXPECT_EQ(support_log_run(start, "1.2.3", "\"C:\\x y\\l.exe\" a\r\nb", row.printed, row.status),
            "== brevlo 1.2.3 run at 2026-03-07 09:05:01: \"C:\\x y\\l.exe\" a  b\n" +
                std::string(row.body));
}

INSTANTIATE_TEST_SUITE_P(
    RunReport, SupportLogBlock,
    ::testing::Values(LogBlockRow{"two_lines", "a\nb\n", 0, "a\nb\n== exit status 0\n"},
                      LogBlockRow{"nothing_printed", "", 101, "== exit status 101\n"},
                      LogBlockRow{"partial_line", "partial", 1, "partial\n== exit status 1\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// Three runs of the support log.
const std::string kRunA = "== brevlo 1 run at A\naaaa\n== exit status 0\n";  // 43 bytes
const std::string kRunB = "== brevlo 1 run at B\nbb\n== exit status 1\n";    // 41 bytes
const std::string kRunC = "== brevlo 1 run at C\n== exit status 101\n";      // 40 bytes
// An old run of size bytes in all.
std::string old_run(std::size_t size) {
  const std::string head = "== brevlo 1 run at O\n";
  return head + std::string(size - head.size() - 1, 'o') + "\n";
}
constexpr std::size_t kDefault = 0;  // the row leaves the limit to the default, 65,536 bytes

struct OldRunsRow {
  std::string name;
  std::string existing;
  std::size_t limit;
  std::string want;
  std::string run = {};  // the new run; kRunC when empty
};

class SupportLogDrops : public ::testing::TestWithParam<OldRunsRow> {};

TEST_P(SupportLogDrops, WholeOldestRuns) {
  const OldRunsRow& row = GetParam();
  const std::string& run = row.run.empty() ? kRunC : row.run;
  EXPECT_EQ(row.limit == kDefault ? support_log_with_run(row.existing, run)
                                  : support_log_with_run(row.existing, run, row.limit),
            row.want)
      << row.name;
}

INSTANTIATE_TEST_SUITE_P(
    RunReport, SupportLogDrops,
    ::testing::ValuesIn(std::vector<OldRunsRow>{
      {"first run", "", 100, kRunC},
      {"room for all", kRunA + kRunB, 124, kRunA + kRunB + kRunC},
      {"one byte over drops the oldest", kRunA + kRunB, 123, kRunB + kRunC},
      {"only the new run fits", kRunA + kRunB, 80, kRunC},
      {"the new run alone is too long", kRunA + kRunB, 10, kRunC},
      {"text before the first run", "junk\n== brevlo x\n" + kRunB, 1000, "== brevlo x\n" + kRunB + kRunC},
      {"no run at all", "junk", 1000, kRunC},
      {"a cut last line", kRunA + "== brevlo 1 run at B\nb", 1000, kRunA + "== brevlo 1 run at B\nb\n" + kRunC},
      {"a mark inside a line is no run", "x == brevlo 1\n" + kRunA, 1000, kRunA + kRunC},
      {"65,536 bytes by default", old_run(65536 - kRunC.size()), kDefault,
       old_run(65536 - kRunC.size()) + kRunC},
      {"one byte over 65,536 by default", old_run(65537 - kRunC.size()), kDefault, kRunC},
      {"a new run without the mark is kept whole", kRunA + kRunB, 10, "x\n", "x\n"},
      {"a new run without the mark after the runs that fit", kRunA + kRunB, 1000, kRunA + kRunB + "x\n", "x\n"},
    }),
    [](const auto& info) { return testing::row_name(info.param.name); });

TEST(RunReport, DialogTextIsStandardErrorWithoutTheLineFeedsAround) {
  EXPECT_EQ(failure_dialog_text("❌ 静默安装失败: x\n"), "❌ 静默安装失败: x");
  EXPECT_EQ(failure_dialog_text("\nthread 'main' panicked at a:\nb\nnote: c\n"),
            "thread 'main' panicked at a:\nb\nnote: c");
  EXPECT_EQ(failure_dialog_text("\n\n"), "");
  EXPECT_EQ(failure_dialog_text("\n\n\nx\n\n"), "x");
}

// The record keeps what the run printed, as the devices took it, with the fatal stop's report.
TEST(RunReport, RecordHoldsEverythingPrintedInOrder) {
  testing::CapturedOutput capture;
  OutputRecord record;
  set_output_record(&record);
  FakeEnvironment env;
  env.exists = false;
  env.stage_result = std::unexpected(Error::os(5));
  EXPECT_EQ(run_and_finish(env), 1);
  FakeEnvironment stopping;
  stopping.app_path = std::unexpected(environment_variable_missing());
  EXPECT_EQ(run_and_finish(stopping), 101);
  set_output_record(nullptr);
  print_stdout({"not recorded\n"});
  const std::string failure = "❌ 静默安装失败: Access is denied. (os error 5)\n";
  EXPECT_EQ(record.all, std::string(kProbeFalse) + kInstallLine + failure + std::string(kProbeFalse) +
                            capture.err.text.substr(failure.size()));
  EXPECT_EQ(record.err, capture.err.text);
  EXPECT_TRUE(capture.err.text.substr(failure.size()).starts_with("\nthread 'main' panicked at "));
}

std::string report_lines(const std::string& where, const std::string& message) {
  return "\nthread 'main' panicked at " + where + ":\n" + message + "\n";
}

struct MissingLocalAppDataCase {
  std::string name;
  Error error;
  std::string message;
};

class MissingLocalAppData : public ::testing::TestWithParam<MissingLocalAppDataCase> {};

TEST_P(MissingLocalAppData, StopsAfterTheProbeLine) {
  const MissingLocalAppDataCase& c = GetParam();
  testing::CapturedOutput capture;
  FakeEnvironment env;
  env.app_path = std::unexpected(c.error);
  EXPECT_EQ(run_and_finish(env), 101);
  EXPECT_EQ(capture.out.text, kProbeFalse);
  const std::string report = report_lines(
      testing::location_of("src/main/launch.cpp", "expect_ok(env.installed_application_path"),
      c.message);
  EXPECT_EQ(capture.err.text.substr(0, report.size()), report);
  // Nothing after the report but, in the process's first stop, the note line.
  const std::string rest = capture.err.text.substr(report.size());
  EXPECT_TRUE(rest.empty() || rest.rfind("note: ", 0) == 0) << rest;
  EXPECT_EQ(env.calls.size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(
    LaunchFatalStops, MissingLocalAppData,
    ::testing::Values(
        MissingLocalAppDataCase{"not_present", environment_variable_missing(),
                                "无法获取 LOCALAPPDATA 环境变量: NotPresent"},
        MissingLocalAppDataCase{
            "not_unicode", environment_variable_not_unicode("C:\\Users\\\xED\xA0\x80"),
            R"(无法获取 LOCALAPPDATA 环境变量: NotUnicode("C:\\Users\\\u{d800}"))"}),
    [](const auto& info) { return info.param.name; });

TEST(LaunchFatalStops, ConfigurationThatDoesNotParse) {
  testing::CapturedOutput capture;
  FakeEnvironment env;
  env.config_parses = false;
  EXPECT_EQ(run_and_finish(env), 101);
  EXPECT_EQ(capture.out.text, kProbeFalse);
  const std::string report = report_lines(
      testing::location_of("tests/unit/launch_test.cpp", "expect_ok(parse_game_config(kEmpty)"),
      "无法解析 game.json: Error(\"missing field `mainBinaryName`\", line: 1, column: 2)");
  EXPECT_EQ(capture.err.text.substr(0, report.size()), report);
  EXPECT_EQ(env.calls, (std::vector<std::string>{"probe_webview", "load_game_config"}));
}

TEST(LaunchFatalStops, PartialLineReachesTheDeviceBeforeTheEnd) {
  testing::CapturedOutput capture;
  FakeEnvironment env;
  env.partial_text = "partial";
  env.app_path = std::unexpected(environment_variable_missing());
  EXPECT_EQ(run_and_finish(env), 101);
  EXPECT_EQ(capture.out.writes, (std::vector<std::string>{std::string(kProbeFalse), "partial"}));
}

}  // namespace
}  // namespace brevlo
