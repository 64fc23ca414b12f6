/* The floor the launcher is measured against: start the program named by the first argument with
   CreateProcessW and exit, nothing else. Given a second argument, an installer, it first runs
   that installer with /S and waits for it (the floor for a first run: the installer, then the
   game, started directly). Exit status 0 when the game was started. */
#include <windows.h>

#include "start_process.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  if (argc > 2 && !run_silent_installer(argv[2])) return 1;
  HANDLE game = start(argv[1], L"");
  if (game == NULL) return 1;
  CloseHandle(game);
  return 0;
}
