// Display and debug forms, printing, and the fatal-stop report.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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
  EXPECT_EQ(debug_form(environment_variable_missing()), "NotPresent");
  const std::u16string raw = {u'C', u':', u'\\', u'U', 0xD800};
  EXPECT_EQ(debug_form(environment_variable_not_unicode(wtf8_from_utf16(raw))),
            R"(NotUnicode("C:\\U\u{d800}"))");
}

struct ErrorFormCase {
  std::string name;
  Error error;
  std::string display;
  std::string debug;
};

class ErrorForm : public ::testing::TestWithParam<ErrorFormCase> {};

TEST_P(ErrorForm, DisplayAndDebug) {
  CapturedOutput capture;
  const ErrorFormCase& c = GetParam();
  EXPECT_EQ(display_form(c.error), c.display);
  EXPECT_EQ(debug_form(c.error), c.debug);
}

INSTANTIATE_TEST_SUITE_P(
    ErrorForms, ErrorForm,
    ::testing::ValuesIn(std::vector<ErrorFormCase>{
      {"os_access_denied", Error::os(5), "Access is denied. (os error 5)",
       R"(Os { code: 5, kind: PermissionDenied, message: "Access is denied." })"},
      {"os_not_found", Error::os(2), "The system cannot find the file specified. (os error 2)",
       R"(Os { code: 2, kind: NotFound, message: "The system cannot find the file specified." })"},
      {"os_without_message", Error::os(1920), "OS Error 1920 (FormatMessageW() returned error 317) (os error 1920)",
       R"x(Os { code: 1920, kind: Uncategorized, message: "OS Error 1920 (FormatMessageW() returned error 317)" })x"},
      {"fixed_write_zero", Error::fixed(ErrorKind::WriteZero, "failed to write whole buffer"),
       "failed to write whole buffer",
       R"(Error { kind: WriteZero, message: "failed to write whole buffer" })"},
      {"fixed_invalid_input", Error::fixed(ErrorKind::InvalidInput, "program path has no file name"),
       "program path has no file name",
       R"(Error { kind: InvalidInput, message: "program path has no file name" })"},
    }),
    [](const auto& info) { return info.param.name; });

class KindName : public ::testing::TestWithParam<std::pair<std::uint32_t, std::string_view>> {};

TEST_P(KindName, OfTheCode) {
  const auto [code, name] = GetParam();
  EXPECT_EQ(kind_name(kind_of_code(code)), name) << code;
}

INSTANTIATE_TEST_SUITE_P(
    ErrorForms, KindName,
    ::testing::Values(std::pair<std::uint32_t, std::string_view>{2, "NotFound"},
                      std::pair<std::uint32_t, std::string_view>{3, "NotFound"},
                      std::pair<std::uint32_t, std::string_view>{5, "PermissionDenied"},
                      std::pair<std::uint32_t, std::string_view>{87, "InvalidInput"},
                      std::pair<std::uint32_t, std::string_view>{80, "AlreadyExists"},
                      std::pair<std::uint32_t, std::string_view>{183, "AlreadyExists"},
                      std::pair<std::uint32_t, std::string_view>{109, "BrokenPipe"},
                      std::pair<std::uint32_t, std::string_view>{232, "BrokenPipe"},
                      std::pair<std::uint32_t, std::string_view>{32, "Uncategorized"},
                      std::pair<std::uint32_t, std::string_view>{0, "Uncategorized"}),
    [](const auto& info) {
      return "code_" + std::to_string(info.param.first) + "_" + std::string(info.param.second);
    });

TEST(WhiteSpace, TrailingWhiteSpaceOfSystemMessages) {
  EXPECT_EQ(trim_end_white_space("Access is denied.\r\n"), "Access is denied.");
  EXPECT_EQ(trim_end_white_space("拒绝访问。\xE3\x80\x80 \t"), "拒绝访问。");
  EXPECT_EQ(trim_end_white_space(" lead kept"), " lead kept");
  EXPECT_EQ(trim_end_white_space("\r\n"), "");
}

