#include "core/config/number_text.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace brevlo {

namespace {

template <class Int>
std::optional<Int> parse_integer(std::string_view text) {
  Int value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// A non-negative number in decimal: its significant digits (no leading zero; "0" for zero) and
// the power of ten of the first one.
struct Decimal {
  std::string digits = "0";
  long long exponent = 0;
};

bool is_zero(const Decimal& d) { return d.digits == "0"; }

// -1, 0 or 1 as a is below, equal to or above b.
int compare(const Decimal& a, const Decimal& b) {
  if (is_zero(a) || is_zero(b)) return is_zero(a) == is_zero(b) ? 0 : (is_zero(a) ? -1 : 1);
  if (a.exponent != b.exponent) return a.exponent < b.exponent ? -1 : 1;
  const std::size_t length = std::max(a.digits.size(), b.digits.size());
  for (std::size_t i = 0; i < length; ++i) {
    const char x = i < a.digits.size() ? a.digits[i] : '0';
    const char y = i < b.digits.size() ? b.digits[i] : '0';
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

// mantissa * 2^power written out exactly. For power < 0 that is mantissa * 5^-power * 10^power,
// so either way the digits are those of an integer, formed here in base-10^9 limbs (at most 86
// of them for a double).
Decimal exact_decimal(std::uint64_t mantissa, int power) {
  if (mantissa == 0) return {};
  constexpr std::uint32_t kBase = 1000000000;
  std::vector<std::uint32_t> limbs = {static_cast<std::uint32_t>(mantissa % kBase),
                                      static_cast<std::uint32_t>(mantissa / kBase % kBase),
                                      static_cast<std::uint32_t>(mantissa / kBase / kBase)};
  const auto multiply = [&limbs](std::uint32_t factor) {
    std::uint64_t carry = 0;
    for (std::uint32_t& limb : limbs) {
      const std::uint64_t product = std::uint64_t{limb} * factor + carry;
      limb = static_cast<std::uint32_t>(product % kBase);
      carry = product / kBase;
    }
    for (; carry != 0; carry /= kBase) limbs.push_back(static_cast<std::uint32_t>(carry % kBase));
  };
  // Powers of 2 and of 5 in steps that keep each product within 64 bits.
  for (int left = power; left > 0; left -= 28) multiply(std::uint32_t{1} << std::min(left, 28));
  for (int left = -power; left > 0; left -= 12) {
    std::uint32_t factor = 1;
    for (int i = 0; i < std::min(left, 12); ++i) factor *= 5;
    multiply(factor);
  }
  while (limbs.back() == 0) limbs.pop_back();

  Decimal exact;
  exact.digits = std::to_string(limbs.back());
  for (auto limb = limbs.rbegin() + 1; limb != limbs.rend(); ++limb) {
    const std::string part = std::to_string(*limb);
    exact.digits.append(9 - part.size(), '0');
    exact.digits += part;
  }
  exact.exponent = static_cast<long long>(exact.digits.size()) - 1 + std::min(power, 0);
  return exact;
}

// A finite non-negative double's parts: value = mantissa * 2^power.
struct Binary {
  std::uint64_t mantissa;
  int power;
  bool low_gap_halved;  // a power of two above the smallest normal: the next double down is nearer
};

Binary binary_of(std::uint64_t bits) {
  const auto biased = static_cast<int>(bits >> 52);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  if (biased == 0) return {fraction, -1074, false};
  return {fraction | (std::uint64_t{1} << 52), biased - 1075, fraction == 0 && biased > 1};
}

// Halfway between the double of bits and the next one up: text at or beyond it reads as a larger
// double (at it, only when this double's mantissa is odd).
Decimal upper_midpoint(std::uint64_t bits) {
  const Binary b = binary_of(bits);
  return exact_decimal(2 * b.mantissa + 1, b.power - 1);
}

// Halfway between the double of bits (not zero) and the next one down.
Decimal lower_midpoint(std::uint64_t bits) {
  const Binary b = binary_of(bits);
  if (b.low_gap_halved) return exact_decimal(4 * b.mantissa - 1, b.power - 2);
  return exact_decimal(2 * b.mantissa - 1, b.power - 1);
}

// The text of a JSON number without its sign, as a Decimal.
Decimal decimal_of(std::string_view text) {
  const std::size_t exponent_at = std::min(text.find_first_of("eE"), text.size());
  const std::string_view mantissa = text.substr(0, exponent_at);
  const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
  Decimal d;
  d.digits.clear();
  long long first_power = static_cast<long long>(point) - 1;  // of mantissa's first character
  for (std::size_t i = 0; i < mantissa.size(); ++i) {
    if (mantissa[i] == '.') continue;
    if (d.digits.empty() && mantissa[i] == '0') continue;
    if (d.digits.empty()) {
      d.exponent = first_power - static_cast<long long>(i) + (i > point ? 1 : 0);
    }
    d.digits += mantissa[i];
  }
  if (d.digits.empty()) return {};
  if (exponent_at < text.size()) {
    std::string_view exponent = text.substr(exponent_at + 1);
    const bool below = exponent.starts_with('-');
    if (below || exponent.starts_with('+')) exponent.remove_prefix(1);
    // Any exponent beyond a million puts the number far outside the doubles; so does a longer one.
    const long long magnitude = std::min(parse_integer<long long>(exponent).value_or(1000000),
                                         1000000LL);
    d.exponent += below ? -magnitude : magnitude;
  }
  return d;
}

constexpr std::uint64_t kInfinityBits = 0x7FF0000000000000;

// The double nearest to a JSON number's text, halves to the even mantissa: zero for a value too
// small to represent, nothing for one too large. Found by bisecting the doubles (their bit
// patterns are in the order of their values) for the first whose upper midpoint the text does
// not pass.
std::optional<double> read_number(std::string_view text) {
  const bool negative = text.starts_with('-');
  if (negative) text.remove_prefix(1);
  const Decimal target = decimal_of(text);
  std::uint64_t bits = 0;
  if (!is_zero(target) && target.exponent > 310) return std::nullopt;
  if (!is_zero(target) && target.exponent >= -400) {
    std::uint64_t low = 0;
    std::uint64_t high = kInfinityBits;  // the first double known to answer "not passed"
    while (low < high) {
      const std::uint64_t middle = low + (high - low) / 2;
      const int order = compare(target, upper_midpoint(middle));
      if (order < 0 || (order == 0 && middle % 2 == 0)) {
        high = middle;
      } else {
        low = middle + 1;
      }
    }
    if (low == kInfinityBits) return std::nullopt;
    bits = low;
  }
  double value = 0;
  std::memcpy(&value, &bits, sizeof value);
  return negative ? -value : value;
}

// exact rounded to count significant digits, halves to even (as printf's %e rounds).
Decimal rounded(const Decimal& exact, std::size_t count) {
  Decimal out{exact.digits.substr(0, count), exact.exponent};
  if (exact.digits.size() <= count) return out;
  const char next = exact.digits[count];
  const bool beyond_half = exact.digits.find_first_not_of('0', count + 1) != std::string::npos;
  const bool up =
      next > '5' || (next == '5' && (beyond_half || (out.digits.back() - '0') % 2 == 1));
  if (!up) return out;
  std::size_t i = count;
  while (i > 0 && out.digits[i - 1] == '9') out.digits[--i] = '0';
  if (i == 0) {
    out.digits.insert(out.digits.begin(), '1');
    out.digits.pop_back();
    ++out.exponent;
  } else {
    ++out.digits[i - 1];
  }
  return out;
}

}  // namespace

std::string float_text(double value) {
  // The shortest correctly rounded digits that read back as the same double (those of 1e300,
  // -2.5e-7, 0), written out in full, since fixed notation would print the exact binary value (all
  // 301 digits of 1e300) rather than the shortest one. Digits read back as the double when they
  // lie between its two midpoints (on one, when its mantissa is even). Worked out exactly here
  // rather than with printf and strtod, or std::to_chars, whose code and tables would outweigh the
  // rest of the launcher's own.
  const bool negative = std::signbit(value);
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  bits &= ~(std::uint64_t{1} << 63);
  const Binary binary = binary_of(bits);
  const Decimal exact = exact_decimal(binary.mantissa, binary.power);
  Decimal shortest = exact;
  if (!is_zero(exact)) {
    const Decimal low = lower_midpoint(bits);
    const Decimal high = upper_midpoint(bits);
    const bool even = bits % 2 == 0;
    for (std::size_t count = 1; count <= 17; ++count) {
      shortest = rounded(exact, count);
      const int above_low = compare(shortest, low);
      const int below_high = compare(high, shortest);
      if ((above_low > 0 || (above_low == 0 && even)) &&
          (below_high > 0 || (below_high == 0 && even))) {
        break;
      }
    }
  }
  const std::string& digits = shortest.digits;

  std::string out;
  if (negative) out += '-';
  const bool negative_exponent = shortest.exponent < 0;  // within +-400
  const auto magnitude = static_cast<std::size_t>(negative_exponent ? -shortest.exponent
                                                                    : shortest.exponent);
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
  const std::optional<double> value = read_number(json_number);
  if (!value) return std::nullopt;
  return "floating point `" + float_text(*value) + "`";
}

}  // namespace brevlo
