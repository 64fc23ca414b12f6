// Reading game.json: the shipped document, the two record forms, every refusal with its exact
// message and position.
#include "core/config/config.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace brevlo {
namespace {

using namespace std::string_literals;

std::span<const char> span_of(const std::string& text) { return {text.data(), text.size()}; }

std::filesystem::path source_path(const std::string& repo_path) {
  return testing::build_machine_path(BREVLO_SOURCE_DIR "/" + repo_path);
}

std::string read_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// ---------------------------------------------------------------------------------------------
// The shipped document.

TEST(ShippedConfig, InputFileIsWrittenAsShipped) {
  const std::string bytes = read_bytes(source_path("inputs/game.json"));
  ASSERT_EQ(bytes.size(), 992u);
  EXPECT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF");
  std::size_t lines = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n') {
      ++lines;
      EXPECT_TRUE(i > 0 && bytes[i - 1] == '\r') << "bare line feed at byte " << i;
    }
  }
  EXPECT_EQ(lines, 36u);
  EXPECT_TRUE(bytes.ends_with("}\r\n"));
}

TEST(ShippedConfig, YieldsOstrevanTwice) {
  const std::string bytes = read_bytes(source_path("inputs/game.json"));
  const auto config = parse_game_config(span_of(bytes));
  ASSERT_TRUE(config.has_value()) << debug_form(config.error());
  EXPECT_EQ(config->mainBinaryName, "Ostrevan");
  EXPECT_EQ(config->productName, "Ostrevan");
}

// ---------------------------------------------------------------------------------------------
// Documents that give a record.

struct AcceptCase {
  const char* name;
  std::string text;
  std::string main_binary_name;
  std::string product_name;
};

class Accepted : public ::testing::TestWithParam<AcceptCase> {};

// A value under an unknown key, before the two known keys.
std::string skipped(const std::string& value) {
  return R"({"x":)" + value + R"(,"mainBinaryName":"a","productName":"b"})";
}

