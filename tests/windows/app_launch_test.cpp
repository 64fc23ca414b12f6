#include "core/app_launch_win.hpp"

#include <gtest/gtest.h>

#include <string>

#include "unit/test_support.hpp"
#include "windows/win_test_support.hpp"

namespace brevlo {
namespace {

using testing::CapturedOutput;
using wintest::child_program;
using wintest::parse_child_report;
using wintest::ScopedEnvironmentVariable;
using wintest::ScratchDirectory;
using wintest::wait_for_file;
using wintest::wide;

// The path between double quotes with every backslash doubled.
std::string quoted_path(const std::string& path) {
  std::string quoted = "\"";
  for (const char c : path) {
    if (c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

class AppLaunchTest : public ::testing::Test {
 protected:
  ScratchDirectory dir;
  CapturedOutput output;
};

TEST_F(AppLaunchTest, StartedApplicationIsReportedAndLeftRunning) {
  ASSERT_TRUE(::CreateDirectoryW(wide(dir / "奥斯特 Games").c_str(), nullptr));
  const std::string app = dir / "奥斯特 Games\\Ostrevan.exe";
  ASSERT_TRUE(::CopyFileW(wide(child_program()).c_str(), wide(app).c_str(), FALSE));
  ScopedEnvironmentVariable report(L"BREVLO_CHILD_REPORT", wide(dir / "report.txt"));

  EXPECT_TRUE(launch_application(app));
  EXPECT_EQ(output.out.text, "✅ 主程序启动成功。\n");
  EXPECT_EQ(output.err.text, "");
  // The application runs on its own; its record shows it got its quoted path and nothing else.
  const std::optional<std::string> record = wait_for_file(wide(dir / "report.txt"));
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(parse_child_report(*record).command_line, "\"" + app + "\"");
  EXPECT_TRUE(parse_child_report(*record).arguments.empty());
  // Its file goes with the scratch folder once it has ended.
  wintest::wait_for_started_programs(L"Ostrevan.exe");
}

TEST_F(AppLaunchTest, MissingApplicationIsOneLineOnStandardError) {
  const std::string app = dir / R"(Ostrevan\Ostrevan.exe)";
  ASSERT_TRUE(::CreateDirectoryW(wide(dir / "Ostrevan").c_str(), nullptr));
  EXPECT_FALSE(launch_application(app));
  EXPECT_EQ(output.out.text, "");
  EXPECT_EQ(output.err.text,
            "❌ 无法启动主程序: The system cannot find the file specified. (os error 2)。路径: " +
                quoted_path(app) + "\n");
}

TEST_F(AppLaunchTest, DirectoryAtThePathFailsToStart) {
  const std::string app = dir / "Ostrevan.exe";
  ASSERT_TRUE(::CreateDirectoryW(wide(app).c_str(), nullptr));
  EXPECT_FALSE(launch_application(app));
  EXPECT_EQ(output.out.text, "");
  const std::string& line = output.err.text;
  EXPECT_TRUE(line.starts_with("❌ 无法启动主程序: ")) << line;
  EXPECT_NE(line.find(" (os error "), std::string::npos) << line;
  EXPECT_TRUE(line.ends_with("。路径: " + quoted_path(app) + "\n")) << line;
}

TEST_F(AppLaunchTest, NonAsciiPathShowsUnescapedInTheFailureLine) {
  const std::string app = dir / "游戏\\游戏.exe";
  EXPECT_FALSE(launch_application(app));
  EXPECT_TRUE(output.err.text.ends_with("。路径: " + quoted_path(app) + "\n")) << output.err.text;
}

}  // namespace
}  // namespace brevlo
