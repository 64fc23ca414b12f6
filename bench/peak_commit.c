/* Runs the command line given after the program's own name, waits for it, and prints the ended
   process's peak commit (PeakPagefileUsage) and peak working set in bytes, then its exit code. */
#include <windows.h>
#include <psapi.h>
#include <stdio.h>

int wmain(void) {
  wchar_t* line = GetCommandLineW();
  /* Skip our own (possibly quoted) program name. */
  if (*line == L'"') {
    ++line;
    while (*line && *line != L'"') ++line;
    if (*line) ++line;
  } else {
    while (*line && *line != L' ') ++line;
  }
  while (*line == L' ') ++line;
  STARTUPINFOW si = {sizeof si};
  PROCESS_INFORMATION pi;
  if (!CreateProcessW(NULL, line, NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) return 1;
  WaitForSingleObject(pi.hProcess, INFINITE);
  PROCESS_MEMORY_COUNTERS pmc = {sizeof pmc};
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  if (GetProcessMemoryInfo(pi.hProcess, &pmc, sizeof pmc)) {
    printf("peak_pagefile %llu\npeak_working_set %llu\n", (unsigned long long)pmc.PeakPagefileUsage,
           (unsigned long long)pmc.PeakWorkingSetSize);
  } else {
    printf("peak_pagefile unavailable %lu\n", GetLastError());
  }
  printf("exit %lu\n", code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return 0;
}
