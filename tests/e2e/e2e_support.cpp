#include "e2e_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwctype>
#include <fstream>
#include <sstream>
#include <thread>

namespace brevlo::e2e {

namespace {

constexpr const wchar_t* kRuntimeKey =
    L"SOFTWARE\\WOW6432Node\\Microsoft\\EdgeUpdate\\Clients\\"
    L"{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";

// One owner per handle.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() { reset(); }
  Handle(Handle&& other) noexcept : h_(other.release()) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      reset();
      h_ = other.release();
    }
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  HANDLE release() {
    HANDLE h = h_;
    h_ = nullptr;
    return h;
  }
  void reset() {
    if (h_ != nullptr && h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    h_ = nullptr;
  }
  explicit operator bool() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE h_ = nullptr;
};

Handle inheritable_file(const std::filesystem::path& path) {
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  return Handle(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// A pipe whose writing end the child inherits; the reading end stays with the test.
struct Pipe {
  Handle read;
  Handle write;
};

Pipe inheritable_pipe() {
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  HANDLE r = nullptr;
  HANDLE w = nullptr;
  if (!CreatePipe(&r, &w, &sa, 0)) return {};
  SetHandleInformation(r, HANDLE_FLAG_INHERIT, 0);
  return {Handle(r), Handle(w)};
}

void drain(HANDLE pipe, std::string& into) {
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) into.append(buffer, n);
}

// Reads until the text holds marker, then closes the reading end: later writes into the pipe
// find nobody reading. Sets closed (when there is one) once the end is closed.
void read_then_close(Handle& pipe, const std::string& marker, std::string& into, HANDLE closed) {
  char buffer[4096];
  DWORD n = 0;
  while (into.find(marker) == std::string::npos &&
         ReadFile(pipe.get(), buffer, sizeof buffer, &n, nullptr) && n > 0) {
    into.append(buffer, n);
  }
  pipe.reset();
  if (closed != nullptr) SetEvent(closed);
}

// The launcher and every process it starts, gathered in one job. The job does not end its
// processes when it is closed (the application outlives the launcher as usual), and it reports
// on a completion port when the last of them has ended.
class ProcessGroup {
 public:
  ProcessGroup()
      : job_(CreateJobObjectW(nullptr, nullptr)),
        port_(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1)) {
    if (!job_ || !port_) return;
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT link{};
    link.CompletionKey = job_.get();
    link.CompletionPort = port_.get();
    watched_ = SetInformationJobObject(job_.get(), JobObjectAssociateCompletionPortInformation,
                                       &link, sizeof link) != 0;
  }

  // Whether the group can tell when it has become empty.
  bool watched() const { return watched_; }

  bool add(HANDLE process) const {
    return job_ && AssignProcessToJobObject(job_.get(), process) != 0;
  }

  // Waits until every process of the group has ended; false when the limit passed first.
  bool wait_until_empty(std::chrono::milliseconds limit) const {
    if (!watched_) return false;
    const ULONGLONG until = GetTickCount64() + static_cast<ULONGLONG>(limit.count());
    for (;;) {
      const ULONGLONG now = GetTickCount64();
      if (now >= until) return false;
      DWORD message = 0;
      ULONG_PTR key = 0;
      LPOVERLAPPED detail = nullptr;
      if (!GetQueuedCompletionStatus(port_.get(), &message, &key, &detail,
                                     static_cast<DWORD>(until - now))) {
        return false;
      }
      if (key == reinterpret_cast<ULONG_PTR>(job_.get()) &&
          message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO) {
        return true;
      }
    }
  }

  bool end_all() const { return job_ && TerminateJobObject(job_.get(), 0xFFFFFFFF) != 0; }

 private:
  Handle job_;
  Handle port_;
  bool watched_ = false;
};

// The standard handles of this process, set to nothing for a while and then put back; a child
// that inherits no handles then finds none, as when started from the shell.
class NoStandardHandles {
 public:
  NoStandardHandles()
      : in_(GetStdHandle(STD_INPUT_HANDLE)),
        out_(GetStdHandle(STD_OUTPUT_HANDLE)),
        err_(GetStdHandle(STD_ERROR_HANDLE)) {
    SetStdHandle(STD_INPUT_HANDLE, nullptr);
    SetStdHandle(STD_OUTPUT_HANDLE, nullptr);
    SetStdHandle(STD_ERROR_HANDLE, nullptr);
  }
  ~NoStandardHandles() {
    SetStdHandle(STD_INPUT_HANDLE, in_);
    SetStdHandle(STD_OUTPUT_HANDLE, out_);
    SetStdHandle(STD_ERROR_HANDLE, err_);
  }
  NoStandardHandles(const NoStandardHandles&) = delete;
  NoStandardHandles& operator=(const NoStandardHandles&) = delete;

