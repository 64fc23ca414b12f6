// The launcher on a machine without the application: it writes its installer to the temporary
// folder, runs it, reports, starts the application and removes the file. The real demo installer
// runs only silently (runtime registered); every other case runs a launcher whose image is the
// stand-in installer, which records its command line and ends as it is told.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <future>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <string>

#include "e2e_support.hpp"

#include <imagehlp.h>  // after <windows.h>

namespace brevlo::e2e {
namespace {

class InstallTest : public ScratchMachine {
 protected:
  void SetUp() override {
    make_machine("install/", "mark " + current_test_name(), true);
    use_stand_in(BREVLO_E2E_STANDIN_LAUNCHER);
    read_image();
  }

  void stand_in(const wchar_t* exit_code, bool installs) {
    stand_in(exit_code, installs ? L"1" : L"0");
  }
  // how: "1" installs the application, "dir" puts a folder in its place, "0" nothing.
  void stand_in(const wchar_t* exit_code, const wchar_t* how) {
    options_.environment.set(L"BREVLO_STANDIN_EXIT", exit_code);
    options_.environment.set(L"BREVLO_STANDIN_INSTALL", how);
  }
};

// --- the real demo installer, silently -------------------------------------------------------

TEST_F(InstallTest, FirstRunInstallsAndStartsThenTheSecondRunLaunches) {
#ifndef BREVLO_E2E_DEMO_INSTALLER
  GTEST_SKIP() << "the launcher embeds a publisher's installer, not the demo one";
#else
  RuntimeRegistration runtime(true);
  ASSERT_TRUE(runtime.ok());
  options_.program = windows_path(BREVLO_E2E_LAUNCHER);

  const RunResult first = run_program(options_, folder_);
  EXPECT_EQ(first.out, out_until_installer(true) + kInstalled + kStartingNew + kAppStarted);
  EXPECT_EQ(first.err, "");
  EXPECT_EQ(first.exit_code, kExitStarted);
  EXPECT_FALSE(fs::exists(installer_)) << "setup_temp.exe was left behind";
  EXPECT_EQ(read_file(app_), read_file(windows_path(BREVLO_E2E_DEMO_APP)))
      << "the installed application is not the demo application";
  expect_app_ran();

  fs::remove(app_.parent_path() / L"ostrevan-run.txt");
  const RunResult second = run_program(options_, folder_);
  EXPECT_EQ(second.out, std::string(kProbeTrue) + kFoundInstalled + kAppStarted);
  EXPECT_EQ(second.err, "");
  EXPECT_EQ(second.exit_code, kExitStarted);
  EXPECT_FALSE(fs::exists(installer_));
  expect_app_ran();
#endif
}

// --- runtime registered or not: "/S" or no argument ----------------------------------------

// Each packed launcher around the stand-in installer runs the same transcript: branding and a
// signature change nothing the launcher does or prints.
struct SilentCase {
  const char* name;
  bool registered;
  const char* launcher;
};

void PrintTo(const SilentCase& c, std::ostream* os) { *os << c.name; }

class InstallerArguments : public InstallTest, public ::testing::WithParamInterface<SilentCase> {};

TEST_P(InstallerArguments, InstallsStartsAndRemovesTheFile) {
  use_stand_in(GetParam().launcher);
  RuntimeRegistration runtime(GetParam().registered);
  ASSERT_TRUE(runtime.ok());
  stand_in(L"0", true);
  const RunResult run = run_program(options_, folder_);
  const bool silent = GetParam().registered;
  EXPECT_EQ(run.out, out_until_installer(silent) + kInstalled + kStartingNew + kAppStarted);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_code, kExitStarted);
  const std::string quoted = narrow(L"\"" + installer_.wstring() + L"\"");
  EXPECT_EQ(installer_command_line(), silent ? quoted + " /S" : quoted);
  EXPECT_FALSE(fs::exists(installer_)) << "setup_temp.exe was left behind";
  expect_app_ran();
}

INSTANTIATE_TEST_SUITE_P(Runtime, InstallerArguments,
                         ::testing::Values(
                             SilentCase{"Registered", true, BREVLO_E2E_STANDIN_LAUNCHER},
                             SilentCase{"NotRegistered", false, BREVLO_E2E_STANDIN_LAUNCHER},
                             SilentCase{"BrandedNotRegistered", false, BREVLO_E2E_BRANDED_LAUNCHER},
                             SilentCase{"SignedRegistered", true, BREVLO_E2E_SIGNED_LAUNCHER},
                             SilentCase{"ReportOptionsNotRegistered", false,
                                        BREVLO_E2E_REPORT_LAUNCHER},
                             SilentCase{"Installer256MiBRegistered", true,
                                        BREVLO_E2E_LARGE_LAUNCHER}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- the installer fails -------------------------------------------------------------------

struct ExitCase {
  const char* name;
  const wchar_t* exit_code;
  const char* shown;
};

void PrintTo(const ExitCase& c, std::ostream* os) { *os << c.name; }

class InstallerExitCode : public InstallTest, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(InstallerExitCode, IsReportedAndTheFileStays) {
  RuntimeRegistration runtime(false);
  ASSERT_TRUE(runtime.ok());
  stand_in(GetParam().exit_code, false);
  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.out, out_until_installer(false));
  EXPECT_EQ(run.err, std::string(kInstallFailed) + kInstallerError + GetParam().shown + "\n");
  EXPECT_EQ(run.exit_code, kExitFailureReported);
  // The file stays, whole: byte for byte the embedded image.
  const auto written = read_file(installer_);
  ASSERT_TRUE(written.has_value()) << "setup_temp.exe is gone after a failed installation";
  EXPECT_EQ(written->size(), image_.size());
  EXPECT_TRUE(*written == image_) << "setup_temp.exe differs from the embedded image";
  expect_app_not_run(run, app_);
}

INSTANTIATE_TEST_SUITE_P(
    NonZero, InstallerExitCode,
    ::testing::Values(ExitCase{"One", L"1", "Some(1)"}, ExitCase{"Two", L"2", "Some(2)"},
                      ExitCase{"AllBitsSet", L"0xFFFFFFFF", "Some(-1)"},
                      ExitCase{"AccessViolation", L"0xC0000005", "Some(-1073741819)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(InstallTest, SuccessWithoutTheApplicationWarns) {
  RuntimeRegistration runtime(false);
  ASSERT_TRUE(runtime.ok());
  stand_in(L"0", false);
  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.out, out_until_installer(false) + kInstalled);
  EXPECT_EQ(run.err, std::string(kAppMissing) + quoted_path(app_.wstring()) + "\n");
  EXPECT_EQ(run.exit_code, kExitFailureReported);
  EXPECT_FALSE(fs::exists(installer_)) << "setup_temp.exe was left behind";
}

TEST_F(InstallTest, SuccessWithAFolderInPlaceOfTheApplication) {
  RuntimeRegistration runtime(false);
  ASSERT_TRUE(runtime.ok());
  stand_in(L"0", L"dir");
  const RunResult run = run_program(options_, folder_);
  ASSERT_TRUE(fs::is_directory(app_)) << "the stand-in made no folder at the application path";
  DWORD code = 0;
  ASSERT_NO_FATAL_FAILURE(folder_start_error(app_, code));

  EXPECT_EQ(run.out, out_until_installer(false) + kInstalled + kStartingNew);
  EXPECT_EQ(run.err, std::string(kLaunchFailed) + system_error_text(code) +
                         "。路径: " + quoted_path(app_.wstring()) + "\n");
  EXPECT_EQ(run.exit_code, kExitFailureReported);
  EXPECT_FALSE(fs::exists(installer_)) << "setup_temp.exe was left behind";
}

// The installer may leave its own file read-only. Where the file system deletes with POSIX
// semantics, ignoring the attribute, the removal still takes the file away; elsewhere the removal
// fails with the plain deletion's error, which is only warned about: the application was started.
TEST_F(InstallTest, ReadOnlyInstallerFileAtRemoval) {
  RuntimeRegistration runtime(false);
  ASSERT_TRUE(runtime.ok());
  // What this system does with a read-only file: plain deletion, then the POSIX-semantics one.
  const fs::path sample = temp_ / L"read-only sample";
  ASSERT_TRUE(write_file(sample, "sample"));
  ASSERT_TRUE(SetFileAttributesW(sample.c_str(), FILE_ATTRIBUTE_READONLY));
  const bool plain_delete = DeleteFileW(sample.c_str()) != 0;
  const DWORD plain_error = GetLastError();
  bool posix_delete = false;
  if (!plain_delete && plain_error == ERROR_ACCESS_DENIED) {
    HANDLE file = CreateFileW(sample.c_str(), DELETE, 7, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      ULONG flags = 0x13;  // delete, POSIX semantics, ignore the read-only attribute
      posix_delete = SetFileInformationByHandle(file, static_cast<FILE_INFO_BY_HANDLE_CLASS>(21),
                                                &flags, sizeof flags) != 0;
      CloseHandle(file);
    }
  }
  SetFileAttributesW(sample.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(sample.c_str());

  stand_in(L"0", true);
  options_.environment.set(L"BREVLO_STANDIN_READONLY", L"1");
  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.out, out_until_installer(false) + kInstalled + kStartingNew + kAppStarted);
  EXPECT_EQ(run.exit_code, kExitStarted);
  expect_app_ran();
  ASSERT_NE(installer_command_line(), "<the installer did not run>");
  if (plain_delete || posix_delete) {
    EXPECT_EQ(run.err, "");
    EXPECT_FALSE(fs::exists(installer_)) << "the read-only setup_temp.exe was left behind";
  } else {
    EXPECT_EQ(run.err, std::string(kCannotRemove) + quoted_path(installer_.wstring()) + ": " +
                           system_error_text(plain_error) + "\n");
    EXPECT_TRUE(fs::exists(installer_));
  }
}

// --- the installer file and the temporary folder -------------------------------------------

TEST_F(InstallTest, LongerLeftoverIsOverwrittenWithNothingBehind) {
  RuntimeRegistration runtime(false);
  ASSERT_TRUE(runtime.ok());
  ASSERT_TRUE(write_file(installer_, std::string(image_.size() + 65536, 'x')));
  stand_in(L"1", false);
  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.out, out_until_installer(false));
  EXPECT_EQ(run.exit_code, kExitFailureReported);
  const auto written = read_file(installer_);
  ASSERT_TRUE(written.has_value());
  EXPECT_EQ(written->size(), image_.size());
  EXPECT_TRUE(*written == image_) << "setup_temp.exe differs from the embedded image";
}

TEST_F(InstallTest, ReadOnlyLeftoverFailsWithAccessDenied) {
  RuntimeRegistration runtime(false);
  ASSERT_TRUE(runtime.ok());
  const std::string old = "an older installer";
  ASSERT_TRUE(write_file(installer_, old));
  ASSERT_TRUE(SetFileAttributesW(installer_.c_str(), FILE_ATTRIBUTE_READONLY));
  HANDLE writable =
      CreateFileW(installer_.c_str(), GENERIC_WRITE, 7, nullptr, OPEN_EXISTING, 0, nullptr);
  if (writable != INVALID_HANDLE_VALUE) {
    CloseHandle(writable);
    GTEST_SKIP() << "this system opens a read-only file for writing (Wine running as root "
                    "ignores the read-only attribute)";
  }
  stand_in(L"0", true);
  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.out, std::string(kProbeFalse) + kNotInstalled + extracting_line());
  EXPECT_EQ(run.err, std::string(kInstallFailed) + system_error_text(ERROR_ACCESS_DENIED) + "\n");
  EXPECT_EQ(run.exit_code, kExitFailureReported);
  EXPECT_EQ(read_file(installer_), old);
  EXPECT_EQ(installer_command_line(), "<the installer did not run>");
}

TEST_F(InstallTest, HiddenLeftoverIsOverwrittenAndStaysHidden) {
  RuntimeRegistration runtime(false);
  ASSERT_TRUE(runtime.ok());
  ASSERT_TRUE(write_file(installer_, std::string(100, 'x')));
  ASSERT_TRUE(SetFileAttributesW(installer_.c_str(), FILE_ATTRIBUTE_HIDDEN));
  if ((GetFileAttributesW(installer_.c_str()) & FILE_ATTRIBUTE_HIDDEN) == 0) {
    GTEST_SKIP() << "this file system does not keep the hidden attribute";
  }
  stand_in(L"1", false);
  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.out, out_until_installer(false));
  EXPECT_EQ(run.exit_code, kExitFailureReported);
  EXPECT_TRUE(read_file(installer_) == image_) << "setup_temp.exe differs from the embedded image";
  EXPECT_NE(GetFileAttributesW(installer_.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u)
      << "setup_temp.exe lost its hidden attribute";
}

TEST_F(InstallTest, MissingTemporaryFolderWritesNothing) {
  RuntimeRegistration runtime(false);
  ASSERT_TRUE(runtime.ok());
  use_temp(folder_ / L"no such folder", false);
  stand_in(L"0", true);
  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.out, std::string(kProbeFalse) + kNotInstalled + extracting_line());
  EXPECT_EQ(run.err, std::string(kInstallFailed) + system_error_text(ERROR_PATH_NOT_FOUND) + "\n");
  EXPECT_EQ(run.exit_code, kExitFailureReported);
  EXPECT_FALSE(fs::exists(temp_));
  EXPECT_FALSE(fs::exists(app_));
}

