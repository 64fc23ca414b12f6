#include "core/join_path.hpp"

#include <gtest/gtest.h>

#include <string>

namespace brevlo {
namespace {

struct JoinCase {
  const char* what;
  std::string base;
  std::string component;
  std::string joined;
};

void PrintTo(const JoinCase& c, std::ostream* os) { *os << c.what; }

class JoinPathTest : public ::testing::TestWithParam<JoinCase> {};

TEST_P(JoinPathTest, JoinsByTheWindowsRules) {
  const JoinCase& c = GetParam();
  EXPECT_EQ(join_path(c.base, c.component), c.joined);
}

// A separator goes between the two unless the base is empty, ends in one, or is a bare drive.
INSTANTIATE_TEST_SUITE_P(
    Appending, JoinPathTest,
    ::testing::Values(
        JoinCase{"plain", R"(C:\Users\player\AppData\Local)", "Ostrevan",
                 R"(C:\Users\player\AppData\Local\Ostrevan)"},
        JoinCase{"base ending in backslash", R"(C:\Local\)", "x", R"(C:\Local\x)"},
        JoinCase{"base ending in slash", "C:/Local/", "x", "C:/Local/x"},
        JoinCase{"empty base", "", "Ostrevan", "Ostrevan"},
        JoinCase{"bare drive", "D:", "Ostrevan", "D:Ostrevan"},
        JoinCase{"bare lower-case drive", "d:", "x", "d:x"},
        JoinCase{"digit and colon are no drive", "1:", "x", R"(1:\x)"},
        JoinCase{"drive A, first capital", "A:", "x", "A:x"},
        JoinCase{"drive Z, last capital", "Z:", "x", "Z:x"},
        JoinCase{"drive a, first small letter", "a:", "x", "a:x"},
        JoinCase{"drive z, last small letter", "z:", "x", "z:x"},
        JoinCase{"@ before A is no drive", "@:", "x", R"(@:\x)"},
        JoinCase{"[ after Z is no drive", "[:", "x", R"([:\x)"},
        JoinCase{"` before a is no drive", "`:", "x", R"(`:\x)"},
        JoinCase{"{ after z is no drive", "{:", "x", R"({:\x)"},
        JoinCase{"@ before A is no drive in a component", R"(C:\Local)", R"(@:\b)",
                 R"(C:\Local\@:\b)"},
        JoinCase{"[ after Z is no drive in a component", R"(C:\Local)", R"([:\b)",
                 R"(C:\Local\[:\b)"},
        JoinCase{"` before a is no drive in a component", R"(C:\Local)", R"(`:\b)",
                 R"(C:\Local\`:\b)"},
        JoinCase{"{ after z is no drive in a component", R"(C:\Local)", R"({:\b)",
                 R"(C:\Local\{:\b)"},
        JoinCase{"drive root", R"(D:\)", "x", R"(D:\x)"},
        JoinCase{"drive-relative base", "D:a", "b", R"(D:a\b)"},
        JoinCase{"slash inside component kept", R"(C:\Local)", "a/b", R"(C:\Local\a/b)"},
        JoinCase{"dots kept outside verbatim paths", R"(C:\Local)", R"(..\.\x)",
                 R"(C:\Local\..\.\x)"},
        JoinCase{"empty component adds a separator", R"(C:\Local)", "", R"(C:\Local\)"},
        JoinCase{"empty component after separator", R"(C:\Local\)", "", R"(C:\Local\)"},
        JoinCase{"both empty", "", "", ""},
        JoinCase{"reference not expanded", "%LOCALAPPDATA%", "x", R"(%LOCALAPPDATA%\x)"},
        JoinCase{"UNC share", R"(\\srv\share)", "x", R"(\\srv\share\x)"},
        JoinCase{"two separators without share are no prefix", R"(\\srv)", "x", R"(\\srv\x)"},
        JoinCase{"CJK and spaces", "C:\\用户", "游戏 名", "C:\\用户\\游戏 名"}));

// A component with any prefix stands alone, whatever the base.
INSTANTIATE_TEST_SUITE_P(
    ComponentWithPrefix, JoinPathTest,
    ::testing::Values(
        JoinCase{"absolute drive path", R"(C:\Local)", R"(D:\Games)", R"(D:\Games)"},
        JoinCase{"drive-relative path", R"(C:\Local)", "D:Games", "D:Games"},
        JoinCase{"bare drive", R"(C:\Local)", "D:", "D:"},
        JoinCase{"drive A", R"(C:\Local)", R"(A:\b)", R"(A:\b)"},
        JoinCase{"drive Z", R"(C:\Local)", R"(Z:\b)", R"(Z:\b)"},
        JoinCase{"drive a", R"(C:\Local)", R"(a:\b)", R"(a:\b)"},
        JoinCase{"drive z", R"(C:\Local)", R"(z:\b)", R"(z:\b)"},
        JoinCase{"UNC share", R"(C:\Local)", R"(\\srv\share\x)", R"(\\srv\share\x)"},
        JoinCase{"UNC share with slashes", R"(C:\Local)", "//srv/share", "//srv/share"},
        JoinCase{"device", R"(C:\Local)", R"(\\.\pipe\x)", R"(\\.\pipe\x)"},
        JoinCase{"verbatim", R"(C:\Local)", R"(\\?\C:\x)", R"(\\?\C:\x)"},
        JoinCase{"drive over a verbatim base", R"(\\?\C:\Local)", "D:x", "D:x"}));

// A verbatim base is rebuilt part by part: "." goes, ".." takes the name before it away, a root
// cuts back to the prefix, and the parts are written with "\" only.
INSTANTIATE_TEST_SUITE_P(
    VerbatimBase, JoinPathTest,
    ::testing::Values(
        JoinCase{"plain", R"(\\?\C:\Local)", "Ostrevan", R"(\\?\C:\Local\Ostrevan)"},
        JoinCase{"trailing separator", R"(\\?\C:\Local\)", "x", R"(\\?\C:\Local\x)"},
        JoinCase{"slash in component becomes backslash", R"(\\?\C:\Local)", "a/b",
                 R"(\\?\C:\Local\a\b)"},
        JoinCase{"dot dropped", R"(\\?\C:\Local)", R"(.\a\.\b)", R"(\\?\C:\Local\a\b)"},
        JoinCase{"dot-dot removes a name", R"(\\?\C:\Local\Sub)", R"(..\x)", R"(\\?\C:\Local\x)"},
        JoinCase{"dot-dot stops at the root", R"(\\?\C:\)", R"(..\..\x)", R"(\\?\C:\x)"},
        JoinCase{"dot-dot after a base dot-dot stays dropped", R"(\\?\C:\a\..)", R"(..\b)",
                 R"(\\?\C:\a\..\b)"},
        JoinCase{"base dot kept", R"(\\?\C:\a\.\b)", "c", R"(\\?\C:\a\.\b\c)"},
        JoinCase{"slash in base is part of a name", R"(\\?\C:\a/b)", "..", R"(\\?\C:\)"},
        JoinCase{"root cuts back to the prefix", R"(\\?\C:\Local\Sub)", R"(\x)", R"(\\?\C:\x)"},
        JoinCase{"drive without root", R"(\\?\C:)", "x", R"(\\?\C:\x)"},
        JoinCase{"verbatim UNC", R"(\\?\UNC\srv\share\d)", "x", R"(\\?\UNC\srv\share\d\x)"},
        JoinCase{"verbatim UNC root", R"(\\?\UNC\srv\share\d)", R"(\x)",
                 R"(\\?\UNC\srv\share\x)"},
        JoinCase{"verbatim volume", R"(\\?\Volume{1}\d)", "x", R"(\\?\Volume{1}\d\x)"},
        JoinCase{"empty component appends a separator", R"(\\?\C:\Local)", "",
                 R"(\\?\C:\Local\)"},
        JoinCase{"slashes make no verbatim prefix", "//?/C:/Local", "x", R"(//?/C:/Local\x)"}));

// A component with a root but no prefix keeps only the base's prefix.
INSTANTIATE_TEST_SUITE_P(
    ComponentWithRoot, JoinPathTest,
    ::testing::Values(
        JoinCase{"drive", R"(C:\Users\player)", R"(\Games)", R"(C:\Games)"},
        JoinCase{"drive, slash root", R"(C:\Users\player)", "/Games", "C:/Games"},
        JoinCase{"UNC share", R"(\\srv\share\dir)", R"(\Games)", R"(\\srv\share\Games)"},
        JoinCase{"device", R"(\\.\COM1\x)", R"(\y)", R"(\\.\COM1\y)"},
        JoinCase{"bare drive", "D:", R"(\x)", R"(D:\x)"},
        JoinCase{"relative base", R"(relative\dir)", R"(\Games)", R"(\Games)"},
        JoinCase{"base without prefix", R"(\\srv)", R"(\x)", R"(\x)"}));

struct AppPathCase {
  const char* what;
  std::string local_app_data;
  GameConfig config;
  std::string path;
};

void PrintTo(const AppPathCase& c, std::ostream* os) { *os << c.what; }

class ApplicationPathTest : public ::testing::TestWithParam<AppPathCase> {};

TEST_P(ApplicationPathTest, JoinsFolderAndFileName) {
  const AppPathCase& c = GetParam();
  EXPECT_EQ(application_path_under(c.local_app_data, c.config), c.path);
}

const GameConfig kOstrevan{.mainBinaryName = "Ostrevan", .productName = "Ostrevan"};

INSTANTIATE_TEST_SUITE_P(
    Examples, ApplicationPathTest,
    ::testing::Values(
        AppPathCase{"ordinary", R"(C:\Users\player\AppData\Local)", kOstrevan,
                    R"(C:\Users\player\AppData\Local\Ostrevan\Ostrevan.exe)"},
        AppPathCase{"suffix appended again", R"(C:\L)", {"Ostrevan.exe", "Ostrevan"},
                    R"(C:\L\Ostrevan\Ostrevan.exe.exe)"},
        AppPathCase{"trailing backslash", R"(C:\Users\player\AppData\Local\)", kOstrevan,
                    R"(C:\Users\player\AppData\Local\Ostrevan\Ostrevan.exe)"},
        AppPathCase{"bare drive", "D:", kOstrevan, R"(D:Ostrevan\Ostrevan.exe)"},
        AppPathCase{"empty variable", "", kOstrevan, R"(Ostrevan\Ostrevan.exe)"},
        AppPathCase{"reference stays unexpanded", R"(%USERPROFILE%\AppData\Local)", kOstrevan,
                    R"(%USERPROFILE%\AppData\Local\Ostrevan\Ostrevan.exe)"},
        AppPathCase{"verbatim variable", R"(\\?\C:\L)", {"Ostrevan", R"(a\..\b)"},
                    R"(\\?\C:\L\b\Ostrevan.exe)"},
        AppPathCase{"absolute product", R"(C:\L)", {"Ostrevan", R"(D:\Games)"},
                    R"(D:\Games\Ostrevan.exe)"},
        AppPathCase{"product with drive", R"(C:\L)", {"Ostrevan", "D:Games"},
                    R"(D:Games\Ostrevan.exe)"},
        AppPathCase{"rooted product, drive", R"(C:\Users\player\AppData\Local)",
                    {"Ostrevan", R"(\Games)"}, R"(C:\Games\Ostrevan.exe)"},
        AppPathCase{"rooted product, UNC", R"(\\srv\share\player)", {"Ostrevan", R"(\Games)"},
                    R"(\\srv\share\Games\Ostrevan.exe)"},
        AppPathCase{"nested product", R"(C:\L)", {"Ostrevan", R"(Studio\Ostrevan)"},
                    R"(C:\L\Studio\Ostrevan\Ostrevan.exe)"},
        AppPathCase{"nested product with slash", R"(C:\L)", {"Ostrevan", "Studio/Ostrevan"},
                    R"(C:\L\Studio/Ostrevan\Ostrevan.exe)"},
        AppPathCase{"empty product", R"(C:\L)", {"Ostrevan", ""}, R"(C:\L\Ostrevan.exe)"},
        AppPathCase{"empty binary name", R"(C:\L)", {"", "Ostrevan"}, R"(C:\L\Ostrevan\.exe)"},
        AppPathCase{"CJK and spaces", R"(C:\L)", {"奥斯特", "奥斯特 Games"},
                    "C:\\L\\奥斯特 Games\\奥斯特.exe"}));

}  // namespace
}  // namespace brevlo
