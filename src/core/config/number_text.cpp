#include "core/config/number_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>

namespace brevlo {

namespace {

template <class Int>
std::optional<Int> parse_integer(std::string_view text) {
  Int value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

std::string float_text(double value) {
  // The shortest scientific form that reads back as the same double ("1e+300", "-2.5e-07",
  // "0e+00"): the first precision whose correctly rounded digits round-trip. Its digits are then
  // written out in full, since fixed notation would print the exact binary value (all 301 digits
  // of 1e300) rather than the shortest one. (snprintf rather than std::to_chars for doubles,
  // whose tables would more than double the launcher's code.)
  char buffer[40];
  int length = 0;
  for (int precision = 0; precision <= 16; ++precision) {
    length = std::snprintf(buffer, sizeof buffer, "%.*e", precision, value);
    if (std::strtod(buffer, nullptr) == value) break;
  }
  std::string_view sci(buffer, static_cast<std::size_t>(length));

  std::string out;
  if (sci.front() == '-') {
    out += '-';
    sci.remove_prefix(1);
  }
  const std::size_t e = sci.find('e');
  std::string digits;
  for (char c : sci.substr(0, e)) {
    if (c != '.') digits += c;
  }
  std::string_view exponent_text = sci.substr(e + 1);
  const bool negative_exponent = exponent_text.front() == '-';
  exponent_text.remove_prefix(1);  // the sign, always present
  const std::size_t magnitude = parse_integer<std::size_t>(exponent_text).value_or(0);

  if (negative_exponent) {
    out += "0.";
    out.append(magnitude - 1, '0');
    out += digits;
  } else if (digits.size() <= magnitude + 1) {
    out += digits;
    out.append(magnitude + 1 - digits.size(), '0');
    out += ".0";
  } else {
    out += digits.substr(0, magnitude + 1);
    out += '.';
    out += digits.substr(magnitude + 1);
  }
  return out;
}

std::optional<std::string> describe_number(std::string_view json_number) {
  if (json_number.find_first_of(".eE") == std::string_view::npos) {
    if (json_number.starts_with('-')) {
      // -0 is minus zero, a floating-point value.
      if (const auto n = parse_integer<std::int64_t>(json_number); n && *n != 0) {
        return "integer `" + std::to_string(*n) + "`";
      }
    } else if (const auto n = parse_integer<std::uint64_t>(json_number)) {
      return "integer `" + std::to_string(*n) + "`";
    }
  }
  // strtod rounds correctly and gives zero for a value too small to represent, infinity for one
  // too large. The text is JSON, so the decimal point is '.' in the "C" locale the launcher runs
  // in.
  const std::string text(json_number);
  const double value = std::strtod(text.c_str(), nullptr);
  if (std::isinf(value)) return std::nullopt;
  return "floating point `" + float_text(value) + "`";
}

}  // namespace brevlo
