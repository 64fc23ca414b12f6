#pragma once
// Shared pieces of the Windows tests: scratch folders, environment variables set for one test,
// files read and written whole, and the stand-in child program.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../common/wait_for_file.hpp"
#include "platform/handle_win.hpp"
#include "platform/text.hpp"
#include "platform/windows_api_win.hpp"

#include <tlhelp32.h>

namespace brevlo::wintest {

inline std::wstring wide(std::string_view utf8) {
  const std::u16string units = utf16_from_wtf8(utf8);
  return std::wstring(units.begin(), units.end());
}

inline std::string narrow(std::wstring_view units) { return wtf8_from_utf16(as_u16(units)); }

// True under Wine, whose ntdll exports wine_get_version.
inline bool running_under_wine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

inline std::string module_directory() {
  std::wstring path(32768, L'\0');
  const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(n);
  return narrow(path.substr(0, path.find_last_of(L"\\/")));
}

// The stand-in child program, built beside the test program.
inline std::string child_program() { return module_directory() + "\\brevlo_test_child.exe"; }

inline std::optional<std::string> read_file(const std::string& path) {
  UniqueHandle file(::CreateFileW(wide(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
  if (!file) return std::nullopt;
  std::string content;
  char chunk[4096];
  DWORD got = 0;
  while (::ReadFile(file.get(), chunk, sizeof(chunk), &got, nullptr) && got > 0) {
    content.append(chunk, got);
  }
  return content;
}

inline bool write_file(const std::string& path, std::string_view content) {
  UniqueHandle file(::CreateFileW(wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                  nullptr));
  DWORD written = 0;
  return file && ::WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()),
                             &written, nullptr) &&
         written == content.size();
}

// Removes a folder and everything below it (through \\?\ so that long paths go too).
inline void remove_tree(const std::wstring& verbatim_path) {
  WIN32_FIND_DATAW found{};
  UniqueFindHandle search(::FindFirstFileW((verbatim_path + L"\\*").c_str(), &found));
  if (search) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = verbatim_path + L"\\" + name;
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
          !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        remove_tree(child);
      } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        ::RemoveDirectoryW(child.c_str());
      } else {
        ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(child.c_str());
      }
    } while (::FindNextFileW(search.get(), &found));
  }
  search.reset();
  ::RemoveDirectoryW(verbatim_path.c_str());
}

// A fresh folder under the temporary directory, removed with everything in it at the end.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    wchar_t temp[MAX_PATH + 1];
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, temp);
    static int counter = 0;
    std::wstring base(temp, n);
    if (!base.empty() && base.back() == L'\\') base.pop_back();
    // Process ids come round again, and a folder of an earlier run may still be there: the
    // folder is one that did not exist before.
    do {
      path_ = narrow(base) + "\\brevlo-win-" + std::to_string(::GetCurrentProcessId()) + "-" +
              std::to_string(++counter);
    } while (!::CreateDirectoryW(wide(path_).c_str(), nullptr) &&
             ::GetLastError() == ERROR_ALREADY_EXISTS);
  }
  ~ScratchDirectory() { remove_tree(L"\\\\?\\" + wide(path_)); }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(std::string_view name) const { return path_ + "\\" + std::string(name); }

 private:
  std::string path_;
};

// Sets (or, with nullopt, removes) an environment variable for the life of the object and puts
// the old state back afterwards. The value is raw UTF-16, so it may hold unpaired surrogates.
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(std::wstring name, std::optional<std::wstring> value)
      : name_(std::move(name)) {
    const DWORD needed = ::GetEnvironmentVariableW(name_.c_str(), nullptr, 0);
    if (needed > 0) {
      std::wstring old(needed, L'\0');
      const DWORD n = ::GetEnvironmentVariableW(name_.c_str(), old.data(), needed);
      old.resize(n);
      old_ = old;
    }
    ::SetEnvironmentVariableW(name_.c_str(), value ? value->c_str() : nullptr);
  }
  ~ScopedEnvironmentVariable() {
    ::SetEnvironmentVariableW(name_.c_str(), old_ ? old_->c_str() : nullptr);
  }
  ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
  ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

 private:
  std::wstring name_;
  std::optional<std::wstring> old_;
};

// What the stand-in child wrote about its start ("key: value" lines; "argument" repeats).
struct ChildReport {
  std::string command_line;
  std::vector<std::string> arguments;
  std::string directory;
  std::string startup_flags;
  std::string std_handles;
  std::string echo;
};

inline ChildReport parse_child_report(const std::string& text) {
  ChildReport report;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    const std::size_t colon = line.find(": ");
    if (colon == std::string::npos) continue;
    const std::string key = line.substr(0, colon);
    const std::string value = line.substr(colon + 2);
    if (key == "command_line") report.command_line = value;
    if (key == "argument") report.arguments.push_back(value);
    if (key == "directory") report.directory = value;
    if (key == "startup_flags") report.startup_flags = value;
    if (key == "std_handles") report.std_handles = value;
    if (key == "echo") report.echo = value;
  }
  return report;
}

// Waits until every process that this one started from a program file of the given name (without
// its folder) has ended, so that its file is free again. Reaching the limit fails the test.
inline void wait_for_started_programs(std::wstring_view file_name) {
  UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  ASSERT_TRUE(snapshot) << "cannot list the processes: " << ::GetLastError();
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ParentProcessID != ::GetCurrentProcessId() ||
        ::CompareStringOrdinal(entry.szExeFile, -1, std::wstring(file_name).c_str(), -1, TRUE) !=
            CSTR_EQUAL) {
      continue;
    }
    // One that has ended since the list was made cannot be opened any more.
    UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID));
    if (!process) continue;
    EXPECT_EQ(::WaitForSingleObject(process.get(), test_time::limit_ms()), WAIT_OBJECT_0)
        << "waited " << test_time::shown(test_time::limit()) << " for " << narrow(file_name)
        << " (process " << entry.th32ProcessID << ") to end";
  }
}

// Records that another process writes are waited for by the one rule of all suites.
using test_common::wait_for_file;

}  // namespace brevlo::wintest
