// A stand-in for the embedded installer, built into test launchers in its place.
//
// When started it records its command line and process id in standin-run.txt beside its own file
// (UTF-8, lines "command_line=<GetCommandLineW>" and "pid=<decimal>"), then, told by its
// environment:
//   BREVLO_STANDIN_COUNT=1     adds a line "run" to standin-runs.txt beside its own file;
//   BREVLO_STANDIN_LOCK=<name> records in standin-lock.txt beside its own file whether another
//                              process holds the mutex <name> ("held") or not ("free");
//   BREVLO_STANDIN_DELAY=<ms>  waits that long before it installs;
//   BREVLO_STANDIN_INSTALL=1   copies the file named by BREVLO_STANDIN_APP to
//                              %LOCALAPPDATA%\<BREVLO_STANDIN_TARGET>, as the real installer
//                              would (the target is Ostrevan\Ostrevan.exe when unset);
//   BREVLO_STANDIN_INSTALL=dir makes a folder at that path instead;
//   BREVLO_STANDIN_READONLY=1  gives its own file the read-only attribute before it ends;
//   BREVLO_STANDIN_HOLD=<name> has a helper process open its own file without delete sharing
//                              and keep it open until the event <name> is set (at most a
//                              minute, scaled by BREVLO_TEST_TIME_SCALE), then close it and set
//                              the event <name>-let-go when that exists; the helper is the
//                              program BREVLO_STANDIN_HOLDER (this program from elsewhere), and
//                              the stand-in ends only once the file is held (exit code 0x61 when
//                              the helper did not hold it within a minute, scaled);
//   BREVLO_STANDIN_DELETE_SELF=1  deletes its own file with DeleteFileW and records the outcome
//                              in standin-delete.txt beside it ("deleted", or "error=<code>");
//   BREVLO_STANDIN_MOVE_SELF=<name>  moves its own file to <name> beside it with MoveFileW and
//                              records the outcome in standin-move.txt likewise;
//   BREVLO_STANDIN_WAIT=<name> waits until the event <name> is set before it ends (exit code
//                              0x65 when the event cannot be opened or is not set within a
//                              minute, scaled);
//   BREVLO_STANDIN_EXIT=<n>    ends with exit code n (decimal, or hexadecimal with 0x, such as
//                              0xC0000005 or 0xFFFFFFFF); 0 when unset.
// The steps run in the order listed, installing first and ending last. Every record is written
// under a temporary name and renamed into place, so a reader never sees part of one.
// Started with BREVLO_STANDIN_HOLDING=<file> in its environment it is that helper and nothing else.
// It is a windowed program, so it never opens a console and never shows anything.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "../common/child_program.hpp"
#include "../common/time_limit.hpp"

namespace {

using brevlo::child_program::own_directory;
using brevlo::child_program::own_path;
using brevlo::child_program::utf8;

// The variable's value; empty when it is not set.
std::wstring variable(const wchar_t* name) {
  return brevlo::child_program::environment_value(name).value_or(std::wstring());
}

// Writes the record named name beside this program, whole or not at all.
bool record(const std::wstring& name, const std::string& text) {
  const std::wstring path = own_directory() + name;
  const std::wstring partial = path + L".partial";
  HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == text.size() &&
         MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

bool make_folder(const std::wstring& folder) {
  return CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool install(const std::wstring& how) {
  std::wstring target = variable(L"BREVLO_STANDIN_TARGET");
  if (target.empty()) target = L"Ostrevan\\Ostrevan.exe";
  const std::wstring app = variable(L"LOCALAPPDATA") + L"\\" + target;
  if (!make_folder(app.substr(0, app.find_last_of(L'\\')))) return false;
  if (how == L"dir") return make_folder(app);
  return CopyFileW(variable(L"BREVLO_STANDIN_APP").c_str(), app.c_str(), FALSE) != 0;
}

// The event that tells the stand-in that its helper holds the file.
std::wstring ready_event_name(const std::wstring& name) { return name + L"-held"; }

// The event that tells the test that the helper has let the file go.
std::wstring let_go_event_name(const std::wstring& name) { return name + L"-let-go"; }

// Sets the named event, when it exists.
void set_event(const std::wstring& name) {
  HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str());
  if (event == nullptr) return;
  SetEvent(event);
  CloseHandle(event);
}

// The helper: opens the file for reading, shared for reading and writing but not for deletion,
// says so, keeps it open until released, and says when it has closed it.
int hold(const std::wstring& file, const std::wstring& event_name) {
  HANDLE held = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 0x62;
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, event_name.c_str());
  set_event(ready_event_name(event_name));
  if (release != nullptr) {
    WaitForSingleObject(release, brevlo::test_time::limit_ms());
    CloseHandle(release);
  }
  CloseHandle(held);
  set_event(let_go_event_name(event_name));
  return 0;
}

// Starts the helper on the stand-in's own file and waits until it holds it.
bool start_holder(const std::wstring& event_name) {
  const std::wstring holder = variable(L"BREVLO_STANDIN_HOLDER");
  if (holder.empty()) return false;
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, ready_event_name(event_name).c_str());
  if (ready == nullptr) return false;
  // The helper learns its file from the environment it inherits.
  if (!SetEnvironmentVariableW(L"BREVLO_STANDIN_HOLDING", own_path().c_str())) return false;
  std::wstring command_line = L"\"" + holder + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  bool held = false;
  if (CreateProcessW(holder.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                     nullptr, &startup, &info)) {
    const HANDLE either[] = {ready, info.hProcess};
    held = WaitForMultipleObjects(2, either, FALSE, brevlo::test_time::limit_ms()) == WAIT_OBJECT_0;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
  CloseHandle(ready);
  return held;
}

}  // namespace

