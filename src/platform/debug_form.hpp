#pragma once
// The escaped forms in which texts and paths appear inside messages.

#include <string>
#include <string_view>

namespace brevlo {

// True for a code point that the escaped forms write as \u{...}: a character that does not print
// (control, format, separator other than the space, private use, unassigned, surrogate) or a
// grapheme extender (combining marks and the like). Follows the Unicode tables of the build.
bool needs_brace_escape(char32_t cp);

// The text between double quotes with escapes: \\ \" \t \r \n \0, \u{hex} for characters that
// need it; a single quote stays as it is. Used for message texts (parse errors, system messages).
std::string quoted_form(std::string_view text);

// The path debug form: as quoted_form, but a single quote is escaped as \' too. The path is
// WTF-8, so an unpaired surrogate shows as \u{d800}.
std::string path_debug_form(std::string_view path);

}  // namespace brevlo
