/* The floor of a first run: the unavoidable work of installing from an installer carried inside
   the program. The installer is the data after this program's own image (appended by bench/run.sh,
   followed by its length as 8 little-endian bytes); it is written from where it is mapped to
   %TEMP%\setup_temp.exe with one WriteFile and a flush, run with /S and waited for, then the game
   named by the first argument is started and the file removed. Exit status 0 when the game was
   started. */
#include <windows.h>

#include "start_process.h"

/* Writes the installer carried at the end of this program's file to path. */
static BOOL write_installer(const wchar_t* path) {
  wchar_t self[MAX_PATH];
  if (GetModuleFileNameW(NULL, self, MAX_PATH) == 0) return FALSE;
  HANDLE file = CreateFileW(self, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return FALSE;
  LARGE_INTEGER size;
  HANDLE mapping = NULL;
  const unsigned char* view = NULL;
  BOOL ok = GetFileSizeEx(file, &size) && size.QuadPart > 8 &&
            (mapping = CreateFileMappingW(file, NULL, PAGE_READONLY, 0, 0, NULL)) != NULL &&
            (view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0)) != NULL;
  if (ok) {
    unsigned long long length = 0;
    for (int i = 7; i >= 0; --i) length = length << 8 | view[size.QuadPart - 8 + i];
    ok = length <= (unsigned long long)size.QuadPart - 8 && length <= 0xFFFFFFFF;
    if (ok) {
      const unsigned char* installer = view + size.QuadPart - 8 - length;
      HANDLE out = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
      DWORD written = 0;
      ok = out != INVALID_HANDLE_VALUE &&
           WriteFile(out, installer, (DWORD)length, &written, NULL) && written == length &&
           FlushFileBuffers(out);
      if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    }
  }
  if (view != NULL) UnmapViewOfFile(view);
  if (mapping != NULL) CloseHandle(mapping);
  CloseHandle(file);
  return ok;
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  wchar_t path[MAX_PATH + 20];
  const DWORD length = GetTempPathW(MAX_PATH, path);
  if (length == 0 || length > MAX_PATH) return 1;
  lstrcatW(path, L"setup_temp.exe");
  if (!write_installer(path)) return 1;
  if (!run_silent_installer(path)) return 1;
  HANDLE game = start(argv[1], L"");
  if (game == NULL) return 1;
  CloseHandle(game);
  DeleteFileW(path);
  return 0;
}
