#pragma once
// Files and folders the install path makes and removes, every call through the system call table.
// Paths are WTF-8 and may be long; nothing here follows a link it did not make.

#include <cstdint>
#include <span>
#include <string>

#include "platform/error.hpp"
#include "platform/system_calls_win.hpp"
#include "platform/unique_resource.hpp"

namespace brevlo {

// A handle closed through the table.
using SystemHandle = UniqueResource<HANDLE, SystemCallClose>;

// The last system error as an Error.
Error last_system_error();

// Creates the folder; with existing_ok, a folder already there (not a link) will do.
[[nodiscard]] Result<void> make_folder(const std::string& path, bool existing_ok);

// Removes whatever sits at path (a file or a link, never what a link points to), then creates a
// new file there for writing, shared only for reading. A file made there in between fails it.
[[nodiscard]] Result<SystemHandle> create_unlinked_file(const std::string& path);

// Creates a file that must not exist yet, for writing, shared only for reading.
[[nodiscard]] Result<SystemHandle> create_new_file(const std::string& path);

// Writes every byte with WriteFile.
[[nodiscard]] Result<void> write_through(HANDLE file, std::span<const std::uint8_t> bytes);

// Writes bytes, flushes them to the disk and closes the file; the first failure is the result
// (the file is closed whatever happens).
[[nodiscard]] Result<void> write_flush_close(SystemHandle& file,
                                             std::span<const std::uint8_t> bytes);

// Flushes and closes the file, reporting the first failure.
[[nodiscard]] Result<void> flush_and_close(SystemHandle& file);

// DeleteFileW, and for access denied (a read-only file, say) one POSIX-semantics delete that
// ignores the read-only attribute; a failure reports DeleteFileW's own error. With missing_ok a
// file that is not there counts as removed.
[[nodiscard]] Result<void> remove_file(const std::string& path, bool missing_ok);

}  // namespace brevlo
