/* Runs the command line given after the program's own name, waits for it, and prints the peak
   commit (PeakPagefileUsage) and peak working set in bytes: as the ended process reports them,
   and the largest values seen by polling the running process every millisecond (Wine reports
   nothing for a process that has ended). Then the exit code. */
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
  SIZE_T polled_commit = 0, polled_working_set = 0;
  unsigned samples = 0;
  while (WaitForSingleObject(pi.hProcess, 1) == WAIT_TIMEOUT) {
    PROCESS_MEMORY_COUNTERS live = {sizeof live};
    if (GetProcessMemoryInfo(pi.hProcess, &live, sizeof live)) {
      ++samples;
      if (live.PeakPagefileUsage > polled_commit) polled_commit = live.PeakPagefileUsage;
      if (live.PagefileUsage > polled_commit) polled_commit = live.PagefileUsage;
      if (live.PeakWorkingSetSize > polled_working_set) polled_working_set = live.PeakWorkingSetSize;
    }
  }
  printf("polled_peak_pagefile %llu\npolled_peak_working_set %llu\npolled_samples %u\n",
         (unsigned long long)polled_commit, (unsigned long long)polled_working_set, samples);
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
