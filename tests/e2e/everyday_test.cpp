// The launcher started as real callers start it, with the application already installed: what
// it prints, how it ends, and what the started application receives.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e_support.hpp"

namespace brevlo::e2e {
namespace {

const std::string kEverydayOut = std::string(kProbeFalse) + kFoundInstalled + kAppStarted;

// A scratch machine: LOCALAPPDATA, TEMP and a working folder of its own, the runtime not
// registered, and the launcher to start. TEMP names a folder that does not exist: should a run
// wrongly go to the installer, the embedded installer cannot even be written, so it never starts
// with its user interface.
class LauncherTest : public ScratchMachine {
 protected:
  void SetUp() override {
    make_machine("everyday/", "mark " + current_test_name() + " ✓", false);
    options_.program = windows_path(BREVLO_E2E_LAUNCHER);
  }

  // Puts the demo application at <base>\Ostrevan\Ostrevan.exe and gives its path.
  fs::path install_app(const fs::path& base) {
    const fs::path dir = base / L"Ostrevan";
    EXPECT_TRUE(make_folders(dir)) << narrow(dir.wstring());
    const fs::path exe = dir / L"Ostrevan.exe";
    EXPECT_TRUE(CopyFileW(windows_path(BREVLO_E2E_DEMO_APP).c_str(), verbatim(exe).c_str(), FALSE))
        << narrow(exe.wstring()) << ": " << GetLastError();
    return exe;
  }

  // A run on the everyday path: the three lines, nothing on standard error, and the status of a
  // started application.
  void expect_everyday_run(const RunResult& run) {
    EXPECT_EQ(run.out, kEverydayOut);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exit_code, kExitStarted);
  }

  // The everyday path never writes the installer out.
  void expect_temp_untouched() {
    EXPECT_FALSE(fs::exists(temp_)) << narrow(temp_.wstring()) << " was made";
  }

  // The location is that of the LOCALAPPDATA check in the launch sequence, as the compiler
  // records the call: GCC places it at the call's opening parenthesis.
  std::string fatal_report_head(const std::string& message) {
    return "\nthread 'main' panicked at " +
           location_of("src/main/launch.cpp", "(env.installed_application_path") + ":\n" + message +
           "\n";
  }

  // The whole report of a fatal stop: its head, then exactly one note line.
  void expect_fatal_report(const std::string& err, const std::string& message) {
    const std::string head = fatal_report_head(message);
    ASSERT_EQ(err.substr(0, head.size()), head) << "whole stderr: " << err;
    const std::string note = err.substr(head.size());
    EXPECT_EQ(note.rfind("note: ", 0), 0u) << "whole stderr: " << err;
    EXPECT_EQ(note.find('\n'), note.size() - 1) << "whole stderr: " << err;
  }

  RuntimeRegistration runtime_{false};
};

// --- the standard handles -------------------------------------------------------------------

struct HandlesCase {
  const char* name;
  Handles handles;
};

void PrintTo(const HandlesCase& c, std::ostream* os) { *os << c.name; }

class EverydayHandles : public LauncherTest, public ::testing::WithParamInterface<HandlesCase> {};

TEST_P(EverydayHandles, PrintsTheThreeLinesAndStartsTheApplication) {
  const fs::path exe = install_app(local_);
  options_.handles = GetParam().handles;
  const RunResult run = run_program(options_, folder_);
  expect_everyday_run(run);
  // The run waited for the application it started, whose record is there already.
  EXPECT_TRUE(run.everything_ended);
  EXPECT_TRUE(fs::exists(exe.parent_path() / L"ostrevan-run.txt"))
      << "the run returned before the started application had ended";
  expect_app_ran(exe);
  expect_temp_untouched();
}

INSTANTIATE_TEST_SUITE_P(Redirected, EverydayHandles,
                         ::testing::Values(HandlesCase{"Files", Handles::Files},
                                           HandlesCase{"Pipes", Handles::Pipes}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LauncherTest, ArgumentsAreIgnored) {
  const fs::path exe = install_app(local_);
  options_.arguments = L"--install /S \"C:\\other place\"";
  const RunResult run = run_program(options_, folder_);
  expect_everyday_run(run);
  expect_app_ran(exe);
}

// The stub as built, before brevlo-pack gave it a game.json: it reads an empty document and stops.
TEST_F(LauncherTest, BareStubStopsOnItsEmptyDocument) {
  options_.program = windows_path(BREVLO_E2E_STUB);
  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.out, kProbeFalse);
  EXPECT_EQ(run.err,
            "\nthread 'main' panicked at " +
                location_of("src/core/config/embedded_config_win.cpp",
                            "(parse_game_config(embedded_game_config") +
                ":\n无法解析 game.json: Error(\"EOF while parsing a value\", line: 1, column: 0)\n"
                "note: run with `BREVLO_BACKTRACE=1` environment variable to display a backtrace\n");
  EXPECT_EQ(run.exit_code, kExitFatalStop);
  expect_temp_untouched();
}

// Started from the shell: no handles at all. Nothing can be shown, so only the exit status and
// the files in the scratch machine tell what happened.
struct NoHandlesCase {
  const char* name;
  DWORD exit_code;
};

void PrintTo(const NoHandlesCase& c, std::ostream* os) { *os << c.name; }

class WithoutHandles : public LauncherTest, public ::testing::WithParamInterface<NoHandlesCase> {};

TEST_P(WithoutHandles, EndsWithTheRightStatusAndWritesNothing) {
  const std::string which = GetParam().name;
  fs::path exe = local_ / L"Ostrevan" / L"Ostrevan.exe";
  if (which == "Started") exe = install_app(local_);
  if (which == "LaunchFails") fs::create_directories(exe);
  if (which == "FatalStop") options_.environment.unset(L"LOCALAPPDATA");
  options_.handles = Handles::None;

  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.exit_code, GetParam().exit_code);
  if (which == "Started") expect_app_ran(exe);

