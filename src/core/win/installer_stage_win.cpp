#include "core/win/installer_stage.hpp"

#include <algorithm>
#include <atomic>

#include "core/join_path.hpp"
#include "core/win/app_launch.hpp"
#include "core/win/app_path.hpp"
#include "platform/byte_path_win.hpp"
#include "platform/child.hpp"
#include "platform/debug_form.hpp"
#include "platform/handle_win.hpp"
#include "platform/messages.hpp"
#include "platform/system_text_win.hpp"
#include "platform/text.hpp"
#include "platform/win_support.hpp"

namespace brevlo {

namespace {

// mingw-w64 hides this class behind a version test that never holds for a _WIN32_WINNT value.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);

using GetTempPath2WFn = DWORD(WINAPI*)(DWORD, LPWSTR);

// GetTempPath2W is looked up once per process; where kernel32 lacks it, GetTempPathW serves.
GetTempPath2WFn temp_path_function() {
  static const GetTempPath2WFn function = [] {
    GetTempPath2WFn found = nullptr;
    if (HMODULE kernel32 = GetModuleHandleA("kernel32")) {
      found = reinterpret_cast<GetTempPath2WFn>(
          reinterpret_cast<void*>(GetProcAddress(kernel32, "GetTempPath2W")));
    }
    return found != nullptr ? found : &GetTempPathW;
  }();
  return function;
}

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

}  // namespace

Result<void> write_installer_file(const std::string& installer_path, std::span<const std::uint8_t> image) {
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

bool write_checked_installer(const std::string& path, std::span<const std::uint8_t> image,
                             const ImageDigest& expected, WrittenInstaller& written) {
  written.path = path;
  DigestJob job{image, &expected};
  UniqueHandle hasher(CreateThread(nullptr, 0, &run_digest_job, &job, 0, nullptr));
  if (!hasher) {
    if (image_digest(image) != expected) return false;
    written.outcome = write_installer_file(path, image);
    return true;
  }

  Result<void> outcome;
  if (auto long_path = long_path_form(path); !long_path) {
    outcome = std::unexpected(long_path.error());
  } else if (auto file = create_installer_file(*long_path); !file) {
    outcome = std::unexpected(file.error());
  } else {
    for (std::size_t done = 0; outcome && done < image.size(); done += kWritePiece) {
      if (job.damaged.load(std::memory_order_acquire)) break;
      const std::size_t piece = std::min(kWritePiece, image.size() - done);
      outcome = write_all_to_handle(file->get(), image.subspan(done, piece));
    }
    if (outcome && !FlushFileBuffers(file->get())) {
      outcome = std::unexpected(Error::os(GetLastError()));
    }
  }
  // The file is closed here, before it is removed or run.
  WaitForSingleObject(hasher.get(), INFINITE);
  if (job.damaged.load(std::memory_order_acquire)) {
    (void)remove_installer(path);
    return false;
  }
  written.outcome = std::move(outcome);
  return true;
}

Result<std::string> installer_path_for(std::string_view file_name) {
  auto temp_dir = temporary_directory();
  if (!temp_dir) return std::unexpected(temp_dir.error());
  return join_path(*temp_dir, file_name);
}

Result<std::string> temporary_directory() {
  const GetTempPath2WFn query = temp_path_function();
  auto units = read_system_text([query](wchar_t* buffer, DWORD size) { return query(size, buffer); });
  if (!units) return std::unexpected(units.error());
  return wtf8_from_utf16(*units);
}

std::expected<bool, StageError> run_installer_stage(std::span<const std::uint8_t> image,
                                                    std::string_view file_name, GameConfig config,
                                                    bool webview_ready,
                                                    const WrittenInstaller* written) {
  const std::string temp_dir =
      expect_ok(temporary_directory(), "the temporary directory had to be known but its query failed");
  const std::string app_path =
      expect_ok(installed_application_path(config), "无法获取 LOCALAPPDATA 环境变量");
  const std::string installer_path = join_path(temp_dir, file_name);

  print_stdout({"正在提取 ", file_name, " 到 ", path_debug_form(installer_path), "\n"});
  const Result<void> extracted = written != nullptr && written->path == installer_path
                                     ? written->outcome
                                     : write_installer_file(installer_path, image);
  if (!extracted) {
    return std::unexpected(StageError(extracted.error()));
  }

  print_stdout({"开始安装\n"});
  ChildCommand installer(installer_path);
  if (webview_ready) {
    print_stdout({"静默安装\n"});
    installer.add_argument("/S");
  }
  auto exit_code = run_and_wait(installer);
  if (!exit_code) return std::unexpected(StageError(exit_code.error()));
  if (*exit_code != 0) {
    // The installer failed: its file stays for a look, and the next run overwrites it.
    return std::unexpected(StageError("❌ 安装程序返回错误: " + exit_code_debug_form(*exit_code)));
  }
  print_stdout({"✅ 安装成功。\n"});

  bool started = false;
  if (path_exists(app_path)) {
    print_stdout({"🚀 正在启动新安装的应用...\n"});
    started = launch_application(app_path);
  } else {
    print_stderr({"⚠️ 安装成功，但无法找到预期的主程序: ", path_debug_form(app_path), "\n"});
  }

  if (auto removed = remove_installer(installer_path); !removed) {
    print_stderr({"⚠️ 无法删除临时安装文件 ", path_debug_form(installer_path), ": ",
                  display_form(removed.error()), "\n"});
  }
  return started;
}

}  // namespace brevlo
