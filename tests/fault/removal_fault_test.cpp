// Faults at the removal of the installer file, after a successful installation: another process
// holds the file, or the installer has already deleted itself. Either is only warned about; the
// application was started, so the run still ends with 0.
#include <string>

#include "fault_fixture.hpp"

namespace brevlo::e2e {
namespace {

class RemovalFault : public FaultTest {
 protected:
  void expect_removed_by_itself(const wchar_t* variable, const wchar_t* value,
                                const wchar_t* outcome_file, const std::string& done,
                                const char* verb);
};

// Sets a named event when it goes, so that a helper waiting for it never outlives the test.
class ReleaseOnExit {
 public:
  explicit ReleaseOnExit(const std::wstring& name)
      : event_(CreateEventW(nullptr, TRUE, FALSE, name.c_str())) {}
  ~ReleaseOnExit() {
    if (event_ != nullptr) {
      SetEvent(event_);
      CloseHandle(event_);
    }
  }
  ReleaseOnExit(const ReleaseOnExit&) = delete;
  ReleaseOnExit& operator=(const ReleaseOnExit&) = delete;
  bool ok() const { return event_ != nullptr; }
  void release() const { SetEvent(event_); }

 private:
  HANDLE event_;
};

// One owner for an event handle.
class UniqueEvent {
 public:
  explicit UniqueEvent(HANDLE event) : event_(event) {}
  ~UniqueEvent() {
    if (event_ != nullptr) CloseHandle(event_);
  }
  UniqueEvent(const UniqueEvent&) = delete;
  UniqueEvent& operator=(const UniqueEvent&) = delete;
  HANDLE get() const { return event_; }

 private:
  HANDLE event_;
};

// What this system answers when a file is deleted while another handle holds it without delete
// sharing.
DWORD held_file_delete_error(const fs::path& sample) {
  if (!write_file(sample, "sample")) return 0;
  HANDLE held = CreateFileW(sample.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 0;
  const DWORD code = DeleteFileW(sample.c_str()) ? 0 : GetLastError();
  CloseHandle(held);
  DeleteFileW(sample.c_str());
  return code;
}

TEST_F(RemovalFault, InstallerFileHeldByAnotherProcess) {
  const DWORD code = held_file_delete_error(folder_ / L"held sample");
  ASSERT_NE(code, 0u) << "this system deletes a file that another handle holds";

  const std::wstring event_name =
      L"brevlo-fault-release-" + std::to_wstring(GetCurrentProcessId());
  ReleaseOnExit release(event_name);
  ASSERT_TRUE(release.ok());
  // The helper sets this one once it has closed the file.
  const UniqueEvent let_go(CreateEventW(nullptr, TRUE, FALSE, (event_name + L"-let-go").c_str()));
  ASSERT_TRUE(let_go.get() != nullptr) << GetLastError();
  options_.environment.set(L"BREVLO_STANDIN_INSTALL", L"1");
  options_.environment.set(L"BREVLO_STANDIN_HOLD", event_name);
  options_.environment.set(L"BREVLO_STANDIN_HOLDER", windows_path(BREVLO_E2E_STANDIN));
  // The helper holds the file until the test lets it go, after the run.
  options_.wait_for_everything_started = false;

  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.out, out_until_installer() + kInstalled + kStartingNew + kAppStarted);
  EXPECT_EQ(run.err, std::string(kCannotRemove) + quoted_path(installer_.wstring()) + ": " +
                         system_error_text(code) + "\n");
  EXPECT_EQ(run.exit_code, kExitStarted);
  expect_app_ran(app_);
  EXPECT_TRUE(read_file(installer_) == image_) << "setup_temp.exe is not the whole image";

  // Once the helper lets go, the file can be deleted: the hold was the only obstacle.
  release.release();
  ASSERT_EQ(WaitForSingleObject(let_go.get(), test_time::limit_ms()), WAIT_OBJECT_0)
      << "waited " << test_time::shown(test_time::limit()) << " for the helper to let go of "
      << narrow(installer_.wstring());
  EXPECT_TRUE(DeleteFileW(installer_.c_str()))
      << "setup_temp.exe could not be deleted after the helper let go: " << GetLastError();
}

// The stand-in takes its own file away before it ends, as the variable tells it, and records in
// the outcome file whether that worked; the launcher's removal then finds nothing to delete. Where
// this system does not let a running installer do so (the record is not done), the test is
// skipped.
void RemovalFault::expect_removed_by_itself(const wchar_t* variable, const wchar_t* value,
                                            const wchar_t* outcome_file, const std::string& done,
                                            const char* verb) {
  options_.environment.set(L"BREVLO_STANDIN_INSTALL", L"1");
  options_.environment.set(variable, value);

  const RunResult run = run_program(options_, folder_);
  const std::string outcome = read_file(temp_ / outcome_file).value_or("<no record>");
  if (outcome != done) {
    GTEST_SKIP() << "this system does not let a running installer " << verb << " its own file ("
                 << outcome.substr(0, outcome.find('\n')) << ")";
  }
  EXPECT_EQ(run.out, out_until_installer() + kInstalled + kStartingNew + kAppStarted);
  EXPECT_EQ(run.err, std::string(kCannotRemove) + quoted_path(installer_.wstring()) + ": " +
                         system_error_text(ERROR_FILE_NOT_FOUND) + "\n");
  EXPECT_EQ(run.exit_code, kExitStarted);
  expect_app_ran(app_);
  EXPECT_FALSE(fs::exists(installer_));
}

TEST_F(RemovalFault, InstallerDeletesItself) {
  expect_removed_by_itself(L"BREVLO_STANDIN_DELETE_SELF", L"1", L"standin-delete.txt",
                           "deleted\n", "delete");
}

// Where a running program may not delete its own file, it may still move it: the installer that
// moves itself out of the way leaves the launcher's removal the same missing file to find.
TEST_F(RemovalFault, InstallerMovesItselfAway) {
  expect_removed_by_itself(L"BREVLO_STANDIN_MOVE_SELF", L"moved away.exe", L"standin-move.txt",
                           "moved\n", "move");
  if (IsSkipped()) return;
  EXPECT_TRUE(read_file(temp_ / L"moved away.exe") == image_)
      << "the moved installer is not the whole image";
}

}  // namespace
}  // namespace brevlo::e2e
