// Standard output is a pipe whose reader goes away while the installer runs: the next line the
// launcher prints cannot be written, which is a fatal stop. The installation itself completed, but
// nothing after the failed print happens: the application is not started and the installer file
// stays.
#include <string>

#include "fault_fixture.hpp"

namespace brevlo::e2e {
namespace {

class OutputFault : public FaultTest {};

TEST_F(OutputFault, StdoutPipeClosedDuringTheInstall) {
  // What this system answers to a write into a pipe that nobody reads any more.
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  ASSERT_TRUE(CreatePipe(&read_end, &write_end, nullptr, 0));
  CloseHandle(read_end);
  DWORD written = 0;
  const BOOL wrote = WriteFile(write_end, "x", 1, &written, nullptr);
  const DWORD code = GetLastError();
  CloseHandle(write_end);
  ASSERT_FALSE(wrote);

  // The test stops reading once the installer has started, and the installer ends only after
  // that: the launcher's next line finds the pipe closed.
  const std::wstring closed = L"brevlo-fault-stdout-closed-" + std::to_wstring(GetCurrentProcessId());
  options_.handles = Handles::StdoutPipeClosedMidway;
  options_.close_stdout_after = kStartInstall;
  options_.stdout_closed_event = closed;
  options_.environment.set(L"BREVLO_STANDIN_INSTALL", L"1");
  options_.environment.set(L"BREVLO_STANDIN_WAIT", closed);

  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.out, out_until_installer());
  // The stop is made by the print routine itself.
  EXPECT_EQ(run.err, "\nthread 'main' panicked at " +
                         location_of("src/platform/messages.cpp", "(message);") +
                         ":\nfailed printing to stdout: " + system_error_text(code) +
                         "\nnote: run with `BREVLO_BACKTRACE=1` environment variable to display "
                         "a backtrace\n");
  EXPECT_EQ(run.exit_code, kExitFatalStop);
  EXPECT_EQ(installer_command_line(), installer_ran_plainly());
  EXPECT_TRUE(read_file(installer_) == image_) << "setup_temp.exe is not left whole";
  EXPECT_TRUE(fs::exists(app_)) << "the stand-in did not install the application";
  expect_app_not_run(run, app_);
}

}  // namespace
}  // namespace brevlo::e2e