TEST_P(Accepted, GivesTheRecord) {
  const auto config = parse_game_config(span_of(GetParam().text));
  ASSERT_TRUE(config.has_value()) << debug_form(config.error());
  EXPECT_EQ(config->mainBinaryName, GetParam().main_binary_name);
  EXPECT_EQ(config->productName, GetParam().product_name);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, Accepted,
    ::testing::Values(
        AcceptCase{"KeysInEitherOrder", R"({"productName":"p","mainBinaryName":"m"})", "m", "p"},
        AcceptCase{"ArrayOfTwoStrings", R"(["a","b"])", "a", "b"},
        AcceptCase{"ArrayWithWhitespace", "[ \"a\" ,\r\n\t\"b\" ]\r\n", "a", "b"},
        AcceptCase{"OtherKeysSkippedWhereverAndHoweverDeep",
                   R"({"$schema":"s","app":{"windows":[{"w":900,"t":true,"n":null,"f":-1.5e3}]},)"
                   R"("mainBinaryName":"m","app":[],"productName":"p",)"
                   R"("bundle":{"a":{"b":{"c":[[["\u00e9\n",{}]]]}}},"z":-0})",
                   "m", "p"},
        AcceptCase{"KeyLettersWrittenAsEscapes",
                   R"({"main\u0042inaryName":"a","\u0070roductName":"b"})", "a", "b"},
        AcceptCase{
            "KeyInOtherLetterCaseIsAnotherKey",
            R"({"MainBinaryName":"x","mainBinaryName":"a","PRODUCTNAME":1,"productName":"b"})", "a",
            "b"},
        AcceptCase{"EmptyStrings", R"({"mainBinaryName":"","productName":""})", "", ""},
        AcceptCase{
            "EscapesDecoded",
            R"({"mainBinaryName":"奥斯特万 \"x\"\\\/","productName":"b\u00e9\ud83c\udfae\t"})",
            "奥斯特万 \"x\"\\/", "b\u00e9\U0001F3AE\t"},
        AcceptCase{"TextTakenUnchanged",
                   R"({"mainBinaryName":" ..\\a/b:c ","productName":"x\u0000y"})", " ..\\a/b:c ",
                   "x\0y"s},
        AcceptCase{"WhitespaceAfterTheRecord",
                   "{\"mainBinaryName\":\"a\",\"productName\":\"b\"} \t\r\n", "a", "b"},
        AcceptCase{"LoneTrailingSurrogateInASkippedValue",
                   R"({"x":"\uDC00","mainBinaryName":"a","productName":"b"})", "a", "b"},
        AcceptCase{"DigitsAndEscapesInFieldsKept",
                   R"({"mainBinaryName":"\"12\\34\u00e95","productName":"1e400"})",
                   "\"12\\34\u00e95", "1e400"},
        // A skipped value is checked for form only: no number is too large or too small, no \u
        // escape needs its pair.
        AcceptCase{"NumbersOfAnySizeSkipped",
                   skipped("[" + std::string(400, '9') + ",1e400,-1e-400,0e400,10e308]"), "a", "b"},
        AcceptCase{"LoneSurrogatesSkipped",
                   skipped(R"(["\ud800","\ud800\u0041",{"\ud800":{"\udc00x\uDBFF":1}}])"), "a",
                   "b"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Documents that are refused.

struct RejectCase {
  const char* name;
  std::string text;
  std::string message;
  std::size_t line;
  std::size_t column;
};

class Rejected : public ::testing::TestWithParam<RejectCase> {};

TEST_P(Rejected, WithMessageAndPosition) {
  const auto config = parse_game_config(span_of(GetParam().text));
  ASSERT_FALSE(config.has_value()) << config->mainBinaryName << " / " << config->productName;
  EXPECT_EQ(config.error(), parse_error(GetParam().message, GetParam().line, GetParam().column))
      << debug_form(config.error());
}

const std::string kMain = R"({"mainBinaryName":)";  // a known key's value starts at byte 18

std::string main_value(const std::string& value) { return kMain + value + "}"; }

// The record's own refusals: missing, repeated and mistyped fields, the array form's length.
INSTANTIATE_TEST_SUITE_P(
    RecordFaults, Rejected,
    ::testing::Values(
        RejectCase{"EmptyObject", "{}", "missing field `mainBinaryName`", 1, 2},
        RejectCase{"NeitherKnownKey", R"({"x":1})", "missing field `mainBinaryName`", 1, 7},
        RejectCase{"NoProductName", R"({"mainBinaryName":"a"})", "missing field `productName`", 1,
                   22},
        RejectCase{"NoMainBinaryName", R"({"productName":"a"})", "missing field `mainBinaryName`",
                   1, 19},
        RejectCase{"OnlyOtherLetterCase", R"({"MainBinaryName":"a","productName":"b"})",
                   "missing field `mainBinaryName`", 1, 40},
        RejectCase{"MissingFieldBeforeTrailingText", "{}x", "missing field `mainBinaryName`", 1, 2},
        RejectCase{"DuplicateWithEqualValue", R"({"productName":"a","productName":"a"})",
                   "duplicate field `productName`", 1, 32},
        RejectCase{"DuplicateValueIsNotRead", R"({"productName":"a","productName":[})",
                   "duplicate field `productName`", 1, 32},
        RejectCase{"DuplicatePointIsPastTheWhitespaceAfterTheKey",
                   "{\"mainBinaryName\":\"a\",\r\n\"mainBinaryName\" \r\n\t: \"b\"}",
                   "duplicate field `mainBinaryName`", 3, 1},
        RejectCase{"EmptyArray", "[]",
                   "invalid length 0, expected struct GameConfig with 2 elements", 1, 2},
        RejectCase{"ArrayOfOne", R"(["a"])",
                   "invalid length 1, expected struct GameConfig with 2 elements", 1, 5},
        RejectCase{"ArrayOfThree", R"(["a","b","c"])", "trailing characters", 1, 10},
        RejectCase{"ArrayTrailingComma", R"(["a","b",])", "trailing comma", 1, 10},
        RejectCase{"ArrayTrailingCommaOnNextLine", "[\"a\",\"b\" , \n ]", "trailing comma", 2, 2},
        RejectCase{"ArrayEndsAfterSecond", R"(["a","b")", "EOF while parsing a list", 1, 8},
        RejectCase{"ArrayEndsAfterComma", R"(["a","b",)", "trailing characters", 1, 9},
        RejectCase{"ArraySecondClose", R"(["a","b"]])", "trailing characters", 1, 10},
        RejectCase{"ArrayThirdWithoutComma", R"(["a","b" "c"])", "trailing characters", 1, 10},
        RejectCase{"ArrayCommaAfterFirst", R"(["a",])", "trailing comma", 1, 6},
        RejectCase{"ArrayNoCommaAfterFirst", R"(["a" "b"])", "expected `,` or `]`", 1, 6},
        RejectCase{"ArrayNumberElement", R"([5,"b"])",
                   "invalid type: integer `5`, expected a string", 1, 2},
        RejectCase{"ArrayObjectElement", R"(["a",{"k":1}])", "invalid type: map, expected a string",
                   1, 5},
        RejectCase{"ArrayArrayElement", R"([[],"b"])", "invalid type: sequence, expected a string",
                   1, 1},
        RejectCase{"Integer", main_value("5"), "invalid type: integer `5`, expected a string", 1,
                   19},
        RejectCase{"True", main_value("true"), "invalid type: boolean `true`, expected a string", 1,
                   22},
        RejectCase{"False", main_value("false"), "invalid type: boolean `false`, expected a string",
                   1, 23},
        RejectCase{"Null", main_value("null"), "invalid type: null, expected a string", 1, 22},
        RejectCase{"Array", main_value("[]"), "invalid type: sequence, expected a string", 1, 18},
        RejectCase{"Object", main_value("{}"), "invalid type: map, expected a string", 1, 18},
        RejectCase{"ObjectOnNextLine", "{\"productName\": \n {\"a\":1}}",
                   "invalid type: map, expected a string", 2, 1},
        RejectCase{"SecondFieldMistyped", R"({"mainBinaryName":"a","productName":-7})",
                   "invalid type: integer `-7`, expected a string", 1, 38},
        RejectCase{"TopLevelString", R"("ab")",
                   "invalid type: string \"ab\", expected struct GameConfig", 1, 4},
        RejectCase{"TopLevelInteger", "5", "invalid type: integer `5`, expected struct GameConfig",
                   1, 1},
        RejectCase{"TopLevelNull", " null ", "invalid type: null, expected struct GameConfig", 1,
                   5},
        RejectCase{"TopLevelTrue", "true",
                   "invalid type: boolean `true`, expected struct GameConfig", 1, 4},
        RejectCase{"TopLevelMinusZero", "-0",
                   "invalid type: floating point `-0.0`, expected struct GameConfig", 1, 2}),
    [](const auto& info) { return std::string(info.param.name); });

// How a number found where a text belongs is named.
INSTANTIATE_TEST_SUITE_P(
    NumbersFound, Rejected,
    ::testing::Values(
        RejectCase{"Zero", main_value("0"), "invalid type: integer `0`, expected a string", 1, 19},
        RejectCase{"MaxUnsigned", main_value("18446744073709551615"),
                   "invalid type: integer `18446744073709551615`, expected a string", 1, 38},
        RejectCase{"AboveMaxUnsigned", main_value("18446744073709551616"),
                   "invalid type: floating point `18446744073709552000.0`, expected a string", 1,
                   38},
        RejectCase{"MinSigned", main_value("-9223372036854775808"),
                   "invalid type: integer `-9223372036854775808`, expected a string", 1, 38},
        RejectCase{"BelowMinSigned", main_value("-9223372036854775809"),
                   "invalid type: floating point `-9223372036854776000.0`, expected a string", 1,
                   38},
        RejectCase{"MinusZero", main_value("-0"),
                   "invalid type: floating point `-0.0`, expected a string", 1, 20},
        RejectCase{"MinusZeroPointZero", main_value("-0.0"),
                   "invalid type: floating point `-0.0`, expected a string", 1, 22},
        RejectCase{"Fraction", main_value("2.5"),
                   "invalid type: floating point `2.5`, expected a string", 1, 21},
        RejectCase{"WholeFraction", main_value("3.0"),
                   "invalid type: floating point `3.0`, expected a string", 1, 21},
        RejectCase{"Exponent", main_value("1e2"),
                   "invalid type: floating point `100.0`, expected a string", 1, 21},
        RejectCase{"CapitalSignedExponent", main_value("1E+2"),
                   "invalid type: floating point `100.0`, expected a string", 1, 22},
        RejectCase{"NegativeExponent", main_value("1e-7"),
                   "invalid type: floating point `0.0000001`, expected a string", 1, 22},
        RejectCase{"NegativeExponentTwoDigits", main_value("-1.5e-7"),
                   "invalid type: floating point `-0.00000015`, expected a string", 1, 25},
        RejectCase{"ShortestDigits", main_value("0.1"),
                   "invalid type: floating point `0.1`, expected a string", 1, 21},
        RejectCase{"ManyDigits", main_value("123456789012345678901234567890"),
                   "invalid type: floating point `123456789012345680000000000000.0`, expected a "
                   "string",
                   1, 48},
        RejectCase{
            "LargeWithoutExponent", main_value("1e300"),
            "invalid type: floating point `1" + std::string(300, '0') + ".0`, expected a string", 1,
            23},
        RejectCase{"Underflow", main_value("1e-400"),
                   "invalid type: floating point `0.0`, expected a string", 1, 24},
        RejectCase{"NegativeUnderflow", main_value("-1e-400"),
                   "invalid type: floating point `-0.0`, expected a string", 1, 25},
        RejectCase{"Overflow", main_value("1e400"), "number out of range", 1, 23},
        RejectCase{"OverflowWithinExponentLimit", main_value("100e307"), "number out of range", 1,
                   25},
        // Judged by value, not by how it is written.
        RejectCase{"ZeroWithHugeExponent", main_value("0e400"),
                   "invalid type: floating point `0.0`, expected a string", 1, 23},
        RejectCase{"OneWrittenWithFourHundredZeros",
                   main_value("1" + std::string(400, '0') + "e-400"),
                   "invalid type: floating point `1.0`, expected a string", 1, 424},
        RejectCase{"JustBeyondDoubles", main_value("10e308"), "number out of range", 1, 24},
        RejectCase{"HugeInteger", main_value(std::string(400, '9')), "number out of range", 1,
                   418}),
    [](const auto& info) { return std::string(info.param.name); });

// Faults of the JSON text, at the top level and inside skipped values.
INSTANTIATE_TEST_SUITE_P(
    SyntaxFaults, Rejected,
    ::testing::Values(
        RejectCase{"EmptyText", "", "EOF while parsing a value", 1, 0},
        RejectCase{"OnlyWhitespace", " \t\r\n ", "EOF while parsing a value", 2, 1},
        RejectCase{"ByteOrderMark", "\xEF\xBB\xBF{}", "expected value", 1, 1},
        RejectCase{"NotAValue", "x", "expected value", 1, 1},
        RejectCase{"ClosingBrace", " }", "expected value", 1, 2},
        RejectCase{"SecondValue", R"({"mainBinaryName":"a","productName":"b"} {})",
                   "trailing characters", 1, 42},
        RejectCase{"SecondValueOnLaterLine",
                   "{\"mainBinaryName\":\"a\",\"productName\":\"b\"}\r\n\r\nx",
                   "trailing characters", 3, 1},
        RejectCase{"CarriageReturnIsAByte",
                   "{\"mainBinaryName\":\"a\",\"productName\":\"b\"}\r\r x", "trailing characters",
                   1, 44},
        RejectCase{"NulAfterTheRecord", "{\"mainBinaryName\":\"a\",\"productName\":\"b\"}\0"s,
                   "trailing characters", 1, 41},
        RejectCase{"NulAtTheStart", "\0{}"s, "expected value", 1, 1},
        RejectCase{"NulForAValue", "{\"x\":\0}"s, "expected value", 1, 6},
        RejectCase{"NulAfterAMember", "{\"x\":[1,2]\0}"s, "expected `,` or `}`", 1, 11},
        RejectCase{"EofForAValue", R"({"x":)", "EOF while parsing a value", 1, 5},
        RejectCase{"EofInList", R"({"x":[1)", "EOF while parsing a list", 1, 7},
        RejectCase{"EofInObject", R"({"x":{"a":1)", "EOF while parsing an object", 1, 11},
        RejectCase{"EofAfterOpeningBrace", "{ ", "EOF while parsing an object", 1, 2},
        RejectCase{"EofAfterOpeningBracket", "[ ", "EOF while parsing a list", 1, 2},
        RejectCase{"EofAfterCommaInList", R"({"x":[1, )", "EOF while parsing a value", 1, 9},
        RejectCase{"EofAfterCommaInObject", R"({"x":{"a":1,)", "EOF while parsing a value", 1, 12},
        RejectCase{"EofAfterFirstElement", R"(["a")", "EOF while parsing a list", 1, 4},
        // Found by the fuzzer: a lone opening bracket, the parser's stack still empty (run under
        // the sanitizer preset).
        RejectCase{"LoneOpeningBracket", "[", "EOF while parsing a list", 1, 1},
        RejectCase{"EofAfterCommaInArrayForm", R"(["a",)", "EOF while parsing a value", 1, 5},
        RejectCase{"EofAfterKey", R"({"x")", "EOF while parsing an object", 1, 4},
        RejectCase{"EofInString", R"({"x":"abc)", "EOF while parsing a string", 1, 9},
        RejectCase{"EofInLiteral", R"({"x":nul)", "EOF while parsing a value", 1, 8},
        RejectCase{"TrailingCommaInList", R"({"x":[1,]})", "trailing comma", 1, 9},
        RejectCase{"TrailingCommaInObject", R"({"x":{"a":1,}})", "trailing comma", 1, 13},
        RejectCase{"TrailingCommaInRecord", R"({"mainBinaryName":"a","productName":"b",})",
                   "trailing comma", 1, 41},
        RejectCase{"TrailingCommaOnNextLine", "{\"x\":{\"a\":1 , \r\n }}", "trailing comma", 2, 2},
        RejectCase{"CommaThenWrongBracket", R"({"x":[1,}})", "expected value", 1, 9},
        RejectCase{"MissingComma", R"({"x":[1 2]})", "expected `,` or `]`", 1, 9},
        RejectCase{"MissingCommaInObject", R"({"x":{"a":1 "b":2}})", "expected `,` or `}`", 1, 13},
        RejectCase{"MissingColon", R"({"x":{"a" 1}})", "expected `:`", 1, 11},
        RejectCase{"NumberAsKey", R"({"x":{1:2}})", "key must be a string", 1, 7},
        RejectCase{"NumberAsRecordKey", R"({1:2})", "key must be a string", 1, 2},
        RejectCase{"NoValue", R"({"x":})", "expected value", 1, 6},
        RejectCase{"WrongCloser", R"({"x":[})", "expected value", 1, 7},
        RejectCase{"BrokenLiteral", R"({"x":tru})", "expected ident", 1, 9},
        RejectCase{"LiteralWithExtraLetter", R"({"x":nulx})", "expected ident", 1, 9},
        RejectCase{"MinusAlone", R"({"x":-})", "invalid number", 1, 7},
        RejectCase{"NoFraction", R"({"x":1.})", "invalid number", 1, 8},
        RejectCase{"NoExponent", R"({"x":1e})", "invalid number", 1, 8},
        RejectCase{"LeadingZero", R"({"x":01})", "expected `,` or `}`", 1, 7},
        RejectCase{"UnknownEscape", R"({"x":"\q"})", "invalid escape", 1, 8},
        RejectCase{"BadHexDigit", R"({"x":"\u12G4"})", "invalid escape", 1, 11},
        RejectCase{"EofInHexEscape", R"({"x":"\u12)", "EOF while parsing a string", 1, 10},
        RejectCase{"RawTab", "{\"x\":\"a\tb\"}",
                   "control character (\\u0000-\\u001F) found while parsing a string", 1, 8},
        RejectCase{"RawLineFeed", "{\"x\":\"a\nb\"}",
                   "control character (\\u0000-\\u001F) found while parsing a string", 2, 0},
        RejectCase{"RawNul", "{\"x\":\"a\0b\"}"s,
                   "control character (\\u0000-\\u001F) found while parsing a string", 1, 8},
        RejectCase{"InvalidUtf8Byte", "{\"x\":\"\xFF\"}", "invalid unicode code point", 1, 7},
        RejectCase{"TruncatedUtf8", "{\"x\":\"a\xC3(\"}", "invalid unicode code point", 1, 8},
        RejectCase{"LeadingSurrogateThenText", main_value(R"("\uD800x")"),
                   "lone leading surrogate in hex escape", 1, 26},
        RejectCase{"LeadingSurrogateThenQuote", main_value(R"("\uD800")"),
                   "lone leading surrogate in hex escape", 1, 26},
        RejectCase{"LeadingSurrogateThenOtherEscape", main_value(R"("\uD800\n")"),
                   "lone leading surrogate in hex escape", 1, 27},
        RejectCase{"LeadingSurrogateThenNonSurrogate", main_value(R"("\uD800\u0041")"),
                   "lone leading surrogate in hex escape", 1, 31},
        // The record's keys are decoded, after a skipped value too.
        RejectCase{"LoneLeadingSurrogateInAKey", R"({"x":[1],"\ud800":1})",
                   "lone leading surrogate in hex escape", 1, 17},
        RejectCase{"LoneTrailingSurrogateInAKey", R"({"x":"","a\udc00":1})",
                   "lone trailing surrogate in hex escape", 1, 17},
        RejectCase{"LoneTrailingSurrogateInAField", main_value(R"("\uDC00")"),
                   "lone trailing surrogate in hex escape", 1, 26},
        RejectCase{"UnclosedDeepNesting", R"({"x":[[[{"y":[)", "EOF while parsing a list", 1, 14}),
    [](const auto& info) { return std::string(info.param.name); });

// Lines count line feeds only; columns count bytes from the start of the line, carriage returns
// and multi-byte characters included.
INSTANTIATE_TEST_SUITE_P(
    Positions, Rejected,
    ::testing::Values(RejectCase{"MissingFieldOnThirdLine", "{\r\n  \"x\": 1\r\n}",
                                 "missing field `mainBinaryName`", 3, 1},
                      RejectCase{"WrongTypeOnSecondLine", "{\r\n  \"mainBinaryName\": 5\r\n}",
                                 "invalid type: integer `5`, expected a string", 2, 21},
                      RejectCase{"TrailingCommaOnThirdLine", "{\r\n  \"x\": [1,\r\n  ]\r\n}",
                                 "trailing comma", 3, 3},
                      RejectCase{"ColumnInBytes", "{\"奥\":1,\"mainBinaryName\":true}",
                                 "invalid type: boolean `true`, expected a string", 1, 30}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// The debug form, as the fatal stop prints it.

struct DebugFormCase {
  std::string text;
  std::string debug;
};

class DebugForms : public ::testing::TestWithParam<DebugFormCase> {};

TEST_P(DebugForms, OfTheParseError) {
  const auto config = parse_game_config(span_of(GetParam().text));
  ASSERT_FALSE(config.has_value());
  EXPECT_EQ(debug_form(config.error()), GetParam().debug);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, DebugForms,
    ::testing::Values(
        DebugFormCase{"{}", R"(Error("missing field `mainBinaryName`", line: 1, column: 2))"},
        DebugFormCase{
            R"("a\"b\n")",
            R"(Error("invalid type: string \"a\\\"b\\n\", expected struct GameConfig", line: 1, column: 8))"},
        DebugFormCase{
            "{\"x\":\"a\tb\"}",
            R"(Error("control character (\\u0000-\\u001F) found while parsing a string", line: 1, column: 8))"},
        DebugFormCase{
            R"("e\u0301 游戏")",
            R"(Error("invalid type: string \"e\\u{301} 游戏\", expected struct GameConfig", line: 1, column: 16))"},
        DebugFormCase{"[\"a\",\"b\",\n]", R"(Error("trailing comma", line: 2, column: 1))"}));

