// UTF-16 to WTF-8 and back, and the UTF-16 check, at every boundary of the encodings: the last
// code point of each length and the first of the next, the ends of the surrogate ranges alone and
// paired, and bytes that are not WTF-8 (overlong forms, code points above U+10FFFF, cut
// sequences), which decode to U+FFFD one byte at a time.
#include "platform/text.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace brevlo {
namespace {

struct TextCase {
  const char* what;
  std::u16string units;
  std::string bytes;
  bool valid_utf16;  // of units
  bool encodes;      // units give bytes; when false, bytes are not WTF-8 and decode to units
  // Units that follow the view's end in the buffer it was cut from: never read.
  std::u16string beyond = {};
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << c.what; }

constexpr char16_t kReplacement = 0xFFFD;

const TextCase kTexts[] = {
    {"U+007F, last of one byte", u"\u007F", "\x7F", true, true},
    {"U+0080, first of two bytes", u"\u0080", "\xC2\x80", true, true},
    {"U+07FF, last of two bytes", u"\u07FF", "\xDF\xBF", true, true},
    {"U+0800, first of three bytes", u"\u0800", "\xE0\xA0\x80", true, true},
    {"U+FFFF, last of three bytes", u"\uFFFF", "\xEF\xBF\xBF", true, true},
    {"U+10000, first pair", u"\U00010000", "\xF0\x90\x80\x80", true, true},
    {"U+103FF, first leading, last trailing", u"\U000103FF", "\xF0\x90\x8F\xBF", true, true},
    {"U+10FC00, last leading, first trailing", u"\U0010FC00", "\xF4\x8F\xB0\x80", true, true},
    {"U+10FFFF, last pair", u"\U0010FFFF", "\xF4\x8F\xBF\xBF", true, true},
    {"first leading alone", {0xD800}, "\xED\xA0\x80", false, true},
    {"last leading alone", {0xDBFF}, "\xED\xAF\xBF", false, true},
    {"first trailing alone", {0xDC00}, "\xED\xB0\x80", false, true},
    {"last trailing alone", {0xDFFF}, "\xED\xBF\xBF", false, true},
    {"leading before a letter", {0xDBFF, u'A'}, "\xED\xAF\xBF" "A", false, true},
    {"trailing before leading", {0xDFFF, 0xD800}, "\xED\xBF\xBF\xED\xA0\x80", false, true},
    {"letter before trailing", {u'A', 0xDC00}, "A\xED\xB0\x80", false, true},
    {"two trailing are no pair", {0xDC00, 0xDC00}, "\xED\xB0\x80\xED\xB0\x80", false, true},
    {"leading at the end of a view, trailing beyond it", {0xD800}, "\xED\xA0\x80", false, true,
     {0xDC00}},
    {"U+007F as two bytes", {kReplacement, kReplacement}, "\xC1\xBF", true, false},
    {"U+07FF as three bytes", {kReplacement, kReplacement, kReplacement}, "\xE0\x9F\xBF", true,
     false},
    {"U+FFFF as four bytes", std::u16string(4, kReplacement), "\xF0\x8F\xBF\xBF", true, false},
    {"U+110000", std::u16string(4, kReplacement), "\xF4\x90\x80\x80", true, false},
    {"lead byte F5", std::u16string(4, kReplacement), "\xF5\x80\x80\x80", true, false},
    {"cut pair, then a letter", {kReplacement, kReplacement, kReplacement, u'A'},
     "\xF4\x8F\xBF" "A", true, false},
    {"continuation byte alone", {kReplacement, u'A'}, "\x80" "A", true, false},
};

class TextConversion : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextConversion, AtTheBoundaries) {
  const TextCase& c = GetParam();
  EXPECT_EQ(utf16_from_wtf8(c.bytes), c.units);
  const std::u16string buffer = c.units + c.beyond;
  const std::u16string_view units = std::u16string_view(buffer).substr(0, c.units.size());
  if (c.encodes) {
    EXPECT_EQ(wtf8_from_utf16(units), c.bytes);
  }
  EXPECT_EQ(is_valid_utf16(units), c.valid_utf16);
}

INSTANTIATE_TEST_SUITE_P(Boundaries, TextConversion, ::testing::ValuesIn(kTexts));

}  // namespace
}  // namespace brevlo
