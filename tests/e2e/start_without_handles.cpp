// Starts a program as Explorer does, without standard handles, and ends with its exit code:
//   start_without_handles [--set NAME=VALUE]... [--unset NAME]... [--stderr-file PATH] -- PROGRAM
// The program is started with STARTF_USESTDHANDLES and null handles (standard error a file
// created at PATH when given), no handle inheritance otherwise, this program's environment after
// the changes and the program's quoted path as its command line. Exit 0xFE: the arguments are
// wrong or the program cannot be started.
#include <windows.h>

#include <shellapi.h>

#include <string>

int main() {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (args == nullptr) return 0xFE;
  std::wstring program;
  std::wstring stderr_file;
  for (int i = 1; i < count; ++i) {
    const std::wstring arg = args[i];
    if (arg == L"--" && i + 1 < count) {
      program = args[i + 1];
      break;
    }
    if (i + 1 >= count) return 0xFE;
    const std::wstring value = args[++i];
    if (arg == L"--set") {
      const auto eq = value.find(L'=');
      if (eq == std::wstring::npos) return 0xFE;
      SetEnvironmentVariableW(value.substr(0, eq).c_str(), value.substr(eq + 1).c_str());
    } else if (arg == L"--unset") {
      SetEnvironmentVariableW(value.c_str(), nullptr);
    } else if (arg == L"--stderr-file") {
      stderr_file = value;
    } else {
      return 0xFE;
    }
  }
  if (program.empty()) return 0xFE;

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  HANDLE err = nullptr;
  if (!stderr_file.empty()) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    err = CreateFileW(stderr_file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (err == INVALID_HANDLE_VALUE) return 0xFE;
    startup.hStdError = err;
  }
  std::wstring command_line = L"\"" + program + L"\"";
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, err != nullptr, 0,
                      nullptr, nullptr, &startup, &info)) {
    return 0xFE;
  }
  if (err != nullptr) CloseHandle(err);
  CloseHandle(info.hThread);
  WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = 0xFE;
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hProcess);
  return static_cast<int>(code);
}