 private:
  HANDLE in_;
  HANDLE out_;
  HANDLE err_;
};

std::wstring key_path_of(const std::vector<std::wstring>& parts, std::size_t count) {
  std::wstring path;
  for (std::size_t i = 0; i < count; ++i) {
    if (i != 0) path += L'\\';
    path += parts[i];
  }
  return path;
}

}  // namespace

std::wstring widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string narrow(const std::wstring& utf16) {
  if (utf16.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()),
                                    nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

std::wstring windows_path(const std::string& unix_path) {
  std::wstring path = L"Z:" + widen(unix_path);
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

std::string escaped_path(const std::wstring& path) {
  std::string out;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    const bool lone_surrogate = i < path.size() && path[i] >= 0xD800 && path[i] <= 0xDFFF &&
                                !(path[i] <= 0xDBFF && i + 1 < path.size() &&
                                  path[i + 1] >= 0xDC00 && path[i + 1] <= 0xDFFF);
    if (i < path.size() && !lone_surrogate) {
      if (path[i] >= 0xD800 && path[i] <= 0xDBFF) ++i;  // a pair stays whole
      continue;
    }
    for (char c : narrow(path.substr(start, i - start))) {
      if (c == '\\' || c == '"' || c == '\'') out += '\\';
      out += c;
    }
    if (lone_surrogate) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "\\u{%x}", static_cast<unsigned>(path[i]));
      out += hex;
    }
    start = i + 1;
  }
  return out;
}

std::string quoted_path(const std::wstring& path) { return "\"" + escaped_path(path) + "\""; }

std::string system_error_text(DWORD code) {
  wchar_t buffer[2048];
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, buffer, 2048, nullptr);
  std::wstring message(buffer, n);
  while (!message.empty() && iswspace(message.back())) message.pop_back();
  return narrow(message) + " (os error " + std::to_string(code) + ")";
}

bool Environment::NoCase::operator()(const std::wstring& a, const std::wstring& b) const {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                              static_cast<int>(b.size()), TRUE) == CSTR_LESS_THAN;
}

