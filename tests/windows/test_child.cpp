// The stand-in child of the Windows tests: a windowed program without a window that records how
// it was started and ends with a chosen exit code. Controlled through its environment:
//   BREVLO_CHILD_REPORT       where the record goes (else "<own path>.report" beside itself);
//   BREVLO_CHILD_EXIT         the exit code, decimal or 0x-hex (else 0);
//   BREVLO_CHILD_STDOUT_TEXT  a text written to the standard output handle it was given;
//   BREVLO_CHILD_ECHO         a value copied into the record.
// The record is UTF-8 (WTF-8 where the units are not valid UTF-16), one "key: value" a line:
//   command_line, argument (once per argument as the system splits them), directory,
//   startup_flags (decimal), std_handles ("in out err", each "set" or "none"), echo.
// It is written under a temporary name and renamed into place, so a reader never sees half.
#include <cwchar>
#include <optional>
#include <string>

#include "../common/child_program.hpp"
#include "platform/handle_win.hpp"
#include "platform/text.hpp"
#include "platform/windows_api_win.hpp"

#include <shellapi.h>

namespace {

using brevlo::child_program::own_path;

// WTF-8, so that an unpaired surrogate the child was given survives into its record.
std::string utf8(std::wstring_view units) { return brevlo::wtf8_from_utf16(brevlo::as_u16(units)); }

std::optional<std::wstring> variable(const wchar_t* name) {
  return brevlo::child_program::environment_value(name);
}

std::string record() {
  std::string text = "command_line: " + utf8(GetCommandLineW()) + "\n";
  int count = 0;
  if (wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count)) {
    for (int i = 1; i < count; ++i) text += "argument: " + utf8(words[i]) + "\n";
    LocalFree(words);
  }
  std::wstring directory(32768, L'\0');
  directory.resize(GetCurrentDirectoryW(static_cast<DWORD>(directory.size()), directory.data()));
  text += "directory: " + utf8(directory) + "\n";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  GetStartupInfoW(&startup);
  text += "startup_flags: " + std::to_string(startup.dwFlags) + "\n";
  const auto shown = [](DWORD id) {
    const HANDLE handle = GetStdHandle(id);
    return (handle == nullptr || handle == INVALID_HANDLE_VALUE) ? "none" : "set";
  };
  text += std::string("std_handles: ") + shown(STD_INPUT_HANDLE) + " " + shown(STD_OUTPUT_HANDLE) +
          " " + shown(STD_ERROR_HANDLE) + "\n";
  const std::optional<std::wstring> echo = variable(L"BREVLO_CHILD_ECHO");
  text += "echo: " + (echo ? utf8(*echo) : std::string("<unset>")) + "\n";
  return text;
}

void write_record(const std::wstring& path, const std::string& text) {
  const std::wstring partial = path + L".partial";
  {
    brevlo::UniqueHandle file(
        CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) return;
    DWORD written = 0;
    WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }
  MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  if (const std::optional<std::wstring> text = variable(L"BREVLO_CHILD_STDOUT_TEXT")) {
    const std::string bytes = utf8(*text);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &written, nullptr);
  }
  const std::optional<std::wstring> report = variable(L"BREVLO_CHILD_REPORT");
  write_record(report ? *report : own_path() + L".report", record());
  const std::optional<std::wstring> code = variable(L"BREVLO_CHILD_EXIT");
  ExitProcess(code ? static_cast<UINT>(std::wcstoul(code->c_str(), nullptr, 0)) : 0);
}