TEST_F(InstallTest, TemporaryFolderWithASingleQuote) {
  RuntimeRegistration runtime(false);
  ASSERT_TRUE(runtime.ok());
  use_temp(folder_ / L"player's temp", true);
  stand_in(L"0", true);
  const RunResult run = run_program(options_, folder_);
  EXPECT_NE(extracting_line().find("player\\'s temp\\\\setup_temp.exe\""), std::string::npos);
  EXPECT_EQ(run.out, out_until_installer(false) + kInstalled + kStartingNew + kAppStarted);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_code, kExitStarted);
  EXPECT_FALSE(fs::exists(installer_));
  expect_app_ran();
}

// A copy of the launcher with one byte of a section changed (or the options section renamed away)
// and its PE checksum made right again, so that only the image's digest and the options section
// tell the difference: a damaged image or options section writes and runs nothing.
struct DamageCase {
  const char* name;
  const char* section;
  // The byte changed, from the section's size; nothing to rename the section instead.
  std::optional<std::size_t> (*byte)(std::size_t size);
};

void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.name; }

class DamagedLauncher : public InstallTest, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(DamagedLauncher, WritesAndRunsNothing) {
  RuntimeRegistration runtime(true);
  ASSERT_TRUE(runtime.ok());
  std::string bytes = read_file(options_.program).value_or("");
  ASSERT_FALSE(bytes.empty()) << "the stand-in launcher is missing";
  auto* base = reinterpret_cast<std::uint8_t*>(bytes.data());
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
  IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  IMAGE_SECTION_HEADER* damaged_section = nullptr;
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
    if (std::strncmp(reinterpret_cast<const char*>(section->Name), GetParam().section, 8) == 0) {
      damaged_section = section;
    }
  }
  ASSERT_NE(damaged_section, nullptr);
  if (const auto at = GetParam().byte(damaged_section->Misc.VirtualSize)) {
    base[damaged_section->PointerToRawData + *at] ^= 0x01;
  } else {
    std::memcpy(damaged_section->Name, ".brvxxx", 8);
  }
  DWORD old_sum = 0;
  DWORD new_sum = 0;
  nt->OptionalHeader.CheckSum = 0;
  ASSERT_NE(CheckSumMappedFile(base, static_cast<DWORD>(bytes.size()), &old_sum, &new_sum),
            nullptr);
  nt->OptionalHeader.CheckSum = new_sum;
  const fs::path damaged = folder_ / L"damaged.exe";
  ASSERT_TRUE(write_file(damaged, bytes));
  options_.program = damaged.wstring();
  stand_in(L"0", true);

  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.out, std::string(kProbeTrue) + kNotInstalled);
  EXPECT_EQ(run.err, "安装包已损坏，请重新下载启动器。\n");
  EXPECT_EQ(run.exit_code, kExitFailureReported);
  EXPECT_FALSE(fs::exists(installer_)) << "setup_temp.exe was left behind";
  EXPECT_EQ(installer_command_line(), "<the installer did not run>");
  EXPECT_FALSE(fs::exists(app_));
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DamagedLauncher,
    ::testing::Values(
        DamageCase{"ImageFirstByte", ".brvimg",
                   [](std::size_t) { return std::optional<std::size_t>(0); }},
        DamageCase{"ImageMiddleByte", ".brvimg",
                   [](std::size_t size) { return std::optional(size / 2); }},
        DamageCase{"ImageLastByte", ".brvimg",
                   [](std::size_t size) { return std::optional(size - 1); }},
        // The mark's last byte is one of the NULs after "brevlo-opts/2".
        DamageCase{"OptionsMarkLastByte", ".brvopt",
                   [](std::size_t) { return std::optional<std::size_t>(15); }},
        DamageCase{"OptionsDigestLastByte", ".brvopt",
                   [](std::size_t size) { return std::optional(size - 1); }},
        DamageCase{"OptionsSectionMissing", ".brvopt",
                   [](std::size_t) { return std::optional<std::size_t>(); }}),
    [](const auto& info) { return std::string(info.param.name); });

