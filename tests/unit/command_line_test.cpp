#include "platform/command_line.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text.hpp"

namespace brevlo {
namespace {

constexpr const char* kProgram = R"(C:\Apps\Ostrevan.exe)";

std::string line_for(const std::string& program, const std::vector<std::string>& arguments) {
  ChildCommand command(program);
  for (const std::string& argument : arguments) command.add_argument(argument);
  const Result<std::u16string> line = build_command_line(command);
  EXPECT_TRUE(line.has_value());
  return line ? wtf8_from_utf16(*line) : std::string();
}

struct QuotingCase {
  const char* rule;
  std::string argument;
  std::string written;  // how the argument appears after the program and one space
};

void PrintTo(const QuotingCase& c, std::ostream* os) { *os << c.rule; }

class ArgumentQuotingTest : public ::testing::TestWithParam<QuotingCase> {};

TEST_P(ArgumentQuotingTest, WritesTheArgument) {
  const QuotingCase& c = GetParam();
  EXPECT_EQ(line_for(kProgram, {c.argument}),
            std::string(R"("C:\Apps\Ostrevan.exe" )") + c.written);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ArgumentQuotingTest,
    ::testing::Values(
        QuotingCase{"plain argument unquoted", "/S", "/S"},
        QuotingCase{"space quotes", "a b", R"("a b")"},
        QuotingCase{"tab quotes", "a\tb", "\"a\tb\""},
        QuotingCase{"empty argument is two quotes", "", R"("")"},
        QuotingCase{"quote escaped", R"(a"b)", R"(a\"b)"},
        QuotingCase{"lone quote", R"(")", R"(\")"},
        QuotingCase{"one backslash before quote becomes three", R"(a\"b)", R"(a\\\"b)"},
        QuotingCase{"two backslashes before quote become five", R"(a\\"b)", R"(a\\\\\"b)"},
        QuotingCase{"quote inside a quoted argument", R"(a "b)", R"("a \"b")"},
        QuotingCase{"backslash not before a quote stays", R"(a\b)", R"(a\b)"},
        QuotingCase{"two backslashes not before a quote stay", R"(a\\b)", R"(a\\b)"},
        QuotingCase{"trailing backslash unquoted stays", R"(dir\)", R"(dir\)"},
        QuotingCase{"trailing backslash before closing quote doubled", R"(C:\Program Files\)",
                    R"("C:\Program Files\\")"},
        QuotingCase{"two trailing backslashes before closing quote doubled", R"(a b\\)",
                    R"("a b\\\\")"},
        QuotingCase{"escaped quote then trailing backslash", R"(x y\"\)", R"("x y\\\"\\")"},
        QuotingCase{"CJK unchanged", "游戏", "游戏"},
        QuotingCase{"CJK with space quoted", "游 戏", R"("游 戏")"}));

TEST(CommandLineTest, ProgramAloneIsQuoted) {
  EXPECT_EQ(line_for(kProgram, {}), R"("C:\Apps\Ostrevan.exe")");
}

TEST(CommandLineTest, ProgramWithSpacesAndCjkIsQuotedAsGiven) {
  EXPECT_EQ(line_for("C:\\Program Files\\游戏\\启动.exe", {}),
            "\"C:\\Program Files\\游戏\\启动.exe\"");
}

TEST(CommandLineTest, ProgramIsNotEscaped) {
  EXPECT_EQ(line_for(R"(C:\dir\)", {"x"}), R"("C:\dir\" x)");
}

TEST(CommandLineTest, ArgumentsFollowInOrderWithOneSpace) {
  EXPECT_EQ(line_for(kProgram, {"/S", "", "a b"}), R"("C:\Apps\Ostrevan.exe" /S "" "a b")");
}

TEST(CommandLineTest, UnpairedSurrogateSurvives) {
  ChildCommand command("p.exe");
  command.add_argument("\xED\xA0\x80");  // U+D800 as WTF-8
  const Result<std::u16string> line = build_command_line(command);
  ASSERT_TRUE(line.has_value());
  EXPECT_EQ(*line, std::u16string(u"\"p.exe\" ") + char16_t{0xD800});
}

TEST(CommandLineTest, NulInArgumentFails) {
  ChildCommand command(kProgram);
  command.add_argument(std::string("a\0b", 3));
  const Result<std::u16string> line = build_command_line(command);
  ASSERT_FALSE(line.has_value());
  EXPECT_EQ(line.error(), Error::fixed(ErrorKind::InvalidInput, "nul byte found in provided data"));
}

TEST(CommandLineTest, NulInProgramFails) {
  const Result<std::u16string> line = build_command_line(ChildCommand(std::string("a\0.exe", 6)));
  ASSERT_FALSE(line.has_value());
  EXPECT_EQ(line.error(), Error::fixed(ErrorKind::InvalidInput,
                                       "strings passed to WinAPI cannot contain NULs"));
}

// How a child's C runtime splits its command line: the program name runs to the closing quote
// without escapes; in arguments 2n backslashes before a quote give n and the quote toggles quoting,
// 2n + 1 give n and a literal quote, "" inside quotes is a literal quote, and other backslashes
// are literal; blanks outside quotes separate arguments.
std::vector<std::u16string> split_like_the_c_runtime(std::u16string_view line) {
  std::vector<std::u16string> words;
  std::size_t i = 0;
  std::u16string program;
  bool quoted = false;
  while (i < line.size() && (quoted || (line[i] != u' ' && line[i] != u'\t'))) {
    if (line[i] == u'"') {
      quoted = !quoted;
    } else {
      program += line[i];
    }
    ++i;
  }
  words.push_back(program);
  for (;;) {
    while (i < line.size() && (line[i] == u' ' || line[i] == u'\t')) ++i;
    if (i == line.size()) break;
    std::u16string word;
    quoted = false;
    while (i < line.size()) {
      const char16_t c = line[i];
      if (c == u'\\') {
        std::size_t run = 0;
        while (i < line.size() && line[i] == u'\\') {
          ++run;
          ++i;
        }
        if (i < line.size() && line[i] == u'"') {
          word.append(run / 2, u'\\');
          if (run % 2 == 1) {
            word += u'"';
            ++i;
          }
        } else {
          word.append(run, u'\\');
        }
      } else if (c == u'"') {
        if (quoted && i + 1 < line.size() && line[i + 1] == u'"') {
          word += u'"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else if (!quoted && (c == u' ' || c == u'\t')) {
        break;
      } else {
        word += c;
        ++i;
      }
    }
    words.push_back(word);
  }
  return words;
}

TEST(CommandLineTest, ReferenceSplitterReadsKnownLines) {
  EXPECT_EQ(split_like_the_c_runtime(uR"("C:\a b\p.exe" x "y z" a\\\"b "" c\\)"),
            (std::vector<std::u16string>{uR"(C:\a b\p.exe)", u"x", u"y z", uR"(a\"b)", u"",
                                         uR"(c\\)"}));
}

// Every argument made of up to four characters from the troublesome set comes back unchanged.
TEST(CommandLineTest, SplittingGivesEveryArgumentBack) {
  const std::u16string alphabet = u"a \t\\\"";
  std::vector<std::u16string> arguments = {u""};
  for (std::size_t length = 1, first = 0; length <= 4; ++length) {
    const std::size_t last = arguments.size();
    for (std::size_t i = first; i < last; ++i) {
      for (const char16_t c : alphabet) arguments.push_back(arguments[i] + c);
    }
    first = last;
  }
  ASSERT_EQ(arguments.size(), 1u + 5 + 25 + 125 + 625);
  for (const std::u16string& argument : arguments) {
    ChildCommand command(R"(C:\Program Files\p.exe)");
    command.add_argument("first");
    command.add_argument(wtf8_from_utf16(argument));
    command.add_argument("last");
    const Result<std::u16string> line = build_command_line(command);
    ASSERT_TRUE(line.has_value());
    const std::vector<std::u16string> expected = {uR"(C:\Program Files\p.exe)", u"first", argument,
                                                  u"last"};
    EXPECT_EQ(split_like_the_c_runtime(*line), expected) << wtf8_from_utf16(*line);
  }
}

}  // namespace
}  // namespace brevlo
