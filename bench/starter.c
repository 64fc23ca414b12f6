/* The floor for launch overhead: start the program named by the first argument with
   CreateProcessW and exit, nothing else. */
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  STARTUPINFOW si = {sizeof si};
  PROCESS_INFORMATION pi;
  wchar_t line[1024];
  lstrcpynW(line + 1, argv[1], 1000);
  line[0] = L'"';
  lstrcatW(line, L"\"");
  if (!CreateProcessW(argv[1], line, NULL, NULL, TRUE, CREATE_UNICODE_ENVIRONMENT, NULL, NULL, &si, &pi)) return 1;
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return 0;
}