// --- two launchers at once -------------------------------------------------------------------

// The install lock of the product Ostrevan (its name hashes the product name).
constexpr const wchar_t* kOstrevanInstallLock = L"Local\\brevlo-install-79511b4cd496c279";

class TwoLaunchers : public InstallTest {
 protected:
  void SetUp() override {
    InstallTest::SetUp();
    stand_in(L"0", true);
    options_.environment.set(L"BREVLO_STANDIN_COUNT", L"1");
  }

  // The run in a folder of its own for the launcher's output files.
  std::future<RunResult> start(const LaunchOptions& options, const wchar_t* name) {
    const fs::path scratch = folder_ / name;
    fs::create_directories(scratch);
    return std::async(std::launch::async, [options, scratch] { return run_program(options, scratch); });
  }

  std::string installed() const {
    return out_until_installer(false) + kInstalled + kStartingNew + kAppStarted;
  }
  static std::string launched() { return std::string(kProbeFalse) + kFoundInstalled + kAppStarted; }
};

TEST_F(TwoLaunchers, StartedTogetherInstallOnceAndBothStartTheGame) {
  RuntimeRegistration runtime(false);
  ASSERT_TRUE(runtime.ok());
  // The installer takes a few seconds before the game is in place.
  options_.environment.set(L"BREVLO_STANDIN_DELAY", L"3000");
  auto first = start(options_, L"first");
  auto second = start(options_, L"second");
  const RunResult a = first.get();
  const RunResult b = second.get();
  EXPECT_EQ((std::multiset<std::string>{a.out, b.out}),
            (std::multiset<std::string>{installed(), launched()}));
  EXPECT_EQ(a.err + b.err, "");
  EXPECT_EQ(a.exit_code, kExitStarted);
  EXPECT_EQ(b.exit_code, kExitStarted);
  EXPECT_EQ(read_file(temp_ / L"standin-runs.txt"), "run\n") << "the installer ran more than once";
  EXPECT_FALSE(fs::exists(installer_));
  expect_app_ran();
}

