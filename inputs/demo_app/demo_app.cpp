// The demo application that the demo installer puts on the machine, standing for the game.
//
// A windowed program without a window: when started it records, in ostrevan-run.txt beside its
// own executable, the command line it received, its current directory and the value of
// BREVLO_TEST_MARK, then ends with exit status 0. The record is UTF-8 with three lines:
//
//   command_line=<GetCommandLineW>
//   current_directory=<GetCurrentDirectoryW>
//   BREVLO_TEST_MARK=<value>          (or "BREVLO_TEST_MARK unset")
//
// It is written to a temporary name first and then moved into place, so that whoever waits for
// the record never reads half of it.
#include <windows.h>

#include <string>

namespace {

std::wstring module_path() {
  std::wstring path(512, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::wstring current_directory() {
  const DWORD needed = GetCurrentDirectoryW(0, nullptr);
  if (needed == 0) return {};
  std::wstring dir(needed, L'\0');
  const DWORD n = GetCurrentDirectoryW(needed, dir.data());
  dir.resize(n);
  return dir;
}

// The variable's value, or nothing when it is not set.
bool read_variable(const wchar_t* name, std::wstring& value) {
  SetLastError(0);
  const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
  if (needed == 0) {
    value.clear();
    return GetLastError() != ERROR_ENVVAR_NOT_FOUND;
  }
  value.assign(needed, L'\0');
  const DWORD n = GetEnvironmentVariableW(name, value.data(), needed);
  value.resize(n);
  return true;
}

std::string utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

// Paths beside a deeply installed executable can pass 260 characters; the verbatim form takes them.
std::wstring long_form(const std::wstring& path) {
  if (path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/')) {
    return L"\\\\?\\" + path;
  }
  return path;
}

bool write_file(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(long_form(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok =
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

}  // namespace

int main() {
  const std::wstring self = module_path();
  const auto slash = self.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return 2;
  const std::wstring dir = self.substr(0, slash + 1);

  std::string record = "command_line=" + utf8(GetCommandLineW()) + "\n";
  record += "current_directory=" + utf8(current_directory()) + "\n";
  std::wstring mark;
  if (read_variable(L"BREVLO_TEST_MARK", mark)) {
    record += "BREVLO_TEST_MARK=" + utf8(mark) + "\n";
  } else {
    record += "BREVLO_TEST_MARK unset\n";
  }

  const std::wstring partial = dir + L"ostrevan-run.txt.partial";
  const std::wstring final_path = dir + L"ostrevan-run.txt";
  if (!write_file(partial, record)) return 3;
  if (!MoveFileExW(long_form(partial).c_str(), long_form(final_path).c_str(),
                   MOVEFILE_REPLACE_EXISTING))
    return 4;
  return 0;
}
