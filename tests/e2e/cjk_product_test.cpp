// A launcher built around game_cjk.json: a product folder and an executable name with spaces and
// CJK letters ("Ostrevan 游戏 客户端" and "启动 Ostrevan"), with the stand-in installer as its
// image. The path is started correctly and shown, unescaped, in the messages.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "e2e_support.hpp"

namespace brevlo::e2e {
namespace {

namespace fs = std::filesystem;

class CjkProductTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fresh_folder("cjk/" + current_test_name());
    local_ = folder_ / L"local";
    temp_ = folder_ / L"temp";
    cwd_ = folder_ / L"cwd";
    fs::create_directories(local_);
    fs::create_directories(temp_);
    fs::create_directories(cwd_);
    app_ = local_ / L"Ostrevan 游戏 客户端" / L"启动 Ostrevan.exe";
    installer_ = temp_ / L"setup_temp.exe";

    options_.program = windows_path(BREVLO_E2E_CJK_LAUNCHER);
    options_.environment.set(L"LOCALAPPDATA", local_.wstring());
    options_.environment.set(L"TEMP", temp_.wstring());
    options_.environment.set(L"TMP", temp_.wstring());
    options_.environment.set(L"BREVLO_TEST_MARK", L"游戏");
    options_.environment.set(L"BREVLO_STANDIN_APP", windows_path(BREVLO_E2E_DEMO_APP));
    options_.environment.set(L"BREVLO_STANDIN_TARGET", L"Ostrevan 游戏 客户端\\启动 Ostrevan.exe");
    options_.environment.set(L"BREVLO_STANDIN_INSTALL", L"0");
    options_.environment.set(L"BREVLO_STANDIN_EXIT", L"0");
    options_.current_directory = cwd_.wstring();
  }

  void expect_app_ran() {
    const fs::path record = app_.parent_path() / L"ostrevan-run.txt";
    ASSERT_TRUE(wait_for_file(record)) << "the application did not run: no " << narrow(record);
    auto fields = read_record(record);
    EXPECT_EQ(fields["command_line"], narrow(L"\"" + app_.wstring() + L"\""));
    EXPECT_EQ(fields["current_directory"], narrow(cwd_.wstring()));
    EXPECT_EQ(fields["BREVLO_TEST_MARK"], "游戏");
  }

  std::string out_until_installer() const {
    return std::string(kProbeFalse) + kNotInstalled + kExtracting + "setup_temp.exe 到 " +
           quoted_path(installer_.wstring()) + "\n" + kStartInstall;
  }

  fs::path folder_;
  fs::path local_;
  fs::path temp_;
  fs::path cwd_;
  fs::path app_;
  fs::path installer_;
  LaunchOptions options_;
  RuntimeRegistration runtime_{false};
};

TEST_F(CjkProductTest, InstalledApplicationIsStarted) {
  ASSERT_TRUE(make_folders(app_.parent_path()));
  ASSERT_TRUE(CopyFileW(windows_path(BREVLO_E2E_DEMO_APP).c_str(), app_.c_str(), FALSE));
  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.out, std::string(kProbeFalse) + kFoundInstalled + kAppStarted);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_code, kExitStarted);
  expect_app_ran();
}

TEST_F(CjkProductTest, InstalledThenStarted) {
  options_.environment.set(L"BREVLO_STANDIN_INSTALL", L"1");
  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.out, out_until_installer() + kInstalled + kStartingNew + kAppStarted);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_code, kExitStarted);
  EXPECT_FALSE(fs::exists(installer_));
  expect_app_ran();
}

TEST_F(CjkProductTest, MissingAfterInstallationIsShownUnescaped) {
  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.out, out_until_installer() + kInstalled);
  // Written out here rather than formed, so that the letters are seen as they are.
  const std::string path =
      escaped_path(local_.wstring()) + "\\\\Ostrevan 游戏 客户端\\\\启动 Ostrevan.exe";
  EXPECT_EQ(run.err, std::string(kAppMissing) + "\"" + path + "\"\n");
  EXPECT_EQ(run.exit_code, kExitFailureReported);
}

TEST_F(CjkProductTest, LaunchFailureIsShownUnescaped) {
  ASSERT_TRUE(make_folders(app_));  // a folder where the executable should be
  std::wstring probe_line = L"\"" + app_.wstring() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  ASSERT_FALSE(CreateProcessW(app_.c_str(), probe_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              nullptr, &startup, &info));
  const DWORD code = GetLastError();
  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.out, std::string(kProbeFalse) + kFoundInstalled);
  EXPECT_EQ(run.err, std::string(kLaunchFailed) + system_error_text(code) + "。路径: \"" +
                         escaped_path(local_.wstring()) +
                         "\\\\Ostrevan 游戏 客户端\\\\启动 Ostrevan.exe\"\n");
  EXPECT_EQ(run.exit_code, kExitFailureReported);
}

}  // namespace
}  // namespace brevlo::e2e