TEST_F(TwoLaunchers, AWaiterTakesOverFromAHolderThatWasKilled) {
  RuntimeRegistration runtime(false);
  ASSERT_TRUE(runtime.ok());
  // The holder: its installer never gets as far as installing.
  LaunchOptions holder = options_;
  holder.environment.set(L"BREVLO_STANDIN_DELAY", L"600000");
  std::wstring command_line = L"\"" + holder.program + L"\"";
  std::wstring environment = holder.environment.block();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;  // no standard handles: the holder prints nowhere
  PROCESS_INFORMATION info{};
  ASSERT_TRUE(CreateProcessW(holder.program.c_str(), command_line.data(), nullptr, nullptr, FALSE,
                             CREATE_UNICODE_ENVIRONMENT, environment.data(), nullptr, &startup,
                             &info));
  const auto close = [](HANDLE h) { CloseHandle(h); };
  const std::unique_ptr<void, decltype(close)> holder_process(info.hProcess, close);
  const std::unique_ptr<void, decltype(close)> holder_thread(info.hThread, close);
  // The stand-in recorded its start: the holder holds the lock and waits for its installer.
  const fs::path record = temp_ / L"standin-run.txt";
  ASSERT_TRUE(wait_for_file(record)) << "the holder's installer did not start";
  const DWORD stand_in_id = std::stoul(read_record(record)["pid"]);
  const std::unique_ptr<void, decltype(close)> stand_in(
      OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, stand_in_id), close);
  ASSERT_NE(stand_in.get(), nullptr) << GetLastError();
  // The test keeps the lock object alive, so the holder's end leaves it abandoned whenever the
  // waiter comes to it, never gone: the waiter must take an abandoned lock.
  const std::unique_ptr<void, decltype(close)> lock(
      OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kOstrevanInstallLock), close);
  ASSERT_NE(lock.get(), nullptr) << GetLastError();
  // The waiter's installer records whether the lock is held while it runs.
  options_.environment.set(L"BREVLO_STANDIN_LOCK", kOstrevanInstallLock);

  auto waiter = start(options_, L"waiter");
  // The holder dies mid-install without giving the lock back; its installer goes first, so that
  // nothing holds setup_temp.exe once the lock is free.
  ASSERT_NE(SuspendThread(info.hThread), static_cast<DWORD>(-1));
  ASSERT_TRUE(TerminateProcess(stand_in.get(), 1));
  ASSERT_EQ(WaitForSingleObject(stand_in.get(), 60000), WAIT_OBJECT_0);
  ASSERT_TRUE(TerminateProcess(info.hProcess, 1));
  ASSERT_EQ(WaitForSingleObject(info.hProcess, 60000), WAIT_OBJECT_0);

  const RunResult run = waiter.get();
  EXPECT_EQ(run.out, installed());
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_code, kExitStarted);
  EXPECT_EQ(read_file(temp_ / L"standin-runs.txt"), "run\nrun\n");
  EXPECT_EQ(read_file(temp_ / L"standin-lock.txt"), "held") << "the waiter installed without the lock";
  // Taken as its own, the lock was given back at the waiter's end, not abandoned a second time.
  const DWORD after = WaitForSingleObject(lock.get(), 0);
  EXPECT_EQ(after, static_cast<DWORD>(WAIT_OBJECT_0)) << "the waiter did not give the lock back";
  if (after == WAIT_OBJECT_0 || after == WAIT_ABANDONED) ReleaseMutex(lock.get());
  EXPECT_FALSE(fs::exists(installer_));
  expect_app_ran();
}

