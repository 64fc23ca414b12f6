#pragma once
// The system calls of the install path, reached through one table: the real functions unless a
// test has put its own in an entry. Every entry is listed once, in BREVLO_SYSTEM_CALLS, so that a
// test can visit them all (fail or cut each in turn) without a list of its own.

#include "platform/windows_api_win.hpp"

namespace brevlo {

// RtlGenRandom (advapi32's SystemFunction036), found at its first call: only a run that installs
// loads advapi32. FALSE when it cannot be had.
BOOLEAN WINAPI system_random(PVOID buffer, ULONG length);

// GetTempPath2W where kernel32 has it, else GetTempPathW.
DWORD WINAPI system_temp_path(DWORD size, LPWSTR buffer);

// X(name, entry, default function, what a failed call returns, a representative error code)
#define BREVLO_SYSTEM_CALLS(X)                                                                  \
  X(GetTempPath, temp_path, system_temp_path, 0, ERROR_PATH_NOT_FOUND)                          \
  X(GetDiskFreeSpaceExW, disk_free_space, ::GetDiskFreeSpaceExW, FALSE, ERROR_NOT_READY)        \
  X(RtlGenRandom, random, system_random, FALSE, ERROR_NOT_ENOUGH_MEMORY)                            \
  X(CreateDirectoryW, create_directory, ::CreateDirectoryW, FALSE, ERROR_ACCESS_DENIED)         \
  X(CreateFileW, create_file, ::CreateFileW, INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED)         \
  X(GetFileInformationByHandle, file_information, ::GetFileInformationByHandle, FALSE,          \
    ERROR_ACCESS_DENIED)                                                                        \
  X(SetFileInformationByHandle, set_file_information, ::SetFileInformationByHandle, FALSE,      \
    ERROR_ACCESS_DENIED)                                                                        \
  X(WriteFile, write_file, ::WriteFile, FALSE, ERROR_DISK_FULL)                                 \
  X(FlushFileBuffers, flush_file, ::FlushFileBuffers, FALSE, ERROR_DISK_FULL)                   \
  X(CloseHandle, close_handle, ::CloseHandle, FALSE, ERROR_INVALID_HANDLE)                      \
  X(CreateThread, create_thread, ::CreateThread, nullptr, ERROR_NOT_ENOUGH_MEMORY)              \
  X(WaitForSingleObject, wait, ::WaitForSingleObject, WAIT_FAILED, ERROR_INVALID_HANDLE)        \
  X(CreateProcessW, create_process, ::CreateProcessW, FALSE, ERROR_FILE_NOT_FOUND)              \
  X(GetExitCodeProcess, exit_code, ::GetExitCodeProcess, FALSE, ERROR_INVALID_HANDLE)           \
  X(DeleteFileW, delete_file, ::DeleteFileW, FALSE, ERROR_ACCESS_DENIED)                        \
  X(RemoveDirectoryW, remove_directory, ::RemoveDirectoryW, FALSE, ERROR_ACCESS_DENIED)         \
  X(FindFirstFileW, find_first, ::FindFirstFileW, INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED)    \
  X(FindNextFileW, find_next, ::FindNextFileW, FALSE, ERROR_ACCESS_DENIED)                      \
  X(FindClose, find_close, ::FindClose, FALSE, ERROR_INVALID_HANDLE)                            \
  X(CreateMutexW, create_mutex, ::CreateMutexW, nullptr, ERROR_ACCESS_DENIED)                   \
  X(OpenMutexW, open_mutex, ::OpenMutexW, nullptr, ERROR_ACCESS_DENIED)                         \
  X(ReleaseMutex, release_mutex, ::ReleaseMutex, FALSE, ERROR_NOT_OWNER)

struct SystemCalls {
#define BREVLO_SYSTEM_CALL_ENTRY(name, entry, function, failed, error) \
  decltype(&function) entry = &function;
  BREVLO_SYSTEM_CALLS(BREVLO_SYSTEM_CALL_ENTRY)
#undef BREVLO_SYSTEM_CALL_ENTRY
};

// The process's table; only tests change an entry, before the calls they are about.
SystemCalls& system_calls();

// Closes a handle through the table (a UniqueResource close).
struct SystemCallClose {
  static HANDLE none() noexcept { return INVALID_HANDLE_VALUE; }
  static bool holds(HANDLE handle) noexcept {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
  }
  void operator()(HANDLE handle) const noexcept { (void)system_calls().close_handle(handle); }
};

}  // namespace brevlo