  // Only what the test made (and the application's record) is in the scratch machine.
  std::vector<std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(folder_)) {
    found.push_back(narrow(fs::relative(entry.path(), folder_).wstring()));
  }
  std::vector<std::string> expected = {"cwd", "local"};
  if (which != "FatalStop") expected.push_back("local\\Ostrevan");
  if (which == "Started") {
    expected.push_back("local\\Ostrevan\\Ostrevan.exe");
    expected.push_back("local\\Ostrevan\\ostrevan-run.txt");
  }
  if (which == "LaunchFails") expected.push_back("local\\Ostrevan\\Ostrevan.exe");
  std::sort(found.begin(), found.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(found, expected);
}

INSTANTIATE_TEST_SUITE_P(NoStandardHandles, WithoutHandles,
                         ::testing::Values(NoHandlesCase{"Started", kExitStarted},
                                           NoHandlesCase{"LaunchFails", kExitFailureReported},
                                           NoHandlesCase{"FatalStop", kExitFatalStop}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LauncherTest, ClosedStdoutPipeIsAFatalStop) {
  install_app(local_);
  // What this system answers to a write into a pipe that nobody reads any more.
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  ASSERT_TRUE(CreatePipe(&read_end, &write_end, nullptr, 0));
  CloseHandle(read_end);
  DWORD written = 0;
  ASSERT_FALSE(WriteFile(write_end, "x", 1, &written, nullptr));
  const DWORD code = GetLastError();
  CloseHandle(write_end);

  options_.handles = Handles::ClosedStdoutPipe;
  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.exit_code, kExitFatalStop);
  // The report: an empty line, the thread and the location, the message, the note.
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < run.err.size();) {
    const auto end = run.err.find('\n', start);
    lines.push_back(run.err.substr(start, end - start));
    start = end == std::string::npos ? run.err.size() : end + 1;
  }
  ASSERT_EQ(lines.size(), 4u) << "whole stderr: " << run.err;
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[1].rfind("thread 'main' panicked at src\\", 0), 0u) << lines[1];
  EXPECT_EQ(lines[1].back(), ':') << lines[1];
  EXPECT_EQ(lines[2], "failed printing to stdout: " + system_error_text(code));
  EXPECT_EQ(lines[3].rfind("note: ", 0), 0u) << lines[3];
  EXPECT_EQ(run.err.back(), '\n');
  // The probe line was the first print, so the run stopped before the application.
  expect_app_not_run(run, app_);
}

// A screen buffer of the console this process is attached to, usable for reading back; none
// when the console does not work.
HANDLE working_screen_buffer() {
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  HANDLE screen =
      CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                &sa, CONSOLE_TEXTMODE_BUFFER, nullptr);
  if (screen == INVALID_HANDLE_VALUE) return nullptr;
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(screen, &info)) {
    CloseHandle(screen);
    return nullptr;
  }
  return screen;
}