// ---------------------------------------------------------------------------------------------
// The text as a span.

TEST(ConfigText, ReadOnlyWithinItsLength) {
  const std::string buffer = R"({"mainBinaryName":"a","productName":"b"}GARBAGE)";
  const auto config = parse_game_config(std::span<const char>(buffer.data(), buffer.size() - 7));
  ASSERT_TRUE(config.has_value()) << debug_form(config.error());
  EXPECT_EQ(config->productName, "b");
}

TEST(ConfigText, ShortenedSpanEndsInsideTheRecord) {
  const std::string buffer = R"({"mainBinaryName":"a","productName":"b"})";
  const auto config = parse_game_config(std::span<const char>(buffer.data(), 38));
  ASSERT_FALSE(config.has_value());
  EXPECT_EQ(config.error(), parse_error("EOF while parsing a string", 1, 38));
}

// Nesting costs no stack: a million arrays inside a skipped value are read to their end.
TEST(ConfigText, DeepNestingInASkippedValue) {
  constexpr std::size_t kDepth = 1'000'000;
  const std::string nested = std::string(kDepth, '[') + std::string(kDepth, ']');
  const std::string text = R"({"x":)" + nested + R"(,"mainBinaryName":"a","productName":"b"})";
  const auto config = parse_game_config(span_of(text));
  ASSERT_TRUE(config.has_value()) << debug_form(config.error());
  EXPECT_EQ(config->mainBinaryName, "a");

  const std::string unclosed = R"({"x":)" + std::string(kDepth, '[');
  const auto refused = parse_game_config(span_of(unclosed));
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error(), parse_error("EOF while parsing a list", 1, unclosed.size()));
}

TEST(ConfigText, DeepNestingOfObjects) {
  constexpr std::size_t kDepth = 200'000;
  std::string text = R"({"mainBinaryName":"a",)";
  for (std::size_t i = 0; i < kDepth; ++i) text += R"("k":{)";
  text += std::string(kDepth, '}') + R"(,"productName":"b"})";
  const auto config = parse_game_config(span_of(text));
  ASSERT_TRUE(config.has_value()) << debug_form(config.error());
  EXPECT_EQ(config->productName, "b");
}

}  // namespace
}  // namespace brevlo
