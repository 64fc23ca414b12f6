#include "core/installer_stage_win.hpp"

#include <algorithm>
#include <atomic>
#include <optional>

#include "core/app_launch_win.hpp"
#include "core/app_path_win.hpp"
#include "core/install_record_win.hpp"
#include "core/join_path.hpp"
#include "core/payload.hpp"
#include "core/system_file_win.hpp"
#include "platform/byte_path_win.hpp"
#include "platform/child_win.hpp"
#include "platform/debug_form.hpp"
#include "platform/hex_digit.hpp"
#include "platform/messages.hpp"
#include "platform/temporary_directory_win.hpp"
#include "platform/system_text_win.hpp"
#include "platform/text.hpp"

namespace brevlo {

namespace {

// The image goes out in pieces this large, so that a damaged one stops its write early; each is
// still large enough for the write calls to cost nothing next to the bytes.
constexpr std::size_t kWritePiece = 32 * 1024 * 1024;

// A start that meets the file held by someone else (a scanner that opens new files exclusively
// for a moment) is tried again, waiting longer each time, for this long in all.
constexpr DWORD kBusyRetryMs = 10'000;

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

// After an attempt that failed with error: when the file was held by someone else (a sharing
// violation, or access denied) and less than kBusyRetryMs went by in such pauses, pauses (as long
// as all pauses so far, 50 ms at first) and says to try again.
bool pause_while_busy(const Error& error, DWORD& waited) {
  if (!error.is_os() || waited >= kBusyRetryMs ||
      (error.code() != ERROR_SHARING_VIOLATION && error.code() != ERROR_ACCESS_DENIED)) {
    return false;
  }
  const DWORD pause = std::min<DWORD>(std::max<DWORD>(waited, 50), kBusyRetryMs - waited);
  ::Sleep(pause);
  waited += pause;
  return true;
}

// The file's place on its volume: a file put in its place has another.
struct FileIdentity {
  DWORD volume = 0, high = 0, low = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

Result<FileIdentity> identity_of(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!system_calls().file_information(file, &info)) return std::unexpected(last_system_error());
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return std::unexpected(Error::os(ERROR_CANT_ACCESS_FILE));
  }
  return FileIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

// Holds the written installer open for reading, shared only for reading, until the guard ends:
// nobody can write, replace, rename or remove it before the installer has started.
class KeptFile final : public Held {
 public:
  explicit KeptFile(SystemHandle file) : file_(std::move(file)) {}

