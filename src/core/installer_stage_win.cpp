#include "core/installer_stage_win.hpp"

#include <algorithm>
#include <atomic>

#include "core/join_path.hpp"
#include "core/payload.hpp"
#include "core/app_launch_win.hpp"
#include "core/app_path_win.hpp"
#include "platform/byte_path_win.hpp"
#include "platform/child_win.hpp"
#include "platform/debug_form.hpp"
#include "platform/handle_win.hpp"
#include "platform/messages.hpp"
#include "platform/system_text_win.hpp"
#include "platform/temporary_directory_win.hpp"
#include "platform/text.hpp"
#include "platform/windows_api_win.hpp"

namespace brevlo {

namespace {

// mingw-w64 hides this class behind a version test that never holds for a _WIN32_WINNT value.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);

// Creates the installer file, or opens and empties the one an earlier run left.
Result<UniqueHandle> create_installer_file(const std::u16string& path) {
  UniqueHandle file(CreateFileW(as_wide(path), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, 0, nullptr));
  if (!file) return std::unexpected(Error::os(GetLastError()));
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    FILE_ALLOCATION_INFO allocation{};
    if (!SetFileInformationByHandle(file.get(), FileAllocationInfo, &allocation,
                                    sizeof allocation)) {
      FILE_END_OF_FILE_INFO end_of_file{};
      if (!SetFileInformationByHandle(file.get(), FileEndOfFileInfo, &end_of_file,
                                      sizeof end_of_file)) {
        return std::unexpected(Error::os(GetLastError()));  // the handle closes on the way out
      }
    }
  }
  return file;
}

// DeleteFileW, and for access denied (a read-only file, say) one POSIX-semantics delete that
// ignores the read-only attribute. A failure reports DeleteFileW's own error.
Result<void> remove_installer(const std::string& installer_path) {
  auto path = long_path_form(installer_path);
  if (!path) return std::unexpected(path.error());
  if (DeleteFileW(as_wide(*path))) return {};
  const DWORD error = GetLastError();
  if (error == ERROR_ACCESS_DENIED) {
    UniqueHandle file(CreateFileW(as_wide(*path), DELETE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (file) {
      FILE_DISPOSITION_INFO_EX disposition{FILE_DISPOSITION_FLAG_DELETE |
                                           FILE_DISPOSITION_FLAG_POSIX_SEMANTICS |
                                           FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE};
      if (SetFileInformationByHandle(file.get(), kFileDispositionInfoEx, &disposition,
                                     sizeof disposition)) {
        return {};
      }
    }
  }
  return std::unexpected(Error::os(error));
}

// The image goes out in pieces this large, so that a damaged one stops its write early; each is
// still large enough for the write calls to cost nothing next to the bytes.
constexpr std::size_t kWritePiece = 32 * 1024 * 1024;

// The hashing thread's work: the image in, whether it matched out.
struct DigestJob {
  std::span<const std::uint8_t> image;
  const ImageDigest* expected = nullptr;
  std::atomic<bool> damaged{false};
};

DWORD WINAPI run_digest_job(void* parameter) {
  auto* job = static_cast<DigestJob*>(parameter);
  job->damaged.store(image_digest(job->image) != *job->expected, std::memory_order_release);
  return 0;
}

std::string exit_code_debug_form(std::uint32_t code) {
  return "Some(" + decimal(static_cast<std::int32_t>(code)) + ")";
}

// After a successful installation: starts the application it left, or says it left none.
bool start_installed(const std::string& app_path) {
  if (!path_exists(app_path)) {
    print_stderr({"⚠️ 安装成功，但无法找到预期的主程序: ", path_debug_form(app_path), "\n"});
    return false;
  }
  print_stdout({"🚀 正在启动新安装的应用...\n"});
  return launch_application(app_path);
}

Result<void> write_installer_file(const std::string& installer_path,
                                  std::span<const std::uint8_t> image) {
  auto path = long_path_form(installer_path);
  if (!path) return std::unexpected(path.error());
  auto file = create_installer_file(*path);
  if (!file) return std::unexpected(file.error());
  Result<void> outcome = write_all_to_handle(file->get(), image);
  if (outcome && !FlushFileBuffers(file->get())) {
    outcome = std::unexpected(Error::os(GetLastError()));
  }
  file->reset();  // closed on every path before the installer starts; its result is ignored
  return outcome;
}

// Writes image to the installer file piece by piece, stopping early once job finds it damaged.
Result<void> write_while_hashed(const std::string& path, std::span<const std::uint8_t> image,
                                const DigestJob& job) {
  auto long_path = long_path_form(path);
  if (!long_path) return std::unexpected(long_path.error());
  auto file = create_installer_file(*long_path);
  if (!file) return std::unexpected(file.error());
  Result<void> outcome;
  for (std::size_t done = 0; outcome && done < image.size(); done += kWritePiece) {
    if (job.damaged.load(std::memory_order_acquire)) break;
    const std::size_t piece = std::min(kWritePiece, image.size() - done);
    outcome = write_all_to_handle(file->get(), image.subspan(done, piece));
  }
  if (outcome && !FlushFileBuffers(file->get())) {
    outcome = std::unexpected(Error::os(GetLastError()));
  }
  return outcome;  // the file is closed here, before it is removed or run
}

}  // namespace

PreparedInstaller write_checked_installer(const std::string& path,
                                          std::span<const std::uint8_t> image,
                                          const ImageDigest& expected) {
  PreparedInstaller prepared{.intact = false, .path = path, .written = {}};
  DigestJob job{image, &expected};
  UniqueHandle hasher(CreateThread(nullptr, 0, &run_digest_job, &job, 0, nullptr));
  if (!hasher) {
    if (image_digest(image) != expected) return prepared;
    prepared.intact = true;
    prepared.written = write_installer_file(path, image);
    return prepared;
  }
  Result<void> outcome = write_while_hashed(path, image, job);
  WaitForSingleObject(hasher.get(), INFINITE);
  if (job.damaged.load(std::memory_order_acquire)) {
    (void)remove_installer(path);
    return prepared;
  }
  prepared.intact = true;
  prepared.written = std::move(outcome);
  return prepared;
}

Result<PreparedInstaller> prepare_installer(std::span<const std::uint8_t> image) {
  // Writing the file costs about what checking the image does, so both go on at once.
  const std::optional<PackOptions> options = embedded_pack_options();
  if (!options) return PreparedInstaller{};
  Result<std::string> temp_dir = temporary_directory();
  if (!temp_dir && image_digest(image) != options->image_digest) return PreparedInstaller{};
  // An intact image with nowhere to go.
  const std::string dir =
      expect_ok(std::move(temp_dir), "the temporary directory had to be known but its query failed");
  return write_checked_installer(join_path(dir, kInstallerFileName), image, options->image_digest);
}

Result<bool> run_installer_stage(const PreparedInstaller& installer, const GameConfig& config,
                                 bool webview_ready) {
  const std::string app_path =
      expect_ok(installed_application_path(config), kLocalAppDataStopContext);
  print_stdout({"正在提取 ", kInstallerFileName, " 到 ", path_debug_form(installer.path), "\n"});
  if (!installer.written) return std::unexpected(installer.written.error());

  print_stdout({"开始安装\n"});
  ChildCommand command(installer.path);
  if (webview_ready) {
    print_stdout({"静默安装\n"});
    command.add_argument("/S");
  }
  auto exit_code = run_and_wait(command);
  if (!exit_code) return std::unexpected(exit_code.error());
  if (*exit_code != 0) {
    // The installer failed: its file stays for a look, and the next run overwrites it.
    return std::unexpected(
        Error::message(ErrorKind::Other, "❌ 安装程序返回错误: " + exit_code_debug_form(*exit_code)));
  }
  print_stdout({"✅ 安装成功。\n"});
  const bool started = start_installed(app_path);
  if (auto removed = remove_installer(installer.path); !removed) {
    print_stderr({"⚠️ 无法删除临时安装文件 ", path_debug_form(installer.path), ": ",
                  display_form(removed.error()), "\n"});
  }
  return started;
}

}  // namespace brevlo
