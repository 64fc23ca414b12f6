// A launcher built around game_cjk.json: a product folder and an executable name with spaces and
// CJK letters ("Ostrevan 游戏 客户端" and "启动 Ostrevan"), with the stand-in installer as its
// image. The path is started correctly and shown, unescaped, in the messages.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "e2e_support.hpp"

namespace brevlo::e2e {
namespace {

class CjkProductTest : public ScratchMachine {
 protected:
  void SetUp() override {
    make_machine("cjk/", "游戏", true);
    app_ = local_ / L"Ostrevan 游戏 客户端" / L"启动 Ostrevan.exe";
    use_stand_in(BREVLO_E2E_CJK_LAUNCHER);
    options_.environment.set(L"BREVLO_STANDIN_TARGET", L"Ostrevan 游戏 客户端\\启动 Ostrevan.exe");
  }

  RuntimeRegistration runtime_{false};
};

TEST_F(CjkProductTest, InstalledApplicationIsStarted) {
  place_app(app_);
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
  DWORD code = 0;
  ASSERT_NO_FATAL_FAILURE(folder_start_error(app_, code));
  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.out, std::string(kProbeFalse) + kFoundInstalled);
  EXPECT_EQ(run.err, std::string(kLaunchFailed) + system_error_text(code) + "。路径: \"" +
                         escaped_path(local_.wstring()) +
                         "\\\\Ostrevan 游戏 客户端\\\\启动 Ostrevan.exe\"\n");
  EXPECT_EQ(run.exit_code, kExitFailureReported);
}

}  // namespace
}  // namespace brevlo::e2e
