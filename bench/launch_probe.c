/* The launcher's own time, measured inside the process: linked only into the benchmark's probe
   variant of the stub (bench/bench.cmake), never into brevlo-stub.exe.

   The link gives -Wl,--wrap=__imp_CreateProcessW, so every call the launcher's code makes through
   the import pointer comes here instead. After the real CreateProcessW returns, one line is
   appended to the file named by BREVLO_BENCH_PROBE_FILE (nothing is written when it is unset):

     <process id> <call number, from 1> <microseconds since the process was created> <1 started | 0 failed>

   The start is the creation time the system keeps for the process (GetProcessTimes), so the
   loader's work before our first instruction is counted. The game is the last program a run
   starts: after the installer in a first run, alone in a launch. */
#include <windows.h>

typedef BOOL(WINAPI* create_process_w)(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                                       BOOL, DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW,
                                       LPPROCESS_INFORMATION);

/* The import pointer the link resolved, under the name --wrap gives it. */
extern create_process_w __real___imp_CreateProcessW;

static LONG calls;

/* Microseconds from the creation of this process to now; -1 when the system does not say. */
static long long microseconds_since_creation(void) {
  FILETIME now, created, exited, kernel, user;
  GetSystemTimePreciseAsFileTime(&now);
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return -1;
  ULARGE_INTEGER a = {.LowPart = now.dwLowDateTime, .HighPart = now.dwHighDateTime};
  ULARGE_INTEGER b = {.LowPart = created.dwLowDateTime, .HighPart = created.dwHighDateTime};
  return (long long)(a.QuadPart - b.QuadPart) / 10;
}

/* Appends the decimal digits of value (at least 0) to the text at end; returns the new end. Kept
   here rather than taken from wsprintf, which would bring user32 into the process. */
static char* put_number(char* end, unsigned long long value) {
  char digits[20];
  int count = 0;
  do {
    digits[count++] = (char)('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0) *end++ = digits[--count];
  return end;
}

static void record(LONG call, long long microseconds, BOOL started) {
  wchar_t path[MAX_PATH];
  const DWORD n = GetEnvironmentVariableW(L"BREVLO_BENCH_PROBE_FILE", path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return;
  char line[80];
  char* end = put_number(line, GetCurrentProcessId());
  *end++ = ' ';
  end = put_number(end, (unsigned long long)call);
  *end++ = ' ';
  if (microseconds < 0) {
    *end++ = '-';
    *end++ = '1';
  } else {
    end = put_number(end, (unsigned long long)microseconds);
  }
  *end++ = ' ';
  *end++ = started ? '1' : '0';
  *end++ = '\n';
  DWORD written;
  WriteFile(file, line, (DWORD)(end - line), &written, NULL);
  CloseHandle(file);
}

static BOOL WINAPI probed_create_process_w(LPCWSTR application, LPWSTR command_line,
                                           LPSECURITY_ATTRIBUTES process_attributes,
                                           LPSECURITY_ATTRIBUTES thread_attributes,
                                           BOOL inherit_handles, DWORD flags, LPVOID environment,
                                           LPCWSTR directory, LPSTARTUPINFOW startup,
                                           LPPROCESS_INFORMATION information) {
  const BOOL started = __real___imp_CreateProcessW(application, command_line, process_attributes,
                                                   thread_attributes, inherit_handles, flags,
                                                   environment, directory, startup, information);
  const long long microseconds = microseconds_since_creation();
  /* The caller reads the last error of a failed start. */
  const DWORD error = GetLastError();
  record(InterlockedIncrement(&calls), microseconds, started);
  SetLastError(error);
  return started;
}

create_process_w __wrap___imp_CreateProcessW = probed_create_process_w;