Environment::Environment() {
  wchar_t* strings = GetEnvironmentStringsW();
  for (const wchar_t* p = strings; *p != L'\0'; p += wcslen(p) + 1) {
    const std::wstring entry(p);
    // Entries such as "=C:=C:\dir" keep their leading '='.
    const auto eq = entry.find(L'=', 1);
    if (eq == std::wstring::npos) continue;
    vars_[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  FreeEnvironmentStringsW(strings);
  // A stack trace instead of the note line would change every fatal-stop report.
  unset(L"BREVLO_BACKTRACE");
}

void Environment::set(const std::wstring& name, const std::wstring& value) { vars_[name] = value; }

void Environment::unset(const std::wstring& name) { vars_.erase(name); }

std::wstring Environment::block() const {
  std::wstring block;
  for (const auto& [name, value] : vars_) {
    block += name;
    block += L'=';
    block += value;
    block += L'\0';
  }
  block += L'\0';
  return block;
}

namespace {

// Runs going on now, and whether any run so far left processes it could not wait for.
std::atomic<int> g_runs_going{0};
std::atomic<bool> g_processes_left{false};

RunResult run_and_collect(const LaunchOptions& options, const std::filesystem::path& scratch) {
  RunResult run;
  run.exit_code = 0xFFFFFFFF;
  const auto out_path = scratch / L"launcher-stdout.txt";
  const auto err_path = scratch / L"launcher-stderr.txt";

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  BOOL inherit = TRUE;
  Handle out_file;
  Handle err_file;
  Pipe out_pipe;
  Pipe err_pipe;
  switch (options.handles) {
    case Handles::Files:
      out_file = inheritable_file(out_path);
      err_file = inheritable_file(err_path);
      startup.hStdOutput = out_file.get();
      startup.hStdError = err_file.get();
      break;
    case Handles::Pipes:
      out_pipe = inheritable_pipe();
      err_pipe = inheritable_pipe();
      startup.hStdOutput = out_pipe.write.get();
      startup.hStdError = err_pipe.write.get();
      break;
    case Handles::ClosedStdoutPipe:
      out_pipe = inheritable_pipe();
      out_pipe.read.reset();
      err_file = inheritable_file(err_path);
      startup.hStdOutput = out_pipe.write.get();
      startup.hStdError = err_file.get();
      break;
    case Handles::StdoutPipeClosedMidway:
      out_pipe = inheritable_pipe();
      err_file = inheritable_file(err_path);
      startup.hStdOutput = out_pipe.write.get();
      startup.hStdError = err_file.get();
      break;
    case Handles::None:
      inherit = FALSE;
      break;
  }
  if (options.handles != Handles::None) {
    EXPECT_NE(startup.hStdOutput, nullptr);
    EXPECT_NE(startup.hStdError, nullptr);
    startup.dwFlags = STARTF_USESTDHANDLES;
  }

  std::wstring command_line = L"\"" + options.program + L"\"";
  if (!options.arguments.empty()) command_line += L" " + options.arguments;
  std::wstring environment = options.environment.block();
  Handle stdout_closed;
  if (!options.stdout_closed_event.empty()) {
    stdout_closed = Handle(CreateEventW(nullptr, TRUE, FALSE, options.stdout_closed_event.c_str()));
    if (!stdout_closed) {
      ADD_FAILURE() << "cannot create the event " << narrow(options.stdout_closed_event) << ": "
                    << GetLastError();
      return run;
    }
  }
  ProcessGroup group;
  if (options.wait_for_everything_started && !group.watched()) {
    ADD_FAILURE() << "this system does not report when a job's last process has ended ("
                  << GetLastError() << "), so the run cannot wait for what the launcher started";
    return run;
  }
  PROCESS_INFORMATION info{};
  BOOL created = FALSE;
  {
    std::optional<NoStandardHandles> none;
    if (options.handles == Handles::None) none.emplace();
    // Started suspended only to join the job below before it can start anything itself.
    created = CreateProcessW(
        options.program.c_str(), command_line.data(), nullptr, nullptr, inherit,
        CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED, environment.data(),
        options.current_directory ? options.current_directory->c_str() : nullptr, &startup, &info);
  }
  const DWORD create_error = GetLastError();
  // Everything the launcher starts shares its job, so that the run can wait for all of it and a
  // run that hangs (an installer waiting for a user, say) can be ended whole.
  if (created) {
    if (!group.add(info.hProcess)) {
      ADD_FAILURE() << "cannot put " << narrow(options.program) << " in a job: " << GetLastError();
      TerminateProcess(info.hProcess, 0xFFFFFFFF);
    }
    ResumeThread(info.hThread);
  }
  // The child holds its own copies now; the reading ends see the end of data once every
  // writer (the launcher and whatever it started with its handles) has gone.
  out_file.reset();
  err_file.reset();
  out_pipe.write.reset();
  err_pipe.write.reset();
  if (!created) {
    ADD_FAILURE() << "CreateProcessW failed with " << create_error << " for "
                  << narrow(options.program);
    return run;
  }
  Handle process(info.hProcess);
  Handle thread(info.hThread);

  std::string piped_out;
  std::string piped_err;
  std::thread out_reader;
  std::thread err_reader;
  if (options.handles == Handles::Pipes) {
    out_reader = std::thread(drain, out_pipe.read.get(), std::ref(piped_out));
    err_reader = std::thread(drain, err_pipe.read.get(), std::ref(piped_err));
  }
  if (options.handles == Handles::StdoutPipeClosedMidway) {
    out_reader = std::thread(read_then_close, std::ref(out_pipe.read),
                             std::cref(options.close_stdout_after), std::ref(piped_out),
                             stdout_closed.get());
  }

  const auto limit = test_time::limit(options.timeout);
  const DWORD waited = WaitForSingleObject(process.get(), static_cast<DWORD>(limit.count()));
  if (waited != WAIT_OBJECT_0) {
    ADD_FAILURE() << "waited " << test_time::shown(limit) << " for " << narrow(options.program)
                  << " to end";
    if (!group.end_all()) TerminateProcess(process.get(), 0xFFFFFFFF);
    WaitForSingleObject(process.get(), test_time::limit_ms());
  } else {
    GetExitCodeProcess(process.get(), &run.exit_code);
    if (options.wait_for_everything_started) {
      const auto rest = test_time::limit();
      run.everything_ended = group.wait_until_empty(rest);
      if (!run.everything_ended) {
        ADD_FAILURE() << "waited " << test_time::shown(rest) << " for the processes that "
                      << narrow(options.program) << " started to end";
        group.end_all();
      }
    }
  }
  if (out_reader.joinable()) out_reader.join();
  if (err_reader.joinable()) err_reader.join();

  switch (options.handles) {
    case Handles::Files:
      run.out = read_file(out_path).value_or("<no stdout file>");
      run.err = read_file(err_path).value_or("<no stderr file>");
      break;
    case Handles::Pipes:
      run.out = std::move(piped_out);
      run.err = std::move(piped_err);
      break;
    case Handles::ClosedStdoutPipe:
      run.err = read_file(err_path).value_or("<no stderr file>");
      break;
    case Handles::StdoutPipeClosedMidway:
      run.out = std::move(piped_out);
      run.err = read_file(err_path).value_or("<no stderr file>");
      break;
    case Handles::None:
      break;
  }
  return run;
}

}  // namespace

RunResult run_program(const LaunchOptions& options, const std::filesystem::path& scratch) {
  ++g_runs_going;
  RunResult run = run_and_collect(options, scratch);
  if (!run.everything_ended) g_processes_left = true;
  --g_runs_going;
  return run;
}

bool launched_processes_ended() { return g_runs_going == 0 && !g_processes_left; }

void note_processes_outside_runs() { g_processes_left = true; }

std::optional<std::string> read_file(const std::filesystem::path& path) {
  std::ifstream in(std::filesystem::path(verbatim(path)), std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool write_file(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

std::map<std::string, std::string> read_record(const std::filesystem::path& path) {
  return parse_record(read_file(path).value_or(""));
}

std::map<std::string, std::string> parse_record(const std::string& text) {
  std::map<std::string, std::string> record;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) {
      record[line] = "";
    } else {
      record[line.substr(0, eq)] = line.substr(eq + 1);
    }
  }
  return record;
}

std::wstring verbatim(const std::filesystem::path& path) {
  const std::wstring text = path.wstring();
  if (text.rfind(L"\\\\?\\", 0) == 0) return text;
  return L"\\\\?\\" + text;
}

namespace {

// Removes a folder and everything below it, read-only files and paths of any length included.
void remove_tree(const std::wstring& folder) {
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = folder + L"\\" + name;
      SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        remove_tree(child);
      } else {
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}

}  // namespace

bool make_folders(const std::filesystem::path& folder) {
  const std::wstring full = verbatim(folder);
  // Every level after the "\\?\X:\" root, one by one.
  for (std::size_t at = full.find(L'\\', 7); at != std::wstring::npos;
       at = full.find(L'\\', at + 1)) {
    CreateDirectoryW(full.substr(0, at).c_str(), nullptr);
  }
  return CreateDirectoryW(full.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

std::string current_test_name() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  std::replace(name.begin(), name.end(), '/', '_');
  return name;
}

std::filesystem::path fresh_folder(const std::string& name) {
  std::wstring path = widen(std::string(BREVLO_E2E_SCRATCH) + "/" + name);
  std::replace(path.begin(), path.end(), L'/', L'\\');
  const std::filesystem::path folder(path);
  // Whatever an earlier run left there goes first; a test never starts on an earlier one's files.
  remove_tree(verbatim(folder));
  EXPECT_EQ(GetFileAttributesW(verbatim(folder).c_str()), INVALID_FILE_ATTRIBUTES)
      << "cannot remove what an earlier run left in " << narrow(folder.wstring());
  EXPECT_TRUE(make_folders(folder)) << "cannot create " << narrow(folder.wstring());
  return folder;
}

RuntimeRegistration::RuntimeRegistration(bool registered) {
  std::vector<std::wstring> parts;
  std::wstringstream path(kRuntimeKey);
  for (std::wstring part; std::getline(path, part, L'\\');) parts.push_back(part);

  // Remember which keys this object creates, so that they go again afterwards.
  for (std::size_t depth = 1; depth <= parts.size(); ++depth) {
    HKEY probe = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path_of(parts, depth).c_str(), 0, KEY_READ, &probe) ==
        ERROR_SUCCESS) {
      RegCloseKey(probe);
    } else {
      created_keys_.push_back(key_path_of(parts, depth));
    }
  }

  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRuntimeKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    ADD_FAILURE() << "cannot create the runtime key under HKLM";
    return;
  }
  DWORD size = 0;
  if (RegQueryValueExW(key, L"pv", nullptr, &old_type_, nullptr, &size) == ERROR_SUCCESS) {
    value_existed_ = true;
    old_data_.resize(size);
    RegQueryValueExW(key, L"pv", nullptr, &old_type_, old_data_.data(), &size);
    old_data_.resize(size);
  }
  LSTATUS status = ERROR_SUCCESS;
  if (registered) {
    static const wchar_t kVersion[] = L"120.0.2210.91";
    status = RegSetValueExW(key, L"pv", 0, REG_SZ, reinterpret_cast<const BYTE*>(kVersion),
                            sizeof kVersion);
  } else if (value_existed_) {
    status = RegDeleteValueW(key, L"pv");
  }
  RegCloseKey(key);
  ok_ = status == ERROR_SUCCESS;
  if (!ok_) ADD_FAILURE() << "cannot set the runtime registration: " << status;
}

RuntimeRegistration::~RuntimeRegistration() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRuntimeKey, 0, KEY_READ | KEY_WRITE, &key) ==
      ERROR_SUCCESS) {
    if (value_existed_) {
      RegSetValueExW(key, L"pv", 0, old_type_, old_data_.data(),
                     static_cast<DWORD>(old_data_.size()));
    } else {
      RegDeleteValueW(key, L"pv");
    }
    RegCloseKey(key);
  }
  for (auto it = created_keys_.rbegin(); it != created_keys_.rend(); ++it) {
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, it->c_str());
  }
}

