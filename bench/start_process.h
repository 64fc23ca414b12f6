/* Starting a program the way the benchmark's floors do: CreateProcessW with the program's quoted
   path and the arguments, the handles inherited, the thread handle closed at once. */
#pragma once
#include <windows.h>

/* Starts "program" args (args may be empty); the process handle, or NULL. */
static HANDLE start(const wchar_t* program, const wchar_t* args) {
  STARTUPINFOW si = {.cb = sizeof si};
  PROCESS_INFORMATION pi;
  wchar_t line[1100];
  if (lstrlenW(program) > 1000) return NULL;
  line[0] = L'"';
  lstrcpynW(line + 1, program, 1001);
  lstrcatW(line, L"\"");
  lstrcatW(line, args);
  if (!CreateProcessW(program, line, NULL, NULL, TRUE, CREATE_UNICODE_ENVIRONMENT, NULL, NULL, &si, &pi)) {
    return NULL;
  }
  CloseHandle(pi.hThread);
  return pi.hProcess;
}

/* Runs the installer at path with /S and waits for it; TRUE when it ended with status 0. */
static BOOL run_silent_installer(const wchar_t* path) {
  HANDLE installer = start(path, L" /S");
  if (installer == NULL) return FALSE;
  DWORD code = 1;
  const BOOL ended = WaitForSingleObject(installer, INFINITE) == WAIT_OBJECT_0 &&
                     GetExitCodeProcess(installer, &code);
  CloseHandle(installer);
  return ended && code == 0;
}