// A console as the standard handles: the lines arrive as text in the screen buffer. Wine has a
// working console when it runs in a terminal (CTest's e2e_console test runs this case so).
TEST_F(LauncherTest, WritesToAConsole) {
  // The console the test was started with, or else one of its own; the standard handles, which
  // AllocConsole replaces, are put back afterwards.
  struct Restore {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    bool allocated = false;
    ~Restore() {
      if (allocated) FreeConsole();
      SetStdHandle(STD_INPUT_HANDLE, in);
      SetStdHandle(STD_OUTPUT_HANDLE, out);
      SetStdHandle(STD_ERROR_HANDLE, err);
    }
  } restore;
  HANDLE screen = working_screen_buffer();
  if (screen == nullptr) {
    FreeConsole();
    restore.allocated = AllocConsole() != 0;
    if (restore.allocated) screen = working_screen_buffer();
  }
  if (screen == nullptr) {
    // Where the caller knows a console exists, its absence is a failure.
    const DWORD required = GetEnvironmentVariableW(L"BREVLO_E2E_REQUIRE_CONSOLE", nullptr, 0);
    ASSERT_EQ(required, 0u) << "no working console, though one was promised";
    GTEST_SKIP() << "this system gives the test no working console (Wine started outside a "
                    "terminal and without a display has no console host)";
  }
  struct CloseScreen {
    HANDLE screen;
    ~CloseScreen() { CloseHandle(screen); }
  } close_screen{screen};
  const fs::path exe = install_app(local_);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = screen;
  startup.hStdError = screen;
  std::wstring program = options_.program;
  std::wstring command_line = L"\"" + program + L"\"";
  std::wstring environment = options_.environment.block();
  PROCESS_INFORMATION info{};
  note_processes_outside_runs();
  ASSERT_TRUE(CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                             CREATE_UNICODE_ENVIRONMENT, environment.data(), cwd_.c_str(), &startup,
                             &info))
      << GetLastError();
  const DWORD waited = WaitForSingleObject(info.hProcess, test_time::limit_ms());
  if (waited != WAIT_OBJECT_0) TerminateProcess(info.hProcess, 0xFFFFFFFF);
  DWORD exit_code = 0;
  GetExitCodeProcess(info.hProcess, &exit_code);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  ASSERT_EQ(waited, WAIT_OBJECT_0) << "waited " << test_time::shown(test_time::limit())
                                   << " for the launcher to end";
  EXPECT_EQ(exit_code, kExitStarted);
  expect_app_ran(exe);

  CONSOLE_SCREEN_BUFFER_INFO buffer_info{};
  ASSERT_TRUE(GetConsoleScreenBufferInfo(screen, &buffer_info));
  const auto width = static_cast<std::size_t>(buffer_info.dwSize.X);
  std::vector<std::string> rows;
  for (SHORT y = 0; y < buffer_info.dwSize.Y; ++y) {
    std::wstring row(width, L' ');
    DWORD read = 0;
    ReadConsoleOutputCharacterW(screen, row.data(), static_cast<DWORD>(width), COORD{0, y}, &read);
    row.resize(read);
    while (!row.empty() && row.back() == L' ') row.pop_back();
    rows.push_back(narrow(row));
  }
  while (!rows.empty() && rows.back().empty()) rows.pop_back();
  // A screen row has no line end, and its trailing blanks cannot be told from empty cells.
  const std::vector<std::string> expected = {"🔍 WebView2 Runtime 安装状态: false",
                                             "🚀 发现已安装应用。正在启动...", "✅ 主程序启动成功。"};
  EXPECT_EQ(rows, expected);
}

// --- LOCALAPPDATA --------------------------------------------------------------------------

TEST_F(LauncherTest, PathWithSpacesAndCjkLetters) {
  const fs::path base = folder_ / L"Local Data 本地 數據";
  const fs::path exe = install_app(base);
  options_.environment.set(L"LOCALAPPDATA", base.wstring());
  const RunResult run = run_program(options_, folder_);
  expect_everyday_run(run);
  expect_app_ran(exe);
}

TEST_F(LauncherTest, LocalAppDataEndingInABackslash) {
  const fs::path exe = install_app(local_);
  options_.environment.set(L"LOCALAPPDATA", local_.wstring() + L"\\");
  const RunResult run = run_program(options_, folder_);
  expect_everyday_run(run);
  // One separator between the folder and the product, not two.
  expect_app_ran(exe);
}