bool under_wine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void ScratchMachine::make_machine(const std::string& group, const std::string& mark,
                                  bool make_temp) {
  // What earlier tests left running writes into their own folders, never into this one.
  g_processes_left = false;
  folder_ = fresh_folder(group + current_test_name());
  local_ = folder_ / L"local";
  cwd_ = folder_ / L"cwd";
  fs::create_directories(local_);
  fs::create_directories(cwd_);
  use_temp(folder_ / L"temp", make_temp);
  app_ = local_ / L"Ostrevan" / L"Ostrevan.exe";
  mark_ = mark;

  options_.environment.set(L"LOCALAPPDATA", local_.wstring());
  options_.environment.set(L"BREVLO_TEST_MARK", widen(mark_));
  options_.current_directory = cwd_.wstring();
}

void ScratchMachine::TearDown() {
  if (HasFailure()) return;
  // An application the launcher started may still be on its way out, holding its executable.
  const std::wstring folder = verbatim(folder_);
  for (int tries = 0; tries < 100; ++tries) {
    remove_tree(folder);
    if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

void ScratchMachine::use_stand_in(const std::string& launcher) {
  options_.program = windows_path(launcher);
  options_.environment.set(L"BREVLO_STANDIN_APP", windows_path(BREVLO_E2E_DEMO_APP));
  options_.environment.set(L"BREVLO_STANDIN_INSTALL", L"0");
  options_.environment.set(L"BREVLO_STANDIN_EXIT", L"0");
}

void ScratchMachine::read_image() {
  image_ = read_file(windows_path(BREVLO_E2E_STANDIN)).value_or("");
  ASSERT_FALSE(image_.empty()) << "the stand-in installer is missing";
}

void ScratchMachine::use_temp(const fs::path& temp, bool create) {
  temp_ = temp;
  if (create) fs::create_directories(temp_);
  options_.environment.set(L"TEMP", temp_.wstring());
  options_.environment.set(L"TMP", temp_.wstring());
  installer_ = temp_ / L"setup_temp.exe";
}

void ScratchMachine::place_app(const fs::path& exe) {
  ASSERT_TRUE(make_folders(exe.parent_path())) << narrow(exe.parent_path().wstring());
  ASSERT_TRUE(CopyFileW(windows_path(BREVLO_E2E_DEMO_APP).c_str(), verbatim(exe).c_str(), FALSE))
      << narrow(exe.wstring()) << ": " << GetLastError();
}

void ScratchMachine::folder_start_error(const fs::path& path, DWORD& code) {
  std::wstring probe_line = L"\"" + path.wstring() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  ASSERT_FALSE(CreateProcessW(path.c_str(), probe_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              nullptr, &startup, &info));
  code = GetLastError();
}

std::string ScratchMachine::extracting_line() const {
  return std::string(kExtracting) + "setup_temp.exe 到 " + quoted_path(installer_.wstring()) +
         "\n";
}

std::string ScratchMachine::out_until_installer(bool silent) const {
  return std::string(silent ? kProbeTrue : kProbeFalse) + kNotInstalled + extracting_line() +
         kStartInstall + (silent ? kSilent : "");
}

std::string ScratchMachine::installer_command_line() const {
  const fs::path record = temp_ / L"standin-run.txt";
  if (!fs::exists(record)) return "<the installer did not run>";
  return read_record(record)["command_line"];
}

void ScratchMachine::expect_app_ran(const fs::path& exe, const std::wstring& command_line,
                                    const std::wstring& cwd) {
  const fs::path record = exe.parent_path() / L"ostrevan-run.txt";
  const std::optional<std::string> text = wait_for_file(record, launched_processes_ended);
  ASSERT_TRUE(text.has_value()) << "the application did not run";
  auto fields = parse_record(*text);
  EXPECT_EQ(fields["command_line"], narrow(command_line));
  EXPECT_EQ(fields["current_directory"], narrow(cwd));
  EXPECT_EQ(fields["BREVLO_TEST_MARK"], mark_);
}

void ScratchMachine::expect_app_not_run(const RunResult& run, const fs::path& exe) {
  ASSERT_TRUE(run.everything_ended)
      << "the run did not wait for what the launcher started, so a start could still come";
  const fs::path record = exe.parent_path() / L"ostrevan-run.txt";
  EXPECT_FALSE(fs::exists(record)) << "the application was started: " << narrow(record.wstring());
}

void ScratchMachine::expect_app_ran(const fs::path& exe, const std::wstring& command_line) {
  expect_app_ran(exe, command_line, cwd_.wstring());
}

void ScratchMachine::expect_app_ran(const fs::path& exe) {
  expect_app_ran(exe, L"\"" + exe.wstring() + L"\"");
}

void ScratchMachine::expect_app_ran() { expect_app_ran(app_); }

}  // namespace brevlo::e2e
