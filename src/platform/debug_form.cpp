#include "platform/debug_form.hpp"

#include <algorithm>
#include <iterator>

#include "platform/hex_digit.hpp"
#include "platform/text.hpp"

namespace brevlo {

namespace {

struct Range {
  char32_t first;
  char32_t last;
};

constexpr Range kBraceEscaped[] = {
#include "unicode_tables.inc"
};

std::string escaped(std::string_view text, bool escape_single_quote) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (std::size_t pos = 0; pos < text.size();) {
    const char32_t cp = next_code_point(text, pos);
    switch (cp) {
      case '\t': out += "\\t"; continue;
      case '\r': out += "\\r"; continue;
      case '\n': out += "\\n"; continue;
      case '\0': out += "\\0"; continue;
      case '\\': out += "\\\\"; continue;
      case '"': out += "\\\""; continue;
      case '\'':
        out += escape_single_quote ? "\\'" : "'";
        continue;
      default: break;
    }
    if (needs_brace_escape(cp)) {
      out += "\\u{";
      int shift = 20;
      while (shift > 0 && ((cp >> shift) & 0xF) == 0) shift -= 4;
      for (; shift >= 0; shift -= 4) out += hex_digit(static_cast<unsigned>(cp >> shift));
      out += '}';
    } else {
      append_code_point(out, cp);
    }
  }
  out += '"';
  return out;
}

}  // namespace

bool needs_brace_escape(char32_t cp) {
  auto it = std::upper_bound(std::begin(kBraceEscaped), std::end(kBraceEscaped), cp,
                             [](char32_t value, const Range& r) { return value < r.first; });
  return it != std::begin(kBraceEscaped) && cp <= std::prev(it)->last;
}

std::string quoted_form(std::string_view text) { return escaped(text, false); }

std::string path_debug_form(std::string_view path) { return escaped(path, true); }

}  // namespace brevlo