// BREVLO_BACKTRACE as a case sets it (or leaves it unset), put back as it was afterwards.
class BacktraceVariable {
 public:
  explicit BacktraceVariable(const char* value) {
    if (const char* old = std::getenv(kName)) old_ = old;
    set(value);
  }
  ~BacktraceVariable() { set(old_ ? old_->c_str() : nullptr); }
  BacktraceVariable(const BacktraceVariable&) = delete;
  BacktraceVariable& operator=(const BacktraceVariable&) = delete;

 private:
  static constexpr const char* kName = "BREVLO_BACKTRACE";
  static void set(const char* value) {
#ifdef _WIN32
    _putenv_s(kName, value != nullptr ? value : "");
#else
    value != nullptr ? setenv(kName, value, 1) : unsetenv(kName);
#endif
  }
  std::optional<std::string> old_;
};

struct BacktraceCase {
  const char* name;
  const char* value;  // nullptr: not set
  bool trace;         // a stack trace instead of the note line
};

void PrintTo(const BacktraceCase& c, std::ostream* os) { *os << c.name; }

class FatalStopReport : public ::testing::TestWithParam<BacktraceCase> {};

TEST_P(FatalStopReport, LayoutThenNoteOrTraceOnce) {
#ifdef _WIN32
  if (GetParam().value != nullptr && *GetParam().value == '\0') {
    GTEST_SKIP() << "this C runtime removes a variable that is set to the empty text";
  }
#endif
  BacktraceVariable variable(GetParam().value);
  CapturedOutput capture;
  reset_fatal_stop_note_for_testing();
  const auto where = std::source_location::current();
  EXPECT_THROW(fatal_stop("无法获取 LOCALAPPDATA 环境变量: NotPresent", where), FatalStop);
  const std::string header = "\nthread 'main' panicked at " + location_text(where) + ":\n" +
                             "无法获取 LOCALAPPDATA 环境变量: NotPresent\n";
  // The report is one write, then the note line (or the trace) as a write of its own.
  ASSERT_EQ(capture.err.writes.size(), 2u) << capture.err.text;
  EXPECT_EQ(capture.err.writes[0], header);
  if (GetParam().trace) {
    EXPECT_EQ(capture.err.writes[1].substr(0, 23), "stack backtrace:\n   0: ");
    EXPECT_EQ(capture.err.writes[1].back(), '\n');
#ifdef _WIN32
    // Each frame: its number right-aligned in four places, its address in 16 lowercase digits.
    std::istringstream lines(capture.err.writes[1].substr(17));
    std::string line;
    for (int frame = 0; std::getline(lines, line); ++frame) {
      const std::string number = std::to_string(frame);
      EXPECT_EQ(line.substr(0, 6), std::string(4 - number.size(), ' ') + number + ": ") << line;
      EXPECT_EQ(line.size(), 22u) << line;
      EXPECT_EQ(line.find_first_not_of("0123456789abcdef", 6), std::string::npos) << line;
    }
#endif
  } else {
    EXPECT_EQ(capture.err.writes[1],
              "note: run with `BREVLO_BACKTRACE=1` environment variable to display a backtrace\n");
  }
  EXPECT_EQ(location_text(where),
            testing::location_of("tests/unit/messages_test.cpp", "std::source_location::current()"));
  FatalStop stop;
  release_fatal_stop(stop);

  // Only the first stop of the process adds the line.
  capture.err.text.clear();
  EXPECT_THROW(fatal_stop("second", where), FatalStop);
  release_fatal_stop(stop);
  EXPECT_EQ(capture.err.text,
            "\nthread 'main' panicked at " + location_text(where) + ":\nsecond\n");
}

INSTANTIATE_TEST_SUITE_P(Backtrace, FatalStopReport,
                         ::testing::Values(BacktraceCase{"Unset", nullptr, false},
                                           BacktraceCase{"Zero", "0", false},
                                           BacktraceCase{"Empty", "", false},
                                           BacktraceCase{"One", "1", true},
                                           BacktraceCase{"Full", "full", true}),
                         [](const auto& info) { return std::string(info.param.name); });

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
