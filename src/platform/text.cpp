#include "platform/text.hpp"

#include <charconv>

namespace brevlo {

void append_code_point(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

char32_t next_code_point(std::string_view text, std::size_t& pos) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  std::size_t len;
  char32_t cp;
  char32_t min;
  if (lead < 0x80) {
    ++pos;
    return lead;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    len = 2, cp = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    len = 3, cp = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    len = 4, cp = lead & 0x07, min = 0x10000;
  } else {
    ++pos;
    return 0xFFFD;
  }
  if (pos + len > text.size()) {
    ++pos;
    return 0xFFFD;
  }
  for (std::size_t i = 1; i < len; ++i) {
    const unsigned char b = byte(pos + i);
    if ((b & 0xC0) != 0x80) {
      ++pos;
      return 0xFFFD;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF) {
    ++pos;
    return 0xFFFD;
  }
  pos += len;
  return cp;
}

std::string wtf8_from_utf16(std::u16string_view units) {
  std::string out;
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      u = 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    }
    append_code_point(out, u);
  }
  return out;
}

std::u16string utf16_from_wtf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    const char32_t cp = next_code_point(text, pos);
    if (cp >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

bool is_valid_utf16(std::u16string_view units) {
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 1 >= units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

}  // namespace brevlo

namespace brevlo {

namespace {

struct WhiteSpaceRange {
  char32_t first;
  char32_t last;
};

constexpr WhiteSpaceRange kWhiteSpace[] = {
#include "white_space.inc"
};

}  // namespace

std::string decimal(long long value) {
  char buf[24];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, value).ptr);
}

bool is_white_space(char32_t cp) {
  for (const auto& r : kWhiteSpace) {
    if (cp >= r.first && cp <= r.last) return true;
  }
  return false;
}

std::string_view trim_end_white_space(std::string_view text) {
  std::size_t keep = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const char32_t cp = next_code_point(text, pos);
    if (!is_white_space(cp)) keep = pos;
  }
  return text.substr(0, keep);
}

}  // namespace brevlo
