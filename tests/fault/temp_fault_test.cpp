// Faults in the temporary folder: TEMP naming a file, and TEMP on a disk too small for the
// installer, which fills up part way through the write.
#include <cstdlib>
#include <string>

#include "fault_fixture.hpp"

namespace brevlo::e2e {
namespace {

class TempFault : public FaultTest {};

TEST_F(TempFault, TempNamesAFile) {
  const fs::path file = folder_ / L"temp-is-a-file";
  const std::string content = "a file where the temporary folder should be\n";
  ASSERT_TRUE(write_file(file, content));
  use_temp(file);
  // What this system answers when asked to create a file below a file.
  HANDLE probe = CreateFileW(installer_.c_str(), GENERIC_WRITE, 7, nullptr, OPEN_ALWAYS, 0, nullptr);
  const DWORD code = GetLastError();
  if (probe != INVALID_HANDLE_VALUE) {
    CloseHandle(probe);
    FAIL() << "this system created a file below a file";
  }

  const RunResult run = run_program(options_, folder_);
  EXPECT_EQ(run.out, std::string(kProbeFalse) + kNotInstalled + extracting_line());
  EXPECT_EQ(run.err, std::string(kInstallFailed) + system_error_text(code) + "\n");
  EXPECT_EQ(run.exit_code, kExitFailureReported);
  EXPECT_EQ(read_file(file), content) << "the file named by TEMP was changed";
  EXPECT_FALSE(fs::exists(app_));
}

// linux_side.sh mounts a small file system, fills most of it and names a folder on it in
// BREVLO_FAULT_SMALL_DISK. The image does not fit: the write stops part way with the system's
// disk-full error, which is reported, and the part written stays.
TEST_F(LinuxSideFault, TempOnANearlyFullDisk) {
  const char* folder = std::getenv("BREVLO_FAULT_SMALL_DISK");
  if (folder == nullptr || *folder == '\0') {
    GTEST_SKIP() << "needs the small disk that the fault_small_disk test mounts";
  }
  use_temp(widen(folder));
  ULARGE_INTEGER free_bytes{};
  ASSERT_TRUE(GetDiskFreeSpaceExW(temp_.c_str(), &free_bytes, nullptr, nullptr)) << GetLastError();
  ASSERT_GT(image_.size(), free_bytes.QuadPart)
      << "the installer image fits on the small disk; the write would not fail";

  const RunResult run = run_program(options_, folder_);
  // No line after the extraction line: nothing claims success.
  EXPECT_EQ(run.out, std::string(kProbeFalse) + kNotInstalled + extracting_line());
  EXPECT_EQ(run.err, std::string(kInstallFailed) + system_error_text(ERROR_DISK_FULL) + "\n");
  EXPECT_EQ(run.exit_code, kExitFailureReported);
  EXPECT_EQ(installer_command_line(), "<the installer did not run>");
  EXPECT_FALSE(fs::exists(app_));

  // The part written stays, as far as the disk took it: the image's first bytes, no more.
  const auto written = read_file(installer_);
  ASSERT_TRUE(written.has_value()) << "setup_temp.exe is gone";
  EXPECT_GT(written->size(), 0u);
  EXPECT_LE(written->size(), free_bytes.QuadPart);
  EXPECT_LT(written->size(), image_.size());
  EXPECT_TRUE(*written == image_.substr(0, written->size()))
      << "the partial file is not the start of the image";
}

}  // namespace
}  // namespace brevlo::e2e
