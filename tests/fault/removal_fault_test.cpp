// Faults at the removal of the installer file, after a successful installation: another process
// holds the file, or the installer has already deleted itself. Either is only warned about; the
// application was started, so the run still ends with 0.
#include <chrono>
#include <string>
#include <thread>

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
  options_.environment.set(L"BREVLO_STANDIN_INSTALL", L"1");
  options_.environment.set(L"BREVLO_STANDIN_HOLD", event_name);
  options_.environment.set(L"BREVLO_STANDIN_HOLDER", windows_path(BREVLO_E2E_STANDIN));

  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.out, out_until_installer() + kInstalled + kStartingNew + kAppStarted);
  EXPECT_EQ(run.err, std::string(kCannotRemove) + quoted_path(installer_.wstring()) + ": " +
                         system_error_text(code) + "\n");
  EXPECT_EQ(run.exit_code, kExitStarted);
  expect_app_ran(app_);
  EXPECT_TRUE(read_file(installer_) == image_) << "setup_temp.exe is not the whole image";

  // Once the helper lets go, the file can be deleted: the hold was the only obstacle.
  release.release();
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  bool deleted = false;
  while (!(deleted = DeleteFileW(installer_.c_str()) != 0) &&
         std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_TRUE(deleted) << "setup_temp.exe could not be deleted after the helper ended: "
                       << GetLastError();
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