// --- the support log ---------------------------------------------------------------------------

class SupportLog : public InstallTest {
 protected:
  void SetUp() override {
    InstallTest::SetUp();
    use_stand_in(BREVLO_E2E_REPORT_LAUNCHER);
    stand_in(L"0", true);
    log_ = temp_ / L"Ostrevan-launcher.log";
  }

  // A run's block as the launcher writes it, its time shown as TIME.
  std::string block(const RunResult& run, DWORD status) const {
    return "== brevlo " BREVLO_VERSION_TEXT " run at TIME: " + quoted_command_line() + "\n" +
           run.out + run.err + "== exit status " + std::to_string(status) + "\n";
  }
  std::string quoted_command_line() const { return narrow(L"\"" + options_.program + L"\""); }

  // The log with each run's time masked.
  std::string masked_log() const {
    static const std::regex time(R"(run at \d{4}-\d\d-\d\d \d\d:\d\d:\d\d: )");
    return std::regex_replace(read_file(log_).value_or("<no log>"), time, "run at TIME: ");
  }

  fs::path log_;
};

TEST_F(SupportLog, EachRunAppendsItsLinesAndStatusAFatalStopIncluded) {
  RuntimeRegistration runtime(false);
  ASSERT_TRUE(runtime.ok());
  const RunResult install = run_program(options_, folder_);
  EXPECT_EQ(install.out, out_until_installer(false) + kInstalled + kStartingNew + kAppStarted);
  EXPECT_EQ(install.exit_code, kExitStarted);
  const RunResult launch = run_program(options_, folder_);
  EXPECT_EQ(launch.out, std::string(kProbeFalse) + kFoundInstalled + kAppStarted);
  EXPECT_EQ(launch.exit_code, kExitStarted);
  LaunchOptions stopping = options_;
  stopping.environment.unset(L"LOCALAPPDATA");
  const RunResult stop = run_program(stopping, folder_);
  EXPECT_EQ(stop.exit_code, kExitFatalStop);
  EXPECT_EQ(stop.err, "\nthread 'main' panicked at " +
                          location_of("src/main/launch.cpp", "(env.installed_application_path") +
                          ":\n" + kLocalAppDataContext +
                          ": NotPresent\nnote: run with `BREVLO_BACKTRACE=1` environment variable "
                          "to display a backtrace\n");
  EXPECT_EQ(masked_log(), block(install, 0) + block(launch, 0) + block(stop, 101));
}

