#include "platform/system_path.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/text.hpp"

namespace brevlo {
namespace {

std::u16string u16(std::string_view text) { return utf16_from_wtf8(text); }

// Stands in for GetFullPathNameW: answers with a fixed absolute form, or fails with code 123,
// and remembers what it was asked.
struct FakeFullPath {
  std::optional<std::string> answer;
  std::vector<std::string> asked;

  FullPathQuery query() {
    return [this](const std::u16string& path) -> Result<std::u16string> {
      asked.push_back(wtf8_from_utf16(path));
      if (!answer) return std::unexpected(Error::os(123));
      return u16(*answer);
    };
  }
};

struct FormCase {
  const char* what;
  std::string path;
  std::optional<std::string> absolute;  // what the system answers, if it is asked
  bool asks;                            // whether the system is asked at all
  std::string formed;
};

void PrintTo(const FormCase& c, std::ostream* os) { *os << c.what; }

std::string drive_path_of_length(std::size_t units) {
  std::string path = R"(C:\)";
  path.append(units - path.size(), 'a');
  return path;
}

class FileSystemPathFormTest : public ::testing::TestWithParam<FormCase> {};

TEST_P(FileSystemPathFormTest, FormsThePath) {
  const FormCase& c = GetParam();
  FakeFullPath system{c.absolute, {}};
  const Result<std::u16string> formed = file_system_path_form(u16(c.path), system.query());
  ASSERT_TRUE(formed.has_value());
  EXPECT_EQ(wtf8_from_utf16(*formed), c.formed);
  EXPECT_EQ(system.asked, c.asks ? std::vector<std::string>{c.path} : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Forms, FileSystemPathFormTest,
    ::testing::Values(
        FormCase{"verbatim stays", R"(\\?\C:\x)", {}, false, R"(\\?\C:\x)"},
        FormCase{"NT object path stays", R"(\??\C:\x)", {}, false, R"(\??\C:\x)"},
        FormCase{"short drive path stays", R"(C:\Users)", {}, false, R"(C:\Users)"},
        FormCase{"short drive path with slash stays", "C:/Users", {}, false, "C:/Users"},
        FormCase{"bare drive stays", "C:", {}, false, "C:"},
        FormCase{"short UNC path stays", R"(\\srv\share\x)", {}, false, R"(\\srv\share\x)"},
        FormCase{"short path with two slashes stays", "//srv/share", {}, false, "//srv/share"},
        FormCase{"246 units stay", drive_path_of_length(246), {}, false,
                 drive_path_of_length(246)},
        FormCase{"247 units get the prefix", drive_path_of_length(247),
                 drive_path_of_length(247), true, R"(\\?\)" + drive_path_of_length(247)},
        FormCase{"relative path made absolute", R"(Ostrevan\Ostrevan.exe)",
                 R"(C:\cwd\Ostrevan\Ostrevan.exe)", true, R"(\\?\C:\cwd\Ostrevan\Ostrevan.exe)"},
        FormCase{"drive-relative path made absolute", "D:x", R"(D:\cur\x)", true,
                 R"(\\?\D:\cur\x)"},
        FormCase{"root without drive made absolute", R"(\x)", R"(C:\x)", true, R"(\\?\C:\x)"},
        FormCase{"colon after a separator is no drive", R"(\:x)", R"(C:\:x)", true,
                 R"(\\?\C:\:x)"},
        FormCase{"long UNC path", R"(\\srv\share\)" + std::string(240, 'a'),
                 R"(\\srv\share\)" + std::string(240, 'a'), true,
                 R"(\\?\UNC\srv\share\)" + std::string(240, 'a')},
        FormCase{"device path", R"(rel\..\..\pipe)", R"(\\.\pipe\x)", true, R"(\\?\pipe\x)"},
        FormCase{"verbatim answer kept", "rel", R"(\\?\C:\rel)", true, R"(\\?\C:\rel)"},
        FormCase{"other answer kept", "rel", "odd", true, "odd"}));

TEST(FileSystemPathFormTest, FailingQueryIsTheError) {
  FakeFullPath system{std::nullopt, {}};
  const Result<std::u16string> formed = file_system_path_form(u"", system.query());
  ASSERT_FALSE(formed.has_value());
  EXPECT_EQ(formed.error(), Error::os(123));
  EXPECT_EQ(system.asked, std::vector<std::string>{""});
}

class ProgramPathFormTest : public ::testing::TestWithParam<FormCase> {};

TEST_P(ProgramPathFormTest, FormsThePath) {
  const FormCase& c = GetParam();
  FakeFullPath system{c.absolute, {}};
  const Result<std::u16string> formed = program_path_form(u16(c.path), system.query());
  ASSERT_TRUE(formed.has_value());
  EXPECT_EQ(wtf8_from_utf16(*formed), c.formed);
  EXPECT_EQ(system.asked.size(), c.asks ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ProgramPathFormTest,
    ::testing::Values(
        FormCase{"260 units stay", "rel" + std::string(257, 'a'), {}, false,
                 "rel" + std::string(257, 'a')},
        FormCase{"verbatim drive loses prefix when the same", R"(\\?\C:\p\a.exe)",
                 R"(C:\p\a.exe)", true, R"(C:\p\a.exe)"},
        FormCase{"verbatim drive kept when different", R"(\\?\C:\p\..\a.exe)", R"(C:\a.exe)",
                 true, R"(\\?\C:\p\..\a.exe)"},
        FormCase{"verbatim UNC loses prefix when the same", R"(\\?\UNC\srv\share\a.exe)",
                 R"(\\srv\share\a.exe)", true, R"(\\srv\share\a.exe)"},
        FormCase{"verbatim UNC kept when different", R"(\\?\UNC\srv\share\a .exe)",
                 R"(\\srv\share\a.exe)", true, R"(\\?\UNC\srv\share\a .exe)"},
        FormCase{"other verbatim stays", R"(\\?\Volume{1}\a.exe)", {}, false,
                 R"(\\?\Volume{1}\a.exe)"},
        FormCase{"NT object path stays", R"(\??\C:\a.exe)", {}, false, R"(\??\C:\a.exe)"},
        FormCase{"short drive path stays", R"(C:\p\a.exe)", {}, false, R"(C:\p\a.exe)"},
        FormCase{"short UNC path stays", R"(\\srv\share\a.exe)", {}, false,
                 R"(\\srv\share\a.exe)"},
        FormCase{"relative made absolute without prefix", "a.exe", R"(C:\cwd\a.exe)", true,
                 R"(C:\cwd\a.exe)"},
        FormCase{"absolute result of 246 units has no prefix", "a.exe",
                 drive_path_of_length(246), true, drive_path_of_length(246)},
        FormCase{"absolute result of 247 units gets the prefix", "a.exe",
                 drive_path_of_length(247), true, R"(\\?\)" + drive_path_of_length(247)},
        FormCase{"259-unit drive path gets the prefix", drive_path_of_length(259),
                 drive_path_of_length(259), true, R"(\\?\)" + drive_path_of_length(259)}));

TEST(ProgramPathFormTest, FailingQueryIsTheError) {
  FakeFullPath system{std::nullopt, {}};
  const Result<std::u16string> formed = program_path_form(u16(R"(\\?\C:\a.exe)"), system.query());
  ASSERT_FALSE(formed.has_value());
  EXPECT_EQ(formed.error(), Error::os(123));
}

TEST(SystemUnitsTest, ConvertsAndRefusesNul) {
  EXPECT_EQ(to_system_units("C:\\游戏"), u"C:\\游戏");
  EXPECT_EQ(to_system_units("\xED\xA0\x80"), std::u16string(1, char16_t{0xD800}));
  const Result<std::u16string> refused = to_system_units(std::string_view("a\0b", 3));
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error(), Error::fixed(ErrorKind::InvalidInput,
                                          "strings passed to WinAPI cannot contain NULs"));
}

}  // namespace
}  // namespace brevlo