TEST_F(LauncherTest, EmptyLocalAppDataIsTheWorkingFolder) {
  const fs::path exe = install_app(cwd_);
  options_.environment.set(L"LOCALAPPDATA", L"");
  const RunResult run = run_program(options_, folder_);
  expect_everyday_run(run);
  expect_app_ran(exe, L"\"Ostrevan\\Ostrevan.exe\"", cwd_.wstring());
}

// The scratch folder has a fixed place, so the path is 331 units long wherever the checkout is.
TEST_F(LauncherTest, PathLongerThan260Characters) {
  fs::path base = folder_;
  while (base.wstring().size() < 280) base /= std::wstring(40, L'd');
  const fs::path exe = install_app(base);
  ASSERT_EQ(exe.wstring().size(), 331u) << narrow(exe.wstring());
  options_.environment.set(L"LOCALAPPDATA", base.wstring());

  // The existence test must find the file. Whether the system then starts a program from a path
  // this long is its own answer: ask it directly first, the way the launcher asks.
  std::wstring probe_line = L"\"" + exe.wstring() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  const bool startable = CreateProcessW(verbatim(exe).c_str(), probe_line.data(), nullptr, nullptr,
                                        FALSE, 0, nullptr, nullptr, &startup, &info) != 0;
  const fs::path record = exe.parent_path() / L"ostrevan-run.txt";
  if (startable) {
    // The application writes its record before it ends; that one goes, so that only the
    // launcher's start can leave one.
    const DWORD waited = WaitForSingleObject(info.hProcess, test_time::limit_ms());
    if (waited != WAIT_OBJECT_0) TerminateProcess(info.hProcess, 0xFFFFFFFF);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    ASSERT_EQ(waited, WAIT_OBJECT_0) << "waited " << test_time::shown(test_time::limit())
                                     << " for the application started directly to end";
    ASSERT_TRUE(DeleteFileW(verbatim(record).c_str()))
        << "the application started directly left no record to remove: " << GetLastError();
  }

  const RunResult run = run_program(options_, folder_);
  if (startable) {
    expect_everyday_run(run);
    expect_app_ran(exe);
  } else {
    // Which error the refusal carries is the system's own choice, and Wine's varies with what
    // the process started before: the line must name it as the system words that code.
    const auto at = run.err.rfind("(os error ");
    const DWORD code =
        at == std::string::npos ? 0 : std::strtoul(run.err.c_str() + at + 10, nullptr, 10);
    EXPECT_EQ(run.out, std::string(kProbeFalse) + kFoundInstalled);
    EXPECT_EQ(run.err, std::string(kLaunchFailed) + system_error_text(code) +
                           "。路径: " + quoted_path(exe.wstring()) + "\n");
    EXPECT_EQ(run.exit_code, kExitFailureReported);
  }
  expect_temp_untouched();
}

TEST_F(LauncherTest, UnsetLocalAppDataIsAFatalStop) {
  install_app(local_);
  options_.environment.unset(L"LOCALAPPDATA");
  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.out, kProbeFalse);
  expect_fatal_report(run.err, std::string(kLocalAppDataContext) + ": NotPresent");
  EXPECT_EQ(run.exit_code, kExitFatalStop);
  expect_temp_untouched();
}

TEST_F(LauncherTest, UnpairedSurrogateInLocalAppDataIsAFatalStop) {
  install_app(local_);
  const std::wstring value = local_.wstring() + L"\\bad" + wchar_t(0xD800) + L"name";
  options_.environment.set(L"LOCALAPPDATA", value);
  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.out, kProbeFalse);
  expect_fatal_report(run.err, std::string(kLocalAppDataContext) + ": NotUnicode(\"" +
                                   escaped_path(local_.wstring()) + "\\\\bad\\u{d800}name\")");
  EXPECT_EQ(run.exit_code, kExitFatalStop);
  expect_temp_untouched();
}

// --- the launch fails ----------------------------------------------------------------------

TEST_F(LauncherTest, DirectoryAtTheApplicationPath) {
  const fs::path exe = local_ / L"Ostrevan" / L"Ostrevan.exe";
  fs::create_directories(exe);
  DWORD code = 0;
  ASSERT_NO_FATAL_FAILURE(folder_start_error(exe, code));

  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.out, std::string(kProbeFalse) + kFoundInstalled);
  EXPECT_EQ(run.err, std::string(kLaunchFailed) + system_error_text(code) +
                         "。路径: " + quoted_path(exe.wstring()) + "\n");
  EXPECT_EQ(run.exit_code, kExitFailureReported);
  expect_temp_untouched();
}

}  // namespace
}  // namespace brevlo::e2e
