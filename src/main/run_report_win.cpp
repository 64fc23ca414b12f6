#include "main/run_report_win.hpp"

#include <string>

#include "brevlo_version.h"
#include "core/join_path.hpp"
#include "core/run_report_text.hpp"
#include "platform/temporary_directory_win.hpp"
#include "core/system_library_win.hpp"
#include "main/frame.hpp"
#include "platform/byte_path_win.hpp"
#include "platform/handle_win.hpp"
#include "platform/output.hpp"
#include "platform/session_mutex_win.hpp"
#include "platform/system_text_win.hpp"
#include "platform/text.hpp"
#include "platform/windows_api_win.hpp"

namespace brevlo {
namespace {

// An existing log longer than this was not written by a launcher and is started afresh.
constexpr std::size_t kLargestLogRead = 4 * kSupportLogLimit;

// The ProductName string of this executable's version resource.
std::u16string branded_product_name() {
  using SizeFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
  using InfoFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
  using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
  const HMODULE version = load_system_library(ModuleLookup{}, L"version.dll");
  SizeFn size_of = nullptr;
  InfoFn info_of = nullptr;
  QueryFn query = nullptr;
  if (!find_call(version, "GetFileVersionInfoSizeW", size_of) ||
      !find_call(version, "GetFileVersionInfoW", info_of) ||
      !find_call(version, "VerQueryValueW", query)) {
    return {};
  }
  const Result<std::u16string> self = read_system_text(
      [](wchar_t* buffer, DWORD size) { return ::GetModuleFileNameW(nullptr, buffer, size); });
  if (!self) return {};
  DWORD ignored = 0;
  const DWORD size = size_of(as_wide(*self), &ignored);
  if (size == 0) return {};
  std::string info(size, '\0');
  if (!info_of(as_wide(*self), 0, size, info.data())) return {};
  // brevlo-pack and the stub's resource script both keep the strings in this one table.
  void* found = nullptr;
  UINT length = 0;
  if (!query(info.data(), L"\\StringFileInfo\\000004b0\\ProductName", &found, &length) ||
      length == 0) {
    return {};
  }
  std::u16string name(static_cast<const char16_t*>(found), length);
  while (!name.empty() && name.back() == u'\0') name.pop_back();
  return name;
}

// One message box: the title, the text, an OK button and the error icon. user32 is loaded here
// and only here, so a launcher that shows nothing never loads it.
void show_failure_dialog(const std::u16string& title, std::string_view text) {
  using MessageBoxFn = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT);
  MessageBoxFn message_box = nullptr;
  if (!find_call(load_system_library(ModuleLookup{}, L"user32.dll"), "MessageBoxW",
                 message_box)) {
    return;
  }
  const std::u16string wide_text = utf16_from_wtf8(text);
  message_box(nullptr, as_wide(wide_text), as_wide(title),
              MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

// The whole file, or empty when it is missing, unreadable or longer than a log can be.
std::string read_log(const std::u16string& path) {
  UniqueHandle file(::CreateFileW(as_wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string bytes;
  if (!file) return bytes;
  constexpr DWORD kStep = 16 * 1024;
  for (std::size_t used = 0;;) {
    bytes.resize(used + kStep);
    DWORD read = 0;
    if (!::ReadFile(file.get(), bytes.data() + used, kStep, &read, nullptr) ||
        used + read > kLargestLogRead) {
      return {};
    }
    used += read;
    if (read == 0) {
      bytes.resize(used);
      return bytes;
    }
  }
}

// Appends block to the log of product_name in the temporary directory, one launcher at a time.
void append_to_support_log(const std::string& product_name, std::string_view block) {
  const Result<std::string> temp = temporary_directory();
  if (!temp || product_name.empty()) return;
  const Result<std::u16string> path =
      long_path_form(join_path(*temp, product_name + "-launcher.log"));
  if (!path) return;
  const SessionMutex writing =
      SessionMutex::acquire(install_lock_name(product_name) + "-log");
  const std::string log = support_log_with_run(read_log(*path), block);
  UniqueHandle file(::CreateFileW(as_wide(*path), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  (void)write_all_to_handle(file.get(), {reinterpret_cast<const std::uint8_t*>(log.data()),
                                         log.size()});
}

}  // namespace

int run_and_report(WindowsLaunchEnvironment& env, const PackOptions& options) {
  // The run's start as the system clock has it; turned into local time only once the run is over
  // (under Wine the first local time of a process costs a few milliseconds of time zone set-up,
  // which should not delay the game's start).
  FILETIME started{};
  if (options.support_log) ::GetSystemTimeAsFileTime(&started);
  OutputRecord record;
  set_output_record(&record);
  const int status = run_and_finish(env);
  set_output_record(nullptr);

  if (options.support_log) {
    FILETIME local{};
    SYSTEMTIME now{};
    if (!::FileTimeToLocalFileTime(&started, &local) || !::FileTimeToSystemTime(&local, &now)) {
      now = SYSTEMTIME{};
    }
    const LocalTime start{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
    const std::string command_line = wtf8_from_utf16(as_u16(::GetCommandLineW()));
    append_to_support_log(env.product_name(), support_log_run(start, BREVLO_VERSION_TEXT,
                                                              command_line, record.all, status));
  }
  if (options.failure_dialog && status != kExitStarted && !has_standard_error()) {
    std::u16string title = options.branded_name ? branded_product_name() : std::u16string();
    if (title.empty()) title = utf16_from_wtf8(env.product_name());
    if (title.empty()) title = u"brevlo";
    show_failure_dialog(title, failure_dialog_text(record.err));
  }
  return status;
}

}  // namespace brevlo
