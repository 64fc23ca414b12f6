#include "platform/child_win.hpp"

#include <array>
#include <expected>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/lock_win.hpp"
#include "platform/system_text_win.hpp"
#include "platform/text.hpp"

namespace brevlo {
namespace {

// Every inheritable handle of the launcher passes to a child started with bInheritHandles TRUE;
// the lock keeps one start's inheritable duplicates away from a child that another thread starts
// at the same moment.
constinit SlimLock start_lock;

static_assert(sizeof(STARTUPINFOW) == 104, "the size the system expects in cb");

bool has_separator(std::string_view program) {
  return program.find_first_of("\\/") != std::string_view::npos;
}

// In a verbatim path "/" is an ordinary character, so only "\" ends the directory part there.
bool ends_in_separator(std::string_view program) {
  if (program.empty()) return false;
  const bool verbatim = program.starts_with(R"(\\?\)");
  return program.back() == '\\' || (!verbatim && program.back() == '/');
}

bool ends_in_exe(std::string_view program) {
  if (program.size() < 4) return false;
  const std::string_view tail = program.substr(program.size() - 4);
  constexpr std::string_view kExe = ".exe";
  for (std::size_t i = 0; i < 4; ++i) {
    char c = tail[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kExe[i]) return false;
  }
  return true;
}

// The system path of candidate when a file or directory is there.
std::optional<std::u16string> existing_program(std::string_view candidate) {
  Result<std::u16string> path = program_system_path(candidate);
  if (!path) return std::nullopt;
  if (::GetFileAttributesW(as_wide(*path)) == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  return std::move(*path);
}

std::optional<std::string> system_directory_text(const SystemTextCall& call) {
  Result<std::u16string> units = read_system_text(call);
  if (!units || units->empty()) return std::nullopt;
  return wtf8_from_utf16(*units);
}

// The folders a bare program name is looked for in, first match winning.
std::vector<std::string> search_directories() {
  std::vector<std::string> directories;
  if (auto own = system_directory_text([](wchar_t* buffer, DWORD size) {
        return ::GetModuleFileNameW(nullptr, buffer, size);
      })) {
    const std::size_t cut = own->find_last_of("\\/");
    if (cut != std::string::npos) directories.push_back(own->substr(0, cut));
  }
  if (auto system = system_directory_text(
          [](wchar_t* buffer, DWORD size) { return ::GetSystemDirectoryW(buffer, size); })) {
    directories.push_back(std::move(*system));
  }
  if (auto windows = system_directory_text(
          [](wchar_t* buffer, DWORD size) { return ::GetWindowsDirectoryW(buffer, size); })) {
    directories.push_back(std::move(*windows));
  }
  // PATH entries are split at ";" outside double quotes; the quotes themselves are dropped.
  if (Result<std::u16string> path = environment_units(u"PATH")) {
    const std::string text = wtf8_from_utf16(*path);
    std::string entry;
    bool in_quotes = false;
    for (const char c : text) {
      if (c == '"') {
        in_quotes = !in_quotes;
      } else if (c == ';' && !in_quotes) {
        if (!entry.empty()) directories.push_back(std::move(entry));
        entry.clear();
      } else {
        entry += c;
      }
    }
    if (!entry.empty()) directories.push_back(std::move(entry));
  }
  return directories;
}

// The three standard handles for the child, as inheritable duplicates (empty where the launcher
// has none).
struct ChildStdHandles {
  std::array<UniqueHandle, 3> handles;

  bool any() const { return handles[0] || handles[1] || handles[2]; }
};

Result<void> duplicate_std_handles(ChildStdHandles& out) {
  constexpr std::array<DWORD, 3> kIds = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  const HANDLE self = ::GetCurrentProcess();
  for (std::size_t i = 0; i < kIds.size(); ++i) {
    const HANDLE own = ::GetStdHandle(kIds[i]);
    if (own == nullptr || own == INVALID_HANDLE_VALUE) continue;
    if (!::DuplicateHandle(self, own, self, out.handles[i].put(), 0, TRUE,
                           DUPLICATE_SAME_ACCESS)) {
      return std::unexpected(Error::os(::GetLastError()));
    }
  }
  return Result<void>();
}

}  // namespace

Result<std::u16string> resolve_program(std::string_view program) {
  if (program.empty() || ends_in_separator(program)) {
    return std::unexpected(Error::fixed(ErrorKind::InvalidInput, "program path has no file name"));
  }
  if (has_separator(program)) {
    // A path is never searched for. Whether it exists is for CreateProcessW to say.
    if (ends_in_exe(program)) return program_system_path(program);
    std::string with_suffix(program);
    with_suffix += ".exe";
    if (std::optional<std::u16string> found = existing_program(with_suffix)) {
      return std::move(*found);
    }
    return program_system_path(program);
  }
  if (program.find('\0') != std::string_view::npos) {
    return std::unexpected(
        Error::fixed(ErrorKind::InvalidInput, "strings passed to WinAPI cannot contain NULs"));
  }
  std::string name(program);
  if (name.find('.') == std::string::npos) name += ".exe";
  for (const std::string& directory : search_directories()) {
    std::string candidate = directory;
    if (!ends_in_separator(candidate)) candidate += '\\';
    candidate += name;
    if (std::optional<std::u16string> found = existing_program(candidate)) {
      return std::move(*found);
    }
  }
  return std::unexpected(Error::fixed(ErrorKind::NotFound, "program not found"));
}

Result<StartedChild> start_child(const ChildCommand& command) {
  Result<std::u16string> program = resolve_program(command.program());
  if (!program) return std::unexpected(program.error());
  Result<std::u16string> line = build_command_line(command);
  if (!line) return std::unexpected(line.error());
  // CreateProcessW may write into the command line, so it gets a buffer of its own.
  std::vector<wchar_t> writable_line(line->begin(), line->end());
  writable_line.push_back(L'\0');

  PROCESS_INFORMATION started{};
  BOOL created = FALSE;
  DWORD create_error = 0;
  {
    const std::lock_guard<SlimLock> lock(start_lock);
    ChildStdHandles std_handles;
    if (Result<void> duplicated = duplicate_std_handles(std_handles); !duplicated) {
      return std::unexpected(duplicated.error());
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    // Without any handle the system's default applies; the fields are set only when one exists.
    if (std_handles.any()) {
      startup.dwFlags = STARTF_USESTDHANDLES;
      startup.hStdInput = std_handles.handles[0].get();
      startup.hStdOutput = std_handles.handles[1].get();
      startup.hStdError = std_handles.handles[2].get();
    }
    created = ::CreateProcessW(as_wide(*program), writable_line.data(), nullptr, nullptr, TRUE,
                               CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup, &started);
    if (!created) create_error = ::GetLastError();
    // The duplicates are closed here, inside the lock, whether the start succeeded or not.
  }
  if (!created) return std::unexpected(Error::os(create_error));
  return StartedChild(UniqueHandle(started.hProcess), UniqueHandle(started.hThread));
}

Result<std::uint32_t> run_and_wait(const ChildCommand& command) {
  Result<StartedChild> child = start_child(command);
  if (!child) return std::unexpected(child.error());
  if (::WaitForSingleObject(child->process(), INFINITE) != WAIT_OBJECT_0) {
    return std::unexpected(Error::os(::GetLastError()));
  }
  DWORD exit_code = 0;
  if (!::GetExitCodeProcess(child->process(), &exit_code)) {
    return std::unexpected(Error::os(::GetLastError()));
  }
  child->close();
  return static_cast<std::uint32_t>(exit_code);
}

}  // namespace brevlo
