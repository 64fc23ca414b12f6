#pragma once
// Starting built launchers the way real callers do, in scratch folders and environments of the
// test's own, and reading back what they wrote.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "../common/location_of.hpp"
#include "../common/time_limit.hpp"
#include "../common/wait_for_file.hpp"

namespace brevlo::e2e {

// The launcher's texts, byte for byte.
inline constexpr const char* kProbeFalse = "🔍 WebView2 Runtime 安装状态: false \n";
inline constexpr const char* kProbeTrue = "🔍 WebView2 Runtime 安装状态: true \n";
inline constexpr const char* kFoundInstalled = "🚀 发现已安装应用。正在启动...\n";
inline constexpr const char* kAppStarted = "✅ 主程序启动成功。\n";
inline constexpr const char* kNotInstalled = "📦 未发现应用。正在执行静默安装...\n";
inline constexpr const char* kExtracting = "正在提取 ";
inline constexpr const char* kStartInstall = "开始安装\n";
inline constexpr const char* kSilent = "静默安装\n";
inline constexpr const char* kInstalled = "✅ 安装成功。\n";
inline constexpr const char* kStartingNew = "🚀 正在启动新安装的应用...\n";
inline constexpr const char* kInstallFailed = "❌ 静默安装失败: ";
inline constexpr const char* kInstallerError = "❌ 安装程序返回错误: ";
inline constexpr const char* kAppMissing =
    "⚠️ 安装成功，但无法找到预期的主程序: ";
inline constexpr const char* kCannotRemove = "⚠️ 无法删除临时安装文件 ";
inline constexpr const char* kLaunchFailed = "❌ 无法启动主程序: ";
inline constexpr const char* kLocalAppDataContext = "无法获取 LOCALAPPDATA 环境变量";

// Exit statuses of the launcher.
inline constexpr DWORD kExitStarted = 0;
inline constexpr DWORD kExitFailureReported = 1;
inline constexpr DWORD kExitFatalStop = 101;

// Windows form of a build-machine path (Wine maps the root to drive Z:).
std::wstring windows_path(const std::string& unix_path);

std::wstring widen(const std::string& utf8);
std::string narrow(const std::wstring& utf16);

// The inside of a path as the launcher shows it in messages: backslashes, double and single
// quotes escaped by a backslash, a lone surrogate as \u{d800}. Enough for the printable paths
// the tests make.
std::string escaped_path(const std::wstring& path);
// The same between double quotes.
std::string quoted_path(const std::wstring& path);

// The display form of a system error as this system words it: the message, " (os error ", the
// code and ")".
std::string system_error_text(DWORD code);

using test_common::location_of;

// An environment block for a child: the test's own environment with changes. Values are raw
// UTF-16, so they may hold what is not valid Unicode.
class Environment {
 public:
  Environment();  // a copy of the current environment
  void set(const std::wstring& name, const std::wstring& value);
  void unset(const std::wstring& name);
  // The block for CreateProcessW with CREATE_UNICODE_ENVIRONMENT, sorted by name.
  std::wstring block() const;

