#pragma once
// The forms in which paths are handed to the system. Every rule is pure text work; the one
// question to the system (the absolute form of a path, GetFullPathNameW on Windows) comes in as a
// function, so the rules can be checked anywhere. The Windows wrappers are in system_text_win.hpp.

#include <functional>
#include <string>
#include <string_view>

#include "platform/error.hpp"

namespace brevlo {

// Gives the absolute form of a path (without NUL), or the system's error.
using FullPathQuery = std::function<Result<std::u16string>(const std::u16string& path)>;

// A text as UTF-16 for a system call (its NUL terminator is the string's own); an interior NUL
// fails with "strings passed to WinAPI cannot contain NULs".
[[nodiscard]] Result<std::u16string> to_system_units(std::string_view text);

// The form a file-system call accepts beyond 260 characters: paths starting \\?\ or \??\ stay;
// below 247 units a drive path (C:, C:\x) or one starting with two separators stays; every other
// path is made absolute and given the verbatim prefix (\\?\C:\..., \\?\UNC\server\...,
// \\?\ in place of \\.\); a failing query is the error.
[[nodiscard]] Result<std::u16string> file_system_path_form(std::u16string path,
                                                           const FullPathQuery& full_path);

// The form of a program path for CreateProcessW: more than 259 units stays; \\?\C:\x and
// \\?\UNC\server\x lose their prefix when the absolute form of the rest is that rest; other
// \\?\ and \??\ paths stay; below 247 units a drive path or one starting with two separators
// stays; every other path is made absolute and gets the verbatim prefix only when the result has
// 247 units or more.
[[nodiscard]] Result<std::u16string> program_path_form(std::u16string path,
                                                       const FullPathQuery& full_path);

}  // namespace brevlo
