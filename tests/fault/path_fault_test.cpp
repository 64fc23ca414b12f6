// Faults in the installed-application path: an overlong or verbatim LOCALAPPDATA, product names
// that climb out of their folder or hold a forward slash, and a dangling symbolic link where the
// application should be.
#include <algorithm>
#include <cstdlib>
#include <string>

#include "fault_fixture.hpp"

namespace brevlo::e2e {
namespace {

class PathFault : public FaultTest {};

// A folder that does not exist, the variable at 32,000 characters (the system allows 32,767).
// The existence test finds nothing, the stand-in installs nothing, and the warning shows the
// whole path.
TEST_F(PathFault, LocalAppDataOf32000Characters) {
  std::wstring value = (folder_ / L"long").wstring();
  while (value.size() < 32000) {
    const std::size_t room = 32000 - value.size();
    value += room >= 2 ? L"\\" + std::wstring(std::min<std::size_t>(room - 1, 100), L'x')
                       : std::wstring(L"x");
  }
  ASSERT_EQ(value.size(), 32000u);
  options_.environment.set(L"LOCALAPPDATA", value);

  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.out, out_until_installer() + kInstalled);
  EXPECT_EQ(run.err,
            std::string(kAppMissing) + quoted_path(value + L"\\Ostrevan\\Ostrevan.exe") + "\n");
  EXPECT_EQ(run.exit_code, kExitFailureReported);
  EXPECT_EQ(installer_command_line(), installer_ran_plainly());
  EXPECT_FALSE(fs::exists(installer_)) << "setup_temp.exe was left behind";
  EXPECT_FALSE(fs::exists(folder_ / L"long")) << "something was made under LOCALAPPDATA";
}

// \\?\ before the folder: the components are joined under the verbatim rules and the
// application is started from that path, with the prefix on its command line.
TEST_F(PathFault, VerbatimLocalAppDataWithTheApplicationPresent) {
  place_app(app_);
  const std::wstring value = L"\\\\?\\" + local_.wstring();
  options_.environment.set(L"LOCALAPPDATA", value);

  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.out, std::string(kProbeFalse) + kFoundInstalled + kAppStarted);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_code, kExitStarted);
  expect_app_ran(app_, L"\"" + value + L"\\Ostrevan\\Ostrevan.exe\"");
  EXPECT_FALSE(fs::exists(installer_));
  EXPECT_EQ(installer_command_line(), "<the installer did not run>");
}

// The same with the application absent: the stand-in installs below the verbatim folder, and the
// application is found and started there.
TEST_F(PathFault, VerbatimLocalAppDataInstallsAndStarts) {
  const std::wstring value = L"\\\\?\\" + local_.wstring();
  options_.environment.set(L"LOCALAPPDATA", value);
  options_.environment.set(L"BREVLO_STANDIN_INSTALL", L"1");

  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.out, out_until_installer() + kInstalled + kStartingNew + kAppStarted);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_code, kExitStarted);
  expect_app_ran(app_, L"\"" + value + L"\\Ostrevan\\Ostrevan.exe\"");
  EXPECT_FALSE(fs::exists(installer_)) << "setup_temp.exe was left behind";
}

// --- product names that are paths ----------------------------------------------------------

struct ProductCase {
  const char* name;
  const char* launcher;
  const wchar_t* product;  // productName as the launcher's game.json holds it
  const wchar_t* folder;   // where that leads below LOCALAPPDATA
};

void PrintTo(const ProductCase& c, std::ostream* os) { *os << c.name; }

const ProductCase kProducts[] = {
    {"DotDot", BREVLO_FAULT_DOTDOT_LAUNCHER, L"Studio\\..\\Ostrevan", L"Ostrevan"},
    {"ForwardSlash", BREVLO_FAULT_SLASH_LAUNCHER, L"Studio/Ostrevan", L"Studio\\Ostrevan"},
};

class ProductNamePath : public FaultTest, public ::testing::WithParamInterface<ProductCase> {
 protected:
  void SetUp() override {
    FaultTest::SetUp();
    options_.program = windows_path(GetParam().launcher);
    formed_ = local_.wstring() + L"\\" + GetParam().product + L"\\Ostrevan.exe";
    app_ = local_ / GetParam().folder / L"Ostrevan.exe";
  }
  std::wstring formed_;  // the path as the launcher forms it, taken as written
};

// The name is taken as written: the system resolves ".." and "/" when the file is opened and the
// program started, and the command line holds the path as formed.
TEST_P(ProductNamePath, PresentApplicationIsStarted) {
  place_app(app_);
  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.out, std::string(kProbeFalse) + kFoundInstalled + kAppStarted);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_code, kExitStarted);
  expect_app_ran(app_, L"\"" + formed_ + L"\"");
  EXPECT_FALSE(fs::exists(installer_));
}

TEST_P(ProductNamePath, AbsentApplicationIsShownAsFormed) {
  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.out, out_until_installer() + kInstalled);
  EXPECT_EQ(run.err, std::string(kAppMissing) + quoted_path(formed_) + "\n");
  EXPECT_EQ(run.exit_code, kExitFailureReported);
  EXPECT_FALSE(fs::exists(installer_)) << "setup_temp.exe was left behind";
}

INSTANTIATE_TEST_SUITE_P(Fault, ProductNamePath, ::testing::ValuesIn(kProducts),
                         [](const auto& info) { return std::string(info.param.name); });

// --- a dangling symbolic link at the application path --------------------------------------

// The link is made on the build machine's side (this system's own call makes none) by
// linux_side.sh, which names the LOCALAPPDATA folder holding Ostrevan\Ostrevan.exe as the link
// and checks afterwards that the link is still there and its target still missing.
TEST_F(LinuxSideFault, DanglingLinkAtTheApplicationPath) {
  const char* local = std::getenv("BREVLO_FAULT_LINK_LOCAL");
  if (local == nullptr || *local == '\0') {
    GTEST_SKIP() << "needs the dangling link that the fault_dangling_link test makes";
  }
  const fs::path base = widen(local);
  options_.environment.set(L"LOCALAPPDATA", base.wstring());
  const std::wstring formed = base.wstring() + L"\\Ostrevan\\Ostrevan.exe";

  // A link whose target is missing counts as absent: the installer stage runs.
  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.out, out_until_installer() + kInstalled);
  EXPECT_EQ(run.err, std::string(kAppMissing) + quoted_path(formed) + "\n");
  EXPECT_EQ(run.exit_code, kExitFailureReported);
  EXPECT_EQ(installer_command_line(), installer_ran_plainly());
  EXPECT_FALSE(fs::exists(installer_)) << "setup_temp.exe was left behind";
}

}  // namespace
}  // namespace brevlo::e2e
