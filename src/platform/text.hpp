#pragma once
// Text conversions. Inside the launcher texts are UTF-8; text that came from Windows and may hold
// unpaired surrogates is kept as WTF-8 (a surrogate encoded like any other code point), so it
// survives the round trip back to UTF-16 unchanged.

#include <optional>
#include <string>
#include <string_view>

namespace brevlo {

// UTF-16 to WTF-8; unpaired surrogates are kept.
std::string wtf8_from_utf16(std::u16string_view units);

// WTF-8 (or UTF-8) to UTF-16, without a terminating NUL.
std::u16string utf16_from_wtf8(std::string_view text);

// True when the units hold no unpaired surrogate.
bool is_valid_utf16(std::u16string_view units);

// Decodes one code point at text[pos] (pos is advanced); surrogates come back as themselves.
// Bytes that are not WTF-8 come back as U+FFFD one byte at a time.
char32_t next_code_point(std::string_view text, std::size_t& pos);

// Appends the UTF-8 (WTF-8 for surrogates) encoding of cp.
void append_code_point(std::string& out, char32_t cp);

}  // namespace brevlo

namespace brevlo {

// The number in decimal, with a minus sign when negative.
std::string decimal(long long value);

// True for a code point with the Unicode White_Space property.
bool is_white_space(char32_t cp);

// The text without the white space at its end (Unicode White_Space, so CR LF included).
std::string_view trim_end_white_space(std::string_view text);

}  // namespace brevlo