int main() {
  const std::wstring holding = variable(L"BREVLO_STANDIN_HOLDING");
  if (!holding.empty()) return hold(holding, variable(L"BREVLO_STANDIN_HOLD"));

  if (!record(L"standin-run.txt", "command_line=" + utf8(GetCommandLineW()) + "\npid=" +
                                       std::to_string(GetCurrentProcessId()) + "\n")) {
    return 0x5E;
  }
  if (variable(L"BREVLO_STANDIN_COUNT") == L"1") {
    HANDLE runs = CreateFileW((own_directory() + L"standin-runs.txt").c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    const bool counted = runs != INVALID_HANDLE_VALUE && WriteFile(runs, "run\n", 4, &written, nullptr);
    if (runs != INVALID_HANDLE_VALUE) CloseHandle(runs);
    if (!counted) return 0x65;
  }
  const std::wstring lock_name = variable(L"BREVLO_STANDIN_LOCK");
  if (!lock_name.empty()) {
    // Taken at once only when no other process holds it (or its holder has ended); then given
    // back straight away.
    HANDLE lock = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, lock_name.c_str());
    const DWORD waited = lock != nullptr ? WaitForSingleObject(lock, 0) : WAIT_FAILED;
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) ReleaseMutex(lock);
    if (lock != nullptr) CloseHandle(lock);
    if (!record(L"standin-lock.txt", waited == WAIT_TIMEOUT ? "held" : "free")) return 0x66;
  }
  // An installation that takes a while, for launchers started while it runs.
  const std::wstring delay = variable(L"BREVLO_STANDIN_DELAY");
  if (!delay.empty()) Sleep(static_cast<DWORD>(std::wcstoul(delay.c_str(), nullptr, 10)));
  const std::wstring how = variable(L"BREVLO_STANDIN_INSTALL");
  if ((how == L"1" || how == L"dir") && !install(how)) return 0x5F;
  if (variable(L"BREVLO_STANDIN_READONLY") == L"1" &&
      !SetFileAttributesW(own_path().c_str(), FILE_ATTRIBUTE_READONLY)) {
    return 0x60;
  }
  const std::wstring hold_event = variable(L"BREVLO_STANDIN_HOLD");
  if (!hold_event.empty() && !start_holder(hold_event)) return 0x61;
  if (variable(L"BREVLO_STANDIN_DELETE_SELF") == L"1") {
    const std::string outcome = DeleteFileW(own_path().c_str())
                                    ? std::string("deleted")
                                    : "error=" + std::to_string(GetLastError());
    if (!record(L"standin-delete.txt", outcome + "\n")) return 0x63;
  }
  const std::wstring move_to = variable(L"BREVLO_STANDIN_MOVE_SELF");
  if (!move_to.empty()) {
    const std::string outcome = MoveFileW(own_path().c_str(), (own_directory() + move_to).c_str())
                                    ? std::string("moved")
                                    : "error=" + std::to_string(GetLastError());
    if (!record(L"standin-move.txt", outcome + "\n")) return 0x64;
  }
  const std::wstring wait_for = variable(L"BREVLO_STANDIN_WAIT");
  if (!wait_for.empty()) {
    HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, wait_for.c_str());
    if (event == nullptr) return 0x65;
    const DWORD waited = WaitForSingleObject(event, brevlo::test_time::limit_ms());
    CloseHandle(event);
    if (waited != WAIT_OBJECT_0) return 0x65;
  }
  const std::wstring code = variable(L"BREVLO_STANDIN_EXIT");
  ExitProcess(static_cast<UINT>(std::wcstoul(code.c_str(), nullptr, 0)));
}
