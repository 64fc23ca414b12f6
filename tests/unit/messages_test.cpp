// Display and debug forms, printing, and the fatal-stop report.
#include <gtest/gtest.h>

#include <string>

#include "main/launch.hpp"
#include "platform/debug_form.hpp"
#include "platform/error.hpp"
#include "platform/messages.hpp"
#include "platform/text.hpp"
#include "test_support.hpp"

namespace brevlo {
namespace {

using testing::CapturedOutput;

struct FormCase {
  std::string input;
  std::string path_form;
  std::string quoted;
};

class EscapedForms : public ::testing::TestWithParam<FormCase> {};

TEST_P(EscapedForms, PathAndQuotedForms) {
  EXPECT_EQ(path_debug_form(GetParam().input), GetParam().path_form);
  EXPECT_EQ(quoted_form(GetParam().input), GetParam().quoted);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, EscapedForms,
    ::testing::Values(
        FormCase{R"(C:\Users\player\AppData\Local)", R"("C:\\Users\\player\\AppData\\Local")",
                 R"("C:\\Users\\player\\AppData\\Local")"},
        FormCase{"a\tb\rc\nd", R"("a\tb\rc\nd")", R"("a\tb\rc\nd")"},
        FormCase{std::string("nul\0end", 7), R"("nul\0end")", R"("nul\0end")"},
        FormCase{"it's \"x\"", R"("it\'s \"x\"")", R"("it's \"x\"")"},
        FormCase{"C:\\游戏\\奥斯特万 🎮", "\"C:\\\\游戏\\\\奥斯特万 🎮\"",
                 "\"C:\\\\游戏\\\\奥斯特万 🎮\""},
        // A combining acute accent is a grapheme extender; U+00E9 is a letter of its own.
        FormCase{"e\xCC\x81 \xC3\xA9", R"("e\u{301} é")", R"("e\u{301} é")"},
        // Control, format and separator characters other than the space.
        FormCase{"\x1b[0m\xC2\x85\xE2\x80\x8B\xE2\x80\xA8\xC2\xA0",
                 R"("\u{1b}[0m\u{85}\u{200b}\u{2028}\u{a0}")",
                 R"("\u{1b}[0m\u{85}\u{200b}\u{2028}\u{a0}")"},
        // Variation selector 16, as after the warning sign, is a grapheme extender.
        FormCase{"⚠️", R"("⚠\u{fe0f}")", R"("⚠\u{fe0f}")"},
        FormCase{"", R"("")", R"("")"}));

TEST(EscapedForms, LoneSurrogatesFromWindowsText) {
  const std::u16string units = {u'C', u':', u'\\', 0xD800, u'x', 0xDC01};
  const std::string wtf8 = wtf8_from_utf16(units);
  EXPECT_EQ(path_debug_form(wtf8), R"("C:\\\u{d800}x\u{dc01}")");
  EXPECT_EQ(utf16_from_wtf8(wtf8), units);
  EXPECT_FALSE(is_valid_utf16(units));
  EXPECT_TRUE(is_valid_utf16(u"ok \xD83C\xDFAE"));
}

TEST(EnvVarErrorForm, NotPresentAndNotUnicode) {
  EXPECT_EQ(debug_form(EnvVarError{}), "NotPresent");
  const std::u16string raw = {u'C', u':', u'\\', u'U', 0xD800};
  EXPECT_EQ(debug_form(EnvVarError{true, wtf8_from_utf16(raw)}), R"(NotUnicode("C:\\U\u{d800}"))");
}

TEST(ErrorForms, DisplayAndDebug) {
  CapturedOutput capture;
  struct Case {
    Error error;
    std::string display;
    std::string debug;
  };
  const Case cases[] = {
      {Error::os(5), "Access is denied. (os error 5)",
       R"(Os { code: 5, kind: PermissionDenied, message: "Access is denied." })"},
      {Error::os(2), "The system cannot find the file specified. (os error 2)",
       R"(Os { code: 2, kind: NotFound, message: "The system cannot find the file specified." })"},
      {Error::os(1920), "OS Error 1920 (FormatMessageW() returned error 317) (os error 1920)",
       R"x(Os { code: 1920, kind: Uncategorized, message: "OS Error 1920 (FormatMessageW() returned error 317)" })x"},
      {Error::fixed(ErrorKind::WriteZero, "failed to write whole buffer"),
       "failed to write whole buffer",
       R"(Error { kind: WriteZero, message: "failed to write whole buffer" })"},
      {Error::fixed(ErrorKind::InvalidInput, "program path has no file name"),
       "program path has no file name",
       R"(Error { kind: InvalidInput, message: "program path has no file name" })"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(display_form(c.error), c.display);
    EXPECT_EQ(debug_form(c.error), c.debug);
  }
}

TEST(ErrorForms, KindNamesOfCodes) {
  const std::pair<std::uint32_t, std::string_view> cases[] = {
      {2, "NotFound"},       {3, "NotFound"},      {5, "PermissionDenied"},
      {87, "InvalidInput"},  {80, "AlreadyExists"}, {183, "AlreadyExists"},
      {109, "BrokenPipe"},   {232, "BrokenPipe"},  {32, "Uncategorized"},
      {0, "Uncategorized"},
  };
  for (auto [code, name] : cases) EXPECT_EQ(kind_name(kind_of_code(code)), name) << code;
}

TEST(WhiteSpace, TrailingWhiteSpaceOfSystemMessages) {
  EXPECT_EQ(trim_end_white_space("Access is denied.\r\n"), "Access is denied.");
  EXPECT_EQ(trim_end_white_space("拒绝访问。\xE3\x80\x80 \t"), "拒绝访问。");
  EXPECT_EQ(trim_end_white_space(" lead kept"), " lead kept");
  EXPECT_EQ(trim_end_white_space("\r\n"), "");
}

TEST(FatalStop, ReportLayoutAndNoteOnce) {
  CapturedOutput capture;
  const auto where = std::source_location::current();
  EXPECT_THROW(fatal_stop("无法获取 LOCALAPPDATA 环境变量: NotPresent", where), FatalStop);
  const std::string header = "\nthread 'main' panicked at " + location_text(where) + ":\n" +
                             "无法获取 LOCALAPPDATA 环境变量: NotPresent\n";
  const std::string note =
      "note: run with `BREVLO_BACKTRACE=1` environment variable to display a backtrace\n";
  // The report is one write; the note line follows only the first stop of the process, which
  // may have been made by an earlier test.
  ASSERT_GE(capture.err.writes.size(), 1u);
  EXPECT_EQ(capture.err.writes[0], header);
  EXPECT_TRUE(capture.err.text == header || capture.err.text == header + note) << capture.err.text;
  EXPECT_EQ(location_text(where),
            testing::location_of("tests/unit/messages_test.cpp", "std::source_location::current()"));
  FatalStop stop;
  release_fatal_stop(stop);

  capture.err.text.clear();
  EXPECT_THROW(fatal_stop("second", where), FatalStop);
  release_fatal_stop(stop);
  EXPECT_EQ(capture.err.text,
            "\nthread 'main' panicked at " + location_text(where) + ":\nsecond\n");
}

TEST(FatalStop, LongReportIsWrittenPieceByPiece) {
  CapturedOutput capture;
  const std::string message(600, 'x');
  const auto where = std::source_location::current();
  EXPECT_THROW(fatal_stop(message, where), FatalStop);
  FatalStop stop;
  release_fatal_stop(stop);
  EXPECT_GT(capture.err.writes.size(), 1u);
  const std::string report =
      "\nthread 'main' panicked at " + location_text(where) + ":\n" + message + "\n";
  EXPECT_EQ(capture.err.text.substr(0, report.size()), report);
}

TEST(FatalStop, OtherThreadsAreUnnamed) {
  CapturedOutput capture;
  std::string seen;
  std::thread([&] {
    try {
      fatal_stop("from elsewhere");
    } catch (FatalStop& stop) {
      release_fatal_stop(stop);
    }
  }).join();
  EXPECT_EQ(capture.err.text.rfind("\nthread '<unnamed>' panicked at ", 0), 0u) << capture.err.text;
}

class FailingDevice : public OutputDevice {
 public:
  Result<std::size_t> write(std::span<const std::uint8_t>) override { return std::unexpected(Error::os(232)); }
};

TEST(Print, FailedWriteIsAFatalStopNamingTheStream) {
  CapturedOutput capture;
  FailingDevice broken;
  set_standard_device(Stream::Stdout, &broken);
  try {
    print_stdout({"🔍 line\n"});
    ADD_FAILURE() << "print to a broken device returned";
  } catch (FatalStop& stop) {
    release_fatal_stop(stop);
  }
  const std::string expected_message =
      "failed printing to stdout: OS Error 232 (FormatMessageW() returned error 317) (os error 232)\n";
  const auto at = capture.err.text.find(":\n");
  ASSERT_NE(at, std::string::npos) << capture.err.text;
  EXPECT_EQ(capture.err.text.substr(at + 2, expected_message.size()), expected_message);
}

TEST(Print, PiecesFormOneLine) {
  CapturedOutput capture;
  print_stdout({"🔍 WebView2 Runtime 安装状态: ", display_form(true), " \n"});
  print_stderr({"❌ ", "a", "b", "\n"});
  EXPECT_EQ(capture.out.text, "🔍 WebView2 Runtime 安装状态: true \n");
  EXPECT_EQ(capture.out.writes.size(), 1u);
  EXPECT_EQ(capture.err.text, "❌ ab\n");
}

}  // namespace
}  // namespace brevlo

namespace brevlo {
namespace {

// A stop made while another is still on its way out ends the process at once with its own lines.
TEST(FatalStopDeathTest, StopDuringStopAbortsWithItsLines) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const auto where = std::source_location::current();
  EXPECT_DEATH(
      {
        try {
          fatal_stop("first", where);
        } catch (FatalStop&) {
          // Not released: the first stop is still in progress.
          fatal_stop("second", where);
        }
      },
      "panicked at .*messages_test\\.cpp:.*:.*:\nsecond\nthread panicked while processing "
      "panic\\. aborting\\.\n");
}

}  // namespace
}  // namespace brevlo
