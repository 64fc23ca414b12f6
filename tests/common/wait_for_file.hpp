#pragma once
// Waiting for a record that another process writes: the stand-in installer, the demo application
// or the test child. Each of them writes its record under a temporary name and renames it into
// place, so a record is whole as soon as it can be read under its own name; that is the one rule.
// Where the test owns the writer, it waits for the writer's end instead and reads afterwards.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "time_limit.hpp"

namespace brevlo::test_common {

// The whole file, or nothing when it cannot be opened or read. Paths beyond 260 characters are
// read through the verbatim prefix.
inline std::optional<std::string> read_whole_file(const std::filesystem::path& path) {
  std::wstring name = path.wstring();
  if (name.size() >= 3 && name[1] == L':' && name[2] == L'\\') name.insert(0, L"\\\\?\\");
  const HANDLE file = CreateFileW(name.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string content;
  char chunk[4096];
  DWORD got = 0;
  BOOL ok = TRUE;
  while ((ok = ReadFile(file, chunk, sizeof chunk, &got, nullptr)) && got > 0) {
    content.append(chunk, got);
  }
  CloseHandle(file);
  if (!ok) return std::nullopt;
  return content;
}

// Waits for the record at path and gives its content. Once writers_ended() says that every
// process that could write the record has ended, one more look decides: a record still missing
// then never comes, a test failure that names it. Reaching the limit (a minute, scaled) is one
// too. Either way nothing is given.
template <class Ended>
std::optional<std::string> wait_for_file(const std::filesystem::path& path, Ended writers_ended) {
  const auto limit = test_time::limit();
  const auto until = std::chrono::steady_clock::now() + limit;
  const std::u8string shown = path.u8string();
  for (;;) {
    const bool ended = writers_ended();  // asked first: what was written before the end is read
    if (std::optional<std::string> content = read_whole_file(path)) return content;
    if (ended) {
      ADD_FAILURE() << "every process that could write " << std::string(shown.begin(), shown.end())
                    << " has ended without writing it whole";
      return std::nullopt;
    }
    if (std::chrono::steady_clock::now() > until) break;
    Sleep(50);
  }
  ADD_FAILURE() << "waited " << test_time::shown(limit) << " for "
                << std::string(shown.begin(), shown.end()) << " to be complete";
  return std::nullopt;
}

// The same, for a record whose writer the test cannot follow: only the limit ends the wait.
inline std::optional<std::string> wait_for_file(const std::filesystem::path& path) {
  return wait_for_file(path, [] { return false; });
}

}  // namespace brevlo::test_common
