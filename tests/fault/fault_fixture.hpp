#pragma once
// A scratch machine for one fault: LOCALAPPDATA, TEMP and a working folder of its own, the
// runtime not registered, and a launcher around the stand-in installer. Each test changes the
// one thing its fault is about.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "../e2e/e2e_support.hpp"

namespace brevlo::e2e {

namespace fs = std::filesystem;

class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fresh_folder(current_test_name());
    local_ = folder_ / L"local";
    cwd_ = folder_ / L"cwd";
    fs::create_directories(local_);
    fs::create_directories(cwd_);
    use_temp(folder_ / L"temp");
    fs::create_directories(temp_);
    app_ = local_ / L"Ostrevan" / L"Ostrevan.exe";
    mark_ = "mark " + current_test_name();

    options_.program = windows_path(BREVLO_E2E_STANDIN_LAUNCHER);
    options_.environment.set(L"LOCALAPPDATA", local_.wstring());
    options_.environment.set(L"BREVLO_TEST_MARK", widen(mark_));
    options_.environment.set(L"BREVLO_STANDIN_APP", windows_path(BREVLO_E2E_DEMO_APP));
    options_.environment.set(L"BREVLO_STANDIN_INSTALL", L"0");
    options_.environment.set(L"BREVLO_STANDIN_EXIT", L"0");
    options_.current_directory = cwd_.wstring();
    options_.timeout = std::chrono::seconds(60);
    image_ = read_file(windows_path(BREVLO_E2E_STANDIN)).value_or("");
    ASSERT_FALSE(image_.empty()) << "the stand-in installer is missing";
    ASSERT_TRUE(runtime_.ok());
  }

  // The temporary folder the launcher is given, in TMP and TEMP alike.
  void use_temp(const fs::path& temp) {
    temp_ = temp;
    options_.environment.set(L"TEMP", temp_.wstring());
    options_.environment.set(L"TMP", temp_.wstring());
    installer_ = temp_ / L"setup_temp.exe";
  }

  // Puts the demo application at the given path.
  void place_app(const fs::path& exe) {
    ASSERT_TRUE(make_folders(exe.parent_path())) << narrow(exe.parent_path().wstring());
    ASSERT_TRUE(
        CopyFileW(windows_path(BREVLO_E2E_DEMO_APP).c_str(), verbatim(exe).c_str(), FALSE))
        << narrow(exe.wstring()) << ": " << GetLastError();
  }

  std::string extracting_line() const {
    return std::string(kExtracting) + "setup_temp.exe 到 " + quoted_path(installer_.wstring()) +
           "\n";
  }

  // Standard output of a run up to the start of the (not silent) installer.
  std::string out_until_installer() const {
    return std::string(kProbeFalse) + kNotInstalled + extracting_line() + kStartInstall;
  }

  // The application at exe ran once, with the given command line, in the launcher's working
  // folder and with its environment.
  void expect_app_ran(const fs::path& exe, const std::wstring& command_line) {
    const fs::path record = exe.parent_path() / L"ostrevan-run.txt";
    ASSERT_TRUE(wait_for_file(record)) << "the application did not run: no " << narrow(record);
    auto fields = read_record(record);
    EXPECT_EQ(fields["command_line"], narrow(command_line));
    EXPECT_EQ(fields["current_directory"], narrow(cwd_.wstring()));
    EXPECT_EQ(fields["BREVLO_TEST_MARK"], mark_);
  }

  void expect_app_ran(const fs::path& exe) { expect_app_ran(exe, L"\"" + exe.wstring() + L"\""); }

  // The application at exe was not started: no record appears, not even a little later.
  void expect_app_not_run(const fs::path& exe) {
    EXPECT_FALSE(wait_for_file(exe.parent_path() / L"ostrevan-run.txt", std::chrono::seconds(2)))
        << "the application was started";
  }

  // The command line the stand-in installer received, or a note that it did not run.
  std::string installer_command_line() const {
    const fs::path record = temp_ / L"standin-run.txt";
    if (!fs::exists(record)) return "<the installer did not run>";
    return read_record(record)["command_line"];
  }

  std::string installer_ran_plainly() const {
    return narrow(L"\"" + installer_.wstring() + L"\"");
  }

  fs::path folder_;
  fs::path local_;
  fs::path temp_;
  fs::path cwd_;
  fs::path installer_;
  fs::path app_;
  std::string mark_;
  std::string image_;
  LaunchOptions options_;
  RuntimeRegistration runtime_{false};
};

// Faults whose set-up happens on the build machine's side (a mount, a symbolic link): their CTest
// tests are driven by linux_side.sh, which prepares the fault, names it in the environment and runs
// just that case.
class LinuxSideFault : public FaultTest {};

}  // namespace brevlo::e2e