TEST_F(SupportLog, OldestRunsAreDroppedWholeToKeepIt64KiB) {
  RuntimeRegistration runtime(false);
  ASSERT_TRUE(runtime.ok());
  const auto old_run = [](char fill, std::size_t size) {
    std::string run = "== brevlo 0.0.1 run at TIME: old\n";
    const std::string end = "== exit status 1\n";
    while (run.size() + end.size() < size) {
      run += std::string(std::min<std::size_t>(99, size - run.size() - end.size() - 1), fill) + "\n";
    }
    return run + end;
  };
  const std::string oldest = old_run('a', 41000);
  const std::string older = old_run('b', 24400);
  ASSERT_EQ(oldest.size() + older.size(), 65400u);
  ASSERT_TRUE(write_file(log_, oldest + older));
  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.exit_code, kExitStarted);
  // 65400 bytes and this run's are more than 65536: the oldest run goes, all of it.
  const std::string want = older + block(run, 0);
  EXPECT_EQ(masked_log(), want);
  EXPECT_LE(read_file(log_).value_or("").size(), 65536u);
}

TEST_F(SupportLog, ALogThatCannotBeWrittenChangesNothing) {
  RuntimeRegistration runtime(false);
  ASSERT_TRUE(runtime.ok());
  fs::create_directories(log_);  // a folder where the file would be
  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.out, out_until_installer(false) + kInstalled + kStartingNew + kAppStarted);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_code, kExitStarted);
  EXPECT_TRUE(fs::is_directory(log_));
  expect_app_ran();
}

}  // namespace
}  // namespace brevlo::e2e