 private:
  SystemHandle file_;
};

// Opens the file just written again, as KeptFile holds it, and checks that it is the same file.
Result<Guard> keep_written(const std::string& path, const FileIdentity& written) {
  auto system_path = long_path_form(path);
  if (!system_path) return std::unexpected(system_path.error());
  SystemHandle file;
  for (DWORD waited = 0;;) {
    file.reset(system_calls().create_file(as_wide(*system_path), GENERIC_READ, FILE_SHARE_READ,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                          nullptr));
    if (file) break;
    const Error error = last_system_error();
    if (!pause_while_busy(error, waited)) return std::unexpected(error);
  }
  Result<FileIdentity> kept = identity_of(file.get());
  if (!kept) return std::unexpected(kept.error());
  if (*kept != written) {
    return std::unexpected(Error::fixed(ErrorKind::InvalidData,
                                        "the installer file was replaced before it could run"));
  }
  return Guard(std::make_unique<KeptFile>(std::move(file)));
}

// Writes image to a new file at path piece by piece, stopping early once job finds it damaged;
// the file is flushed and closed, and its identity given.
Result<FileIdentity> write_new_file(const std::string& path, std::span<const std::uint8_t> image,
                                    const DigestJob* job) {
  Result<SystemHandle> file = create_new_file(path);
  if (!file) return std::unexpected(file.error());
  for (std::size_t done = 0; done < image.size(); done += kWritePiece) {
    if (job != nullptr && job->damaged.load(std::memory_order_acquire)) break;
    const std::size_t piece = std::min(kWritePiece, image.size() - done);
    if (Result<void> out = write_through(file->get(), image.subspan(done, piece)); !out) {
      return std::unexpected(out.error());
    }
  }
  Result<FileIdentity> identity = identity_of(file->get());
  if (!identity) return identity;
  if (Result<void> closed = flush_and_close(*file); !closed) return std::unexpected(closed.error());
  return identity;
}

// The folder a file sits in.
std::string folder_of(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }

// "<temporary directory>\brevlo-<product digest>-": where every run folder of the product starts.
std::string run_folder_prefix(const std::string& temp_dir, std::string_view product_name) {
  return join_path(temp_dir, "brevlo-" + product_digest(product_name) + "-");
}

// A name for a new run folder: the prefix and eight hex digits from the system's random source.
Result<std::string> random_folder_name(const std::string& prefix) {
  std::uint8_t bytes[4] = {};
  if (!system_calls().random(bytes, sizeof bytes)) {
    return std::unexpected(
        Error::fixed(ErrorKind::Other, "the system's random source gave no bytes"));
  }
  std::string name = prefix;
  for (const std::uint8_t byte : bytes) {
    name += hex_digit(byte >> 4);
    name += hex_digit(byte & 0xF);
  }
  return name;
}

// Makes a new folder of this run's own: a name that exists already is not taken (it may be a
// link someone put there), another is tried.
Result<std::string> make_run_folder(const std::string& prefix) {
  Result<std::string> folder = std::unexpected(Error::os(ERROR_ALREADY_EXISTS));
  for (int tries = 0; tries < 16; ++tries) {
    folder = random_folder_name(prefix);
    if (!folder) return folder;
    const Result<void> made = make_folder(*folder, false);
    if (made) return folder;
    if (made.error() != Error::os(ERROR_ALREADY_EXISTS)) return std::unexpected(made.error());
  }
  return folder;
}

// Removes a run folder an earlier run left: the installer in it (or a link in its place, never
// what a link points to), then the folder. A file still in use stays, and so does the folder;
// so does a folder holding anything else.
void remove_run_folder(const std::string& folder) {
  (void)remove_file(join_path(folder, kInstallerFileName), true);
  if (auto path = long_path_form(folder)) (void)system_calls().remove_directory(as_wide(*path));
}

// Removes what earlier runs of this product left in the temporary directory. Called under the
// install lock, so no other launcher of the product is using any of it.
void remove_earlier_runs(const std::string& temp_dir, const std::string& prefix) {
  auto pattern = long_path_form(prefix + "*");
  if (!pattern) return;
  const SystemCalls& calls = system_calls();
  WIN32_FIND_DATAW entry{};
  const HANDLE search = calls.find_first(as_wide(*pattern), &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  const std::string_view stem = std::string_view(prefix).substr(temp_dir.size());
  do {
    const DWORD attributes = entry.dwFileAttributes;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      continue;
    }
    const std::string name = wtf8_from_utf16(as_u16(entry.cFileName));
    if (name.size() != stem.size() - 1 + 8 || !name.starts_with(stem.substr(1))) continue;
    remove_run_folder(join_path(temp_dir, name));
  } while (calls.find_next(search, &entry));
  (void)calls.find_close(search);
}

// Fails when the temporary directory's volume has fewer bytes free for this user than size; a
// query that fails stops nothing.
Result<void> check_free_space(const std::string& temp_dir, std::uint64_t size) {
  auto path = long_path_form(temp_dir);
  if (!path) return {};
  ULARGE_INTEGER free_bytes{};
  if (!system_calls().disk_free_space(as_wide(*path), &free_bytes, nullptr, nullptr)) return {};
  if (free_bytes.QuadPart >= size) return {};
  constexpr std::uint64_t kMegabyte = 1'000'000;
  return std::unexpected(Error::message(
      ErrorKind::Other, "临时目录所在磁盘空间不足: 需要 " + decimal((size + kMegabyte - 1) / kMegabyte) +
                            " MB, 可用 " + decimal(free_bytes.QuadPart / kMegabyte) + " MB"));
}

// Starts the installer (again while its file is held by someone else), waits for its end and
// gives its exit code.
Result<std::uint32_t> run_to_end(const ChildCommand& command) {
  Result<StartedChild> child = start_child(command);
  for (DWORD waited = 0; !child && pause_while_busy(child.error(), waited);) {
    child = start_child(command);
  }
  if (!child) return std::unexpected(child.error());
  if (system_calls().wait(child->process(), INFINITE) != WAIT_OBJECT_0) {
    return std::unexpected(last_system_error());
  }
  DWORD exit_code = 0;
  if (!system_calls().exit_code(child->process(), &exit_code)) {
    return std::unexpected(last_system_error());
  }
  return static_cast<std::uint32_t>(exit_code);
}

// After a successful installation: starts the application it left, or says it left none.
bool start_installed(const std::string& app_path, const GameConfig& config) {
  if (!path_exists(app_path)) {
    print_stderr({"⚠️ 安装成功，但无法找到预期的主程序: ", path_debug_form(app_path), "\n"});
    return false;
  }
  // A record that stays makes the next run install again, which is all it costs.
  (void)remove_install_record(config);
  print_stdout({"🚀 正在启动新安装的应用...\n"});
  return launch_application(app_path);
}

// Removes the installer and its folder once it has done its work.
void remove_installer(const std::string& path) {
  if (auto removed = remove_file(path, false); !removed) {
    print_stderr({"⚠️ 无法删除临时安装文件 ", path_debug_form(path), ": ",
                  display_form(removed.error()), "\n"});
    return;
  }
  if (auto folder = long_path_form(folder_of(path))) {
    (void)system_calls().remove_directory(as_wide(*folder));
  }
}

}  // namespace

PreparedInstaller write_checked_installer(const std::string& path,
                                          std::span<const std::uint8_t> image,
                                          const ImageDigest& expected) {
  PreparedInstaller prepared{.intact = false, .path = path, .written = {}, .keep = nullptr};
  DigestJob job{image, &expected};
  SystemHandle hasher(system_calls().create_thread(nullptr, 0, &run_digest_job, &job, 0, nullptr));
  Result<FileIdentity> written = std::unexpected(Error::os(ERROR_INVALID_HANDLE));
  if (!hasher) {
    // No second thread: the image is hashed first, and written only when it is intact.
    if (image_digest(image) != expected) return prepared;
    written = write_new_file(path, image, nullptr);
  } else {
    written = write_new_file(path, image, &job);
    if (system_calls().wait(hasher.get(), INFINITE) != WAIT_OBJECT_0) {
      // The thread's verdict cannot be had: the image is hashed again here.
      job.damaged.store(image_digest(image) != expected, std::memory_order_release);
    }
    if (job.damaged.load(std::memory_order_acquire)) {
      (void)remove_file(path, true);
      return prepared;
    }
  }
  prepared.intact = true;
  if (!written) {
    prepared.written = std::unexpected(written.error());
    return prepared;
  }
  Result<Guard> kept = keep_written(path, *written);
  if (!kept) {
    prepared.written = std::unexpected(kept.error());
  } else {
    prepared.keep = std::move(*kept);
  }
  return prepared;
}

Result<PreparedInstaller> prepare_installer(std::span<const std::uint8_t> image,
                                            std::string_view product_name) {
  // Writing the file costs about what checking the image does, so both go on at once.
  const std::optional<PackOptions> options = embedded_pack_options();
  if (!options) return PreparedInstaller{};
  Result<std::string> temp_dir = temporary_directory();
  if (!temp_dir && image_digest(image) != options->image_digest) return PreparedInstaller{};
  // An intact image with nowhere to go.
  const std::string dir =
      expect_ok(std::move(temp_dir), "the temporary directory had to be known but its query failed");
  const std::string prefix = run_folder_prefix(dir, product_name);
  remove_earlier_runs(dir, prefix);
  Result<void> room = check_free_space(dir, image.size());
  Result<std::string> folder =
      room ? make_run_folder(prefix) : Result<std::string>(std::unexpected(room.error()));
  if (!folder) {
    // Nothing was written; the line names the folder's form with a blank random part.
    return PreparedInstaller{.intact = true,
                             .path = join_path(prefix + "00000000", kInstallerFileName),
                             .written = std::unexpected(folder.error()),
                             .keep = nullptr};
  }
  return write_checked_installer(join_path(*folder, kInstallerFileName), image,
                                 options->image_digest);
}

Result<bool> run_installer_stage(PreparedInstaller installer, const GameConfig& config,
                                 bool webview_ready) {
  const std::string app_path =
      expect_ok(installed_application_path(config), kLocalAppDataStopContext);
  print_stdout({"正在提取 ", kInstallerFileName, " 到 ", path_debug_form(installer.path), "\n"});
  if (!installer.written) return std::unexpected(installer.written.error());
  // From here until the installer has ended well, the next run knows to install again.
  if (Result<void> recorded = write_install_record(config); !recorded) {
    return std::unexpected(recorded.error());
  }

  print_stdout({"开始安装\n"});
  ChildCommand command(installer.path);
  if (webview_ready) {
    print_stdout({"静默安装\n"});
    command.add_argument("/S");
  }
  auto exit_code = run_to_end(command);
  installer.keep.reset();
  if (!exit_code) return std::unexpected(exit_code.error());
  if (*exit_code != 0) {
    // The installer failed: its file stays for a look, and the next run removes it.
    return std::unexpected(
        Error::message(ErrorKind::Other, "❌ 安装程序返回错误: " + exit_code_debug_form(*exit_code)));
  }
  print_stdout({"✅ 安装成功。\n"});
  const bool started = start_installed(app_path, config);
  remove_installer(installer.path);
  return started;
}

bool installation_unfinished(const GameConfig& config) { return install_record_exists(config); }

}  // namespace brevlo
