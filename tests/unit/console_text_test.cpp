#include "platform/console_text.hpp"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace brevlo {
namespace {

const Error kNotUtf8 = Error::fixed(
    ErrorKind::InvalidData,
    "Windows stdio in console mode does not support writing non-UTF-8 byte sequences");

std::span<const std::uint8_t> bytes_of(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// A console that records the units of every call; a scripted answer (a unit count, or a failure)
// is used for the next calls, after which every call takes all units.
class RecordingConsole final : public ConsoleSink {
 public:
  Result<std::size_t> write_units(std::span<const char16_t> units) override {
    calls.emplace_back(units.begin(), units.end());
    if (script.empty()) return units.size();
    const Result<std::size_t> answer = script.front();
    script.pop_front();
    if (!answer) return answer;
    return std::min(*answer, units.size());
  }

  std::deque<Result<std::size_t>> script;
  std::vector<std::u16string> calls;
};

// Hands bytes to the console text path until all are counted as written, as write-all does.
struct Delivery {
  std::vector<std::size_t> counts;
  Result<void> result;
};

Delivery deliver(Utf8CarryOver& carry, std::string_view text, RecordingConsole& console) {
  Delivery delivery;
  auto bytes = bytes_of(text);
  while (!bytes.empty()) {
    const auto written = write_console_text(carry, bytes, console);
    if (!written) {
      delivery.result = std::unexpected(written.error());
      break;
    }
    delivery.counts.push_back(*written);
    if (*written == 0) break;
    bytes = bytes.subspan(*written);
  }
  return delivery;
}

std::u16string joined(const std::vector<std::u16string>& calls) {
  std::u16string all;
  for (const auto& call : calls) all += call;
  return all;
}

TEST(ConsoleText, ChineseTextAndEmojiGoOutAsUtf16InOneCall) {
  Utf8CarryOver carry;
  RecordingConsole console;
  const std::string_view line = "🚀 发现已安装应用。正在启动...\n";
  const auto written = write_console_text(carry, bytes_of(line), console);
  ASSERT_TRUE(written);
  EXPECT_EQ(*written, line.size());
  ASSERT_EQ(console.calls.size(), 1u);
  EXPECT_EQ(console.calls[0], u"🚀 发现已安装应用。正在启动...\n");
}

TEST(ConsoleText, EmptyWriteMakesNoCall) {
  Utf8CarryOver carry;
  RecordingConsole console;
  const auto written = write_console_text(carry, {}, console);
  ASSERT_TRUE(written);
  EXPECT_EQ(*written, 0u);
  EXPECT_TRUE(console.calls.empty());
}

TEST(ConsoleText, LongTextIsSplitAtCharacterBoundaries) {
  // 1500 three-byte characters: 4500 bytes, more than one write takes.
  std::string text;
  std::u16string units;
  for (int i = 0; i < 1500; ++i) {
    text += "中";
    units += u"中";
  }
  Utf8CarryOver carry;
  RecordingConsole console;
  const Delivery delivery = deliver(carry, text, console);
  ASSERT_TRUE(delivery.result);
  EXPECT_EQ(delivery.counts, (std::vector<std::size_t>{4095, 405}));
  ASSERT_EQ(console.calls.size(), 2u);
  EXPECT_EQ(console.calls[0].size(), 1365u);
  EXPECT_EQ(joined(console.calls), units);
}

TEST(ConsoleText, FourByteCharacterAcrossTheLimitWaitsForTheNextWrite) {
  const std::string text = std::string(4094, 'a') + "🚀" + "b";
  Utf8CarryOver carry;
  RecordingConsole console;
  const Delivery delivery = deliver(carry, text, console);
  ASSERT_TRUE(delivery.result);
  EXPECT_EQ(delivery.counts, (std::vector<std::size_t>{4094, 5}));
  ASSERT_EQ(console.calls.size(), 2u);
  EXPECT_EQ(console.calls[0], std::u16string(4094, u'a'));
  EXPECT_EQ(console.calls[1], u"🚀b");
}

TEST(ConsoleText, CharacterSplitBetweenTwoMessagesIsJoinedByTheCarryOver) {
  Utf8CarryOver carry;
  RecordingConsole console;
  // "中" is E4 B8 AD; the first message ends after its first byte.
  const Delivery first = deliver(carry, "ab\xE4", console);
  ASSERT_TRUE(first.result);
  EXPECT_EQ(first.counts, (std::vector<std::size_t>{2, 1}));
  EXPECT_EQ(console.calls, (std::vector<std::u16string>{u"ab"}));

  const Delivery second = deliver(carry, "\xB8\xAD" "c\n", console);
  ASSERT_TRUE(second.result);
  EXPECT_EQ(second.counts, (std::vector<std::size_t>{1, 1, 2}));
  EXPECT_EQ(console.calls, (std::vector<std::u16string>{u"ab", u"中", u"c\n"}));
}

TEST(ConsoleText, EmojiHandedOverByteByByteIsWrittenOnceWhole) {
  Utf8CarryOver carry;
  RecordingConsole console;
  const std::string_view emoji = "✅";
  for (std::size_t i = 0; i < emoji.size(); ++i) {
    const auto written = write_console_text(carry, bytes_of(emoji.substr(i, 1)), console);
    ASSERT_TRUE(written) << "byte " << i;
    EXPECT_EQ(*written, 1u) << "byte " << i;
    EXPECT_EQ(console.calls.size(), i + 1 == emoji.size() ? 1u : 0u) << "byte " << i;
  }
  EXPECT_EQ(joined(console.calls), u"✅");
  EXPECT_EQ(carry.count, 0);
}

struct InvalidCase {
  const char* name;
  std::string first;   // handed over first (may leave bytes in the carry-over)
  std::string second;  // handed over next; empty when the first write alone fails
};

void PrintTo(const InvalidCase& c, std::ostream* os) { *os << c.name; }

class ConsoleTextInvalid : public testing::TestWithParam<InvalidCase> {};

TEST_P(ConsoleTextInvalid, FailsWithTheFixedText) {
  const InvalidCase& c = GetParam();
  Utf8CarryOver carry;
  RecordingConsole console;
  auto written = write_console_text(carry, bytes_of(c.first), console);
  if (!c.second.empty()) {
    ASSERT_TRUE(written);
    EXPECT_EQ(*written, 1u);
    written = write_console_text(carry, bytes_of(c.second), console);
  }
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error(), kNotUtf8);
  EXPECT_EQ(written.error().text(), kNotUtf8.text());
  EXPECT_TRUE(console.calls.empty());
  EXPECT_EQ(carry.count, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConsoleTextInvalid,
    testing::Values(
        InvalidCase{"LoneContinuationByte", "\x80" "abc", ""},
        InvalidCase{"ByteFF", "\xFF", ""},
        InvalidCase{"OverlongLeadC0", "\xC0\x80", ""},
        InvalidCase{"LeadAboveF4", "\xF5\x80\x80\x80", ""},
        InvalidCase{"EncodedSurrogate", "\xED\xA0\x80", ""},
        InvalidCase{"OverlongThreeBytes", "\xE0\x80\x80", ""},
        InvalidCase{"AboveU10FFFF", "\xF4\x90\x80\x80", ""},
        InvalidCase{"TruncatedSequenceFollowedByMoreText", "\xE4\xB8" "a", ""},
        InvalidCase{"CarryOverFollowedByAsciiByte", "\xE4", "a"},
        InvalidCase{"CarryOverFollowedByLeadByte", "\xE4", "\xE4\xB8\xAD"}),
    [](const testing::TestParamInfo<InvalidCase>& info) { return info.param.name; });

TEST(ConsoleText, CarryOverCompletingAnInvalidSequenceFailsOnItsLastByte) {
  Utf8CarryOver carry;
  RecordingConsole console;
  const auto lead = write_console_text(carry, bytes_of("\xED"), console);
  ASSERT_TRUE(lead);
  // The carry-over takes any continuation byte until the announced length is reached.
  const auto middle = write_console_text(carry, bytes_of("\xA0"), console);
  ASSERT_TRUE(middle);
  EXPECT_EQ(*middle, 1u);
  const auto last = write_console_text(carry, bytes_of("\x80"), console);
  ASSERT_FALSE(last);
  EXPECT_EQ(last.error(), kNotUtf8);
  EXPECT_TRUE(console.calls.empty());
}

TEST(ConsoleText, ValidTextBeforeInvalidBytesIsWrittenFirst) {
  Utf8CarryOver carry;
  RecordingConsole console;
  const Delivery delivery = deliver(carry, "ok\xFFrest", console);
  EXPECT_EQ(delivery.counts, (std::vector<std::size_t>{2}));
  ASSERT_FALSE(delivery.result);
  EXPECT_EQ(delivery.result.error(), kNotUtf8);
  EXPECT_EQ(console.calls, (std::vector<std::u16string>{u"ok"}));
}

struct PartialCase {
  const char* name;
  std::string text;
  std::size_t units_taken;
  std::vector<std::u16string> calls;
  std::size_t reported;
};

void PrintTo(const PartialCase& c, std::ostream* os) { *os << c.name; }

class ConsoleTextPartial : public testing::TestWithParam<PartialCase> {};

TEST_P(ConsoleTextPartial, ReportsTheUtf8LengthOfTheUnitsTaken) {
  const PartialCase& c = GetParam();
  Utf8CarryOver carry;
  RecordingConsole console;
  console.script.push_back(c.units_taken);
  const auto written = write_console_text(carry, bytes_of(c.text), console);
  ASSERT_TRUE(written);
  EXPECT_EQ(*written, c.reported);
  EXPECT_EQ(console.calls, c.calls);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConsoleTextPartial,
    testing::Values(
        PartialCase{"AsciiUnitsCountOne", "abcd", 2, {u"abcd"}, 2},
        PartialCase{"TwoByteUnitsCountTwo", "éü!", 2, {u"éü!"}, 4},
        PartialCase{"ThreeByteUnitsCountThree", "a中文", 2, {u"a中文"}, 4},
        PartialCase{"NothingTaken", "中文", 0, {u"中文"}, 0},
        // The console took the high half of 🚀 (D83D DE80): the low half follows by itself.
        PartialCase{"LowSurrogateNextIsWrittenAlone", "a🚀b", 2, {u"a🚀b", u"\xDE80"}, 5},
        PartialCase{"PairAfterOtherText", "中🚀", 2, {u"中🚀", u"\xDE80"}, 7},
        PartialCase{"WholePairTaken", "🚀b", 2, {u"🚀b"}, 4}),
    [](const testing::TestParamInfo<PartialCase>& info) { return info.param.name; });

TEST(ConsoleText, FailingLowSurrogateWriteIsIgnoredAndCounted) {
  Utf8CarryOver carry;
  RecordingConsole console;
  console.script = {Result<std::size_t>(1), std::unexpected(Error::os(5))};
  const auto written = write_console_text(carry, bytes_of("🚀"), console);
  ASSERT_TRUE(written);
  EXPECT_EQ(*written, 4u);
  EXPECT_EQ(console.calls, (std::vector<std::u16string>{u"🚀", u"\xDE80"}));
}

TEST(ConsoleText, ConsoleFailureComesBackAsItsSystemError) {
  Utf8CarryOver carry;
  RecordingConsole console;
  console.script.push_back(std::unexpected(Error::os(31)));
  const auto written = write_console_text(carry, bytes_of("abc"), console);
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error(), Error::os(31));
}

TEST(ConsoleText, ConsoleFailureOnACarriedCharacterComesBack) {
  Utf8CarryOver carry;
  RecordingConsole console;
  console.script.push_back(std::unexpected(Error::os(31)));
  ASSERT_TRUE(write_console_text(carry, bytes_of("\xC3"), console));
  const auto written = write_console_text(carry, bytes_of("\xA9"), console);
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error(), Error::os(31));
  EXPECT_EQ(carry.count, 0);
}

}  // namespace
}  // namespace brevlo
