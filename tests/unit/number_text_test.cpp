// The float text of a configuration number: shortest digits that read back as the same double.
#include <gtest/gtest.h>

#include <charconv>
#include <optional>
#include <cstdint>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <string_view>

#include "core/config/number_text.hpp"

namespace brevlo {
namespace {

// Significant digits of a decimal text: what is left without sign, point, exponent and the
// zeros that only place the point.
std::string significant_digits(std::string_view text) {
  std::string digits;
  for (char c : text) {
    if (c == 'e' || c == 'E') break;
    if (c >= '0' && c <= '9') digits += c;
  }
  const auto first = digits.find_first_not_of('0');
  if (first == std::string::npos) return "0";
  digits.erase(0, first);
  digits.erase(digits.find_last_not_of('0') + 1);
  return digits;
}

TEST(FloatText, ShortestRoundTripForRandomDoubles) {
  std::mt19937_64 random(20261208);
  for (int i = 0; i < 20000; ++i) {
    const std::uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    if (!(value - value == 0)) continue;  // infinities and NaNs never reach the formatter
    const std::string text = float_text(value);
    ASSERT_EQ(std::strtod(text.c_str(), nullptr), value) << text;
    ASSERT_EQ(text.find('e'), std::string::npos) << text;
    char shortest[64];
    const auto end = std::to_chars(shortest, shortest + sizeof shortest, value,
                                   std::chars_format::scientific).ptr;
    ASSERT_EQ(significant_digits(text), significant_digits(std::string_view(shortest, end - shortest)))
        << text << " vs " << std::string_view(shortest, end - shortest);
  }
}

// A number's text is read as the C library's strtod reads it (correctly rounded), whatever its
// length: random texts of 2 to 30 significant digits with exponents across and beyond the doubles'
// range, nearly all of them between two doubles; beyond the largest double there is no number.
TEST(FloatText, NumbersReadAsStrtodReadsThem) {
  std::mt19937_64 random(20261210);
  for (int i = 0; i < 3000; ++i) {
    std::string text = random() % 2 ? "-" : "";
    const int digits = 2 + static_cast<int>(random() % 29);
    for (int d = 0; d < digits; ++d) {
      text += static_cast<char>('0' + random() % 10);
      if (d == 0) text += '.';
    }
    text += "e" + std::to_string(static_cast<int>(random() % 680) - 340);
    const double read = std::strtod(text.c_str(), nullptr);
    const std::optional<std::string> expected =
        std::isinf(read) ? std::nullopt
                         : std::optional("floating point `" + float_text(read) + "`");
    ASSERT_EQ(describe_number(text), expected) << text;
  }
}

struct FloatTextRow {
  std::string_view name;
  double value;
  std::string_view text;
};

class FloatTextForm : public ::testing::TestWithParam<FloatTextRow> {};

TEST_P(FloatTextForm, OfTheValue) {
  EXPECT_EQ(float_text(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    FloatText, FloatTextForm,
    ::testing::Values(FloatTextRow{"negative_zero", -0.0, "-0.0"},
                      FloatTextRow{"zero", 0.0, "0.0"},
                      FloatTextRow{"whole", 100.0, "100.0"},
                      FloatTextRow{"half", 2.5, "2.5"},
                      FloatTextRow{"small_without_exponent", 1e-7, "0.0000001"},
                      FloatTextRow{"negative_fraction", -1.5e-3, "-0.0015"},
                      FloatTextRow{"fraction_digits", 123456.789, "123456.789"},
                      FloatTextRow{"two_to_the_64", 18446744073709551616.0,
                                   "18446744073709552000.0"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace brevlo