 private:
  struct NoCase {
    bool operator()(const std::wstring& a, const std::wstring& b) const;
  };
  std::map<std::wstring, std::wstring, NoCase> vars_;
};

// How the launcher's standard handles are set up.
enum class Handles {
  Files,             // stdout and stderr to files
  Pipes,             // stdout and stderr to pipes read by the test
  None,              // no standard handles, no handle inheritance
  ClosedStdoutPipe,  // stdout to a pipe whose reading end is already closed, stderr to a file
  // stdout to a pipe that the test reads until close_stdout_after has arrived and then closes,
  // stderr to a file; the output is what was read before the close
  StdoutPipeClosedMidway,
};

struct RunResult {
  DWORD exit_code = 0;
  std::string out;
  std::string err;
  // The launcher and every process it started had ended when the run returned.
  bool everything_ended = false;
};

struct LaunchOptions {
  std::wstring program;
  std::wstring arguments;  // appended to the quoted program, after a space
  Environment environment;
  std::optional<std::wstring> current_directory;
  Handles handles = Handles::Files;
  std::string close_stdout_after;  // for Handles::StdoutPipeClosedMidway
  // For Handles::StdoutPipeClosedMidway: a named event that the run sets once it has closed the
  // pipe, for a stand-in installer told to wait for it (BREVLO_STANDIN_WAIT).
  std::wstring stdout_closed_event;
  // The launcher's limit before it counts as hung, scaled by BREVLO_TEST_TIME_SCALE.
  std::chrono::seconds timeout{120};
  // Whether the run also waits for every process the launcher started (the installer, the
  // application, their helpers) to end, so that all they wrote is complete and whatever they did
  // not do can no longer happen. Off only for a test that must act while a helper still runs.
  bool wait_for_everything_started = true;
};

// Starts the program with CreateProcessW as the shell or a script would, waits for it (and, as
// the options say, for everything it started), and gives its exit code and everything it wrote.
// A launch that does not end in time fails the test (the process and everything it started are
// ended) and gives exit code 0xFFFFFFFF.
RunResult run_program(const LaunchOptions& options, const std::filesystem::path& scratch);

// True when no run_program is going on and every run of this test so far ended with everything
// its program started (everything_ended), and no test code started a launcher otherwise: nothing a
// launcher started can write a record any more.
bool launched_processes_ended();

// For a test that starts a launcher itself: what that launcher starts is not followed.
void note_processes_outside_runs();

// A record another process writes: waited for by the one rule of all suites.
using test_common::wait_for_file;

std::optional<std::string> read_file(const std::filesystem::path& path);
bool write_file(const std::filesystem::path& path, const std::string& bytes);

// key=value lines of a record written by the demo application or the stand-in installer.
std::map<std::string, std::string> parse_record(const std::string& text);
std::map<std::string, std::string> read_record(const std::filesystem::path& path);

// The path with the verbatim prefix \\?\, which file calls take beyond 260 characters.
std::wstring verbatim(const std::filesystem::path& path);

// Creates the folder and every missing folder above it; true when it exists afterwards.
bool make_folders(const std::filesystem::path& folder);

// The running test's suite and name, usable as a folder name.
std::string current_test_name();

// A fresh, empty folder for one test: <scratch root>\<name>. The root is a fixed folder of the
// test's own Wine prefix (C:\brevlo-e2e, say), not a folder of the checkout.
std::filesystem::path fresh_folder(const std::string& name);

// The WebView2 runtime's registration ("pv" under the EdgeUpdate client key of HKLM), set as a
// test needs it and put back as it was when the object ends.
class RuntimeRegistration {
 public:
  explicit RuntimeRegistration(bool registered);
  ~RuntimeRegistration();
  RuntimeRegistration(const RuntimeRegistration&) = delete;
  RuntimeRegistration& operator=(const RuntimeRegistration&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
  bool value_existed_ = false;
  DWORD old_type_ = 0;
  std::vector<std::uint8_t> old_data_;
  std::vector<std::wstring> created_keys_;  // deepest last
};

// True when running under Wine.
bool under_wine();

namespace fs = std::filesystem;

// A scratch machine for one test: a fresh folder holding LOCALAPPDATA ("local"), the working
// folder ("cwd") and TEMP ("temp"), given to the launcher with a mark in BREVLO_TEST_MARK that
// the started application records. The application's place is local\Ostrevan\Ostrevan.exe.
// Each fixture picks the launcher and changes what it is about.
class ScratchMachine : public ::testing::Test {
 protected:
  // The folder is <scratch root>\<group><test name>; TEMP is made only when make_temp is set.
  void make_machine(const std::string& group, const std::string& mark, bool make_temp);

  // A test that passed leaves nothing behind; a failed one leaves its folder to be looked at
  // (the next run starts it afresh).
  void TearDown() override;

  // The launcher around the stand-in installer, told to install nothing and end with 0.
  void use_stand_in(const std::string& launcher);

  // The stand-in installer's image, as the launcher embeds it, in image_.
  void read_image();

  // The temporary folder the launcher is given, in TMP and TEMP alike, made or not.
  void use_temp(const fs::path& temp, bool create = false);

  // Puts the demo application at the given path.
  void place_app(const fs::path& exe);

  // What this system answers when asked to start the folder at path as a program: the start
  // fails, and code is its error.
  void folder_start_error(const fs::path& path, DWORD& code);

  std::string extracting_line() const;

  // Standard output of a run up to the start of the installer.
  std::string out_until_installer(bool silent = false) const;

  // The command line the stand-in installer received, or a note that it did not run. Asked after
  // the launcher ended, which had waited for the installer.
  std::string installer_command_line() const;

  // The application at exe was not started. Decided once the launcher and everything it started
  // have ended (the run waited for them), when no start can come any more.
  void expect_app_not_run(const RunResult& run, const fs::path& exe);

  // The application at exe ran once, with the given command line, in the given working folder
  // and with the launcher's environment (its record is waited for).
  void expect_app_ran(const fs::path& exe, const std::wstring& command_line,
                      const std::wstring& cwd);
  // ... in the launcher's working folder.
  void expect_app_ran(const fs::path& exe, const std::wstring& command_line);
  // ... started by its quoted path alone.
  void expect_app_ran(const fs::path& exe);
  // The application at its own place.
  void expect_app_ran();

  fs::path folder_;
  fs::path local_;
  fs::path temp_;
  fs::path cwd_;
  fs::path installer_;
  fs::path app_;
  std::string mark_;
  std::string image_;
  LaunchOptions options_;
};

}  // namespace brevlo::e2e
