#include "platform/system_text_win.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/app_path_win.hpp"
#include "windows/win_test_support.hpp"

namespace brevlo {
namespace {

using wintest::narrow;
using wintest::ScopedEnvironmentVariable;

// Records each offered size and the last error seen on entry.
struct Offer {
  DWORD size;
  DWORD last_error_on_entry;
  friend bool operator==(const Offer&, const Offer&) = default;
};

void fill(wchar_t* buffer, DWORD count) {
  for (DWORD i = 0; i < count; ++i) buffer[i] = static_cast<wchar_t>(L'a' + i % 26);
}

std::u16string expected_text(DWORD count) {
  std::u16string text;
  for (DWORD i = 0; i < count; ++i) text += static_cast<char16_t>(u'a' + i % 26);
  return text;
}

TEST(ReadSystemTextTest, OffersFiveHundredTwelveUnitsWithTheLastErrorCleared) {
  std::vector<Offer> offers;
  ::SetLastError(ERROR_ACCESS_DENIED);
  const Result<std::u16string> text = read_system_text([&](wchar_t* buffer, DWORD size) {
    offers.push_back({size, ::GetLastError()});
    fill(buffer, 3);
    return DWORD{3};
  });
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text, u"abc");
  EXPECT_EQ(offers, (std::vector<Offer>{{512, 0}}));
}

TEST(ReadSystemTextTest, GrowsToTheSizeTheSystemAsksFor) {
  std::vector<Offer> offers;
  const Result<std::u16string> text = read_system_text([&](wchar_t* buffer, DWORD size) {
    offers.push_back({size, ::GetLastError()});
    if (size < 1000) return DWORD{1000};
    fill(buffer, 999);
    return DWORD{999};
  });
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text, expected_text(999));
  EXPECT_EQ(offers, (std::vector<Offer>{{512, 0}, {1000, 0}}));
}

TEST(ReadSystemTextTest, DoublesWhenTheTextWasCut) {
  std::vector<Offer> offers;
  const Result<std::u16string> text = read_system_text([&](wchar_t* buffer, DWORD size) {
    offers.push_back({size, ::GetLastError()});
    if (size < 2048) {
      fill(buffer, size);
      ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return size;
    }
    fill(buffer, 1500);
    return DWORD{1500};
  });
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text, expected_text(1500));
  EXPECT_EQ(offers, (std::vector<Offer>{{512, 0}, {1024, 0}, {2048, 0}}));
}

TEST(ReadSystemTextTest, ZeroWithLastErrorIsThatError) {
  const Result<std::u16string> text = read_system_text([](wchar_t*, DWORD) {
    ::SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return DWORD{0};
  });
  ASSERT_FALSE(text.has_value());
  EXPECT_EQ(text.error(), Error::os(ERROR_ENVVAR_NOT_FOUND));
}

TEST(ReadSystemTextTest, ZeroWithoutLastErrorIsEmptyText) {
  const Result<std::u16string> text = read_system_text([](wchar_t*, DWORD) { return DWORD{0}; });
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text, u"");
}

TEST(ReadSystemTextTest, FullPathNameOfARelativePath) {
  std::wstring current(32768, L'\0');
  current.resize(::GetCurrentDirectoryW(static_cast<DWORD>(current.size()), current.data()));
  if (current.back() != L'\\') current += L'\\';
  const Result<std::u16string> full = full_path_name(u"relative.txt");
  ASSERT_TRUE(full.has_value());
  EXPECT_EQ(narrow(std::wstring(full->begin(), full->end())), narrow(current) + "relative.txt");
}

// Values around the first buffer of 512 units (511 fit with their NUL, 512 do not) and well
// beyond it, in ASCII and in CJK (three UTF-8 bytes for each unit).
class EnvironmentValueTest : public ::testing::TestWithParam<std::pair<wchar_t, DWORD>> {};

TEST_P(EnvironmentValueTest, ReadsTheWholeValue) {
  const auto [first, length] = GetParam();
  std::wstring value;
  for (DWORD i = 0; i < length; ++i) value += static_cast<wchar_t>(first + i % 26);
  ScopedEnvironmentVariable set(L"BREVLO_TEST_VALUE", value);
  const Result<std::string> read =
      read_environment_variable("BREVLO_TEST_VALUE");
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(*read, narrow(value));
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, EnvironmentValueTest,
    ::testing::Values(std::pair{L'a', 1}, std::pair{L'a', 510}, std::pair{L'a', 511},
                      std::pair{L'a', 512}, std::pair{L'a', 513}, std::pair{L'a', 1024},
                      std::pair{L'a', 5000}, std::pair{L'a', 32766}, std::pair{L'\x6e38', 511},
                      std::pair{L'\x6e38', 512}, std::pair{L'\x6e38', 513}));

TEST(EnvironmentVariableTest, EmptyValueIsEmptyText) {
  ScopedEnvironmentVariable set(L"BREVLO_TEST_VALUE", L"");
  const Result<std::string> read =
      read_environment_variable("BREVLO_TEST_VALUE");
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(*read, "");
}

TEST(EnvironmentVariableTest, UnsetIsNotPresent) {
  ScopedEnvironmentVariable unset(L"BREVLO_TEST_VALUE", std::nullopt);
  const Result<std::string> read =
      read_environment_variable("BREVLO_TEST_VALUE");
  ASSERT_FALSE(read.has_value());
  EXPECT_EQ(read.error(), environment_variable_missing());
  EXPECT_EQ(debug_form(read.error()), "NotPresent");
}

TEST(EnvironmentVariableTest, NameWithNulIsNotPresent) {
  const Result<std::string> read =
      read_environment_variable(std::string_view("PATH\0X", 6));
  ASSERT_FALSE(read.has_value());
  EXPECT_EQ(read.error(), environment_variable_missing());
}

TEST(EnvironmentVariableTest, UnpairedSurrogateIsNotUnicodeWithTheRawValue) {
  ScopedEnvironmentVariable set(L"BREVLO_TEST_VALUE", std::wstring(L"C:\\x") + L'\xD800');
  const Result<std::string> read =
      read_environment_variable("BREVLO_TEST_VALUE");
  ASSERT_FALSE(read.has_value());
  EXPECT_EQ(read.error(), environment_variable_not_unicode("C:\\x\xED\xA0\x80"));
  EXPECT_EQ(debug_form(read.error()), R"(NotUnicode("C:\\x\u{d800}"))");
}

const GameConfig kOstrevan{.mainBinaryName = "Ostrevan", .productName = "Ostrevan"};

TEST(InstalledApplicationPathTest, JoinsLocalAppData) {
  ScopedEnvironmentVariable set(L"LOCALAPPDATA", L"C:\\Users\\player\\AppData\\Local");
  EXPECT_EQ(installed_application_path(kOstrevan),
            R"(C:\Users\player\AppData\Local\Ostrevan\Ostrevan.exe)");
}

TEST(InstalledApplicationPathTest, EmptyLocalAppDataGivesARelativePath) {
  ScopedEnvironmentVariable set(L"LOCALAPPDATA", L"");
  EXPECT_EQ(installed_application_path(kOstrevan), R"(Ostrevan\Ostrevan.exe)");
}

TEST(InstalledApplicationPathTest, ReadsTheVariableAnewEachTime) {
  std::optional<ScopedEnvironmentVariable> set;
  set.emplace(L"LOCALAPPDATA", L"C:\\One");
  EXPECT_EQ(installed_application_path(kOstrevan), R"(C:\One\Ostrevan\Ostrevan.exe)");
  ScopedEnvironmentVariable changed(L"LOCALAPPDATA", L"D:\\Two");
  EXPECT_EQ(installed_application_path(kOstrevan), R"(D:\Two\Ostrevan\Ostrevan.exe)");
}

TEST(InstalledApplicationPathTest, UnsetLocalAppDataIsNotPresent) {
  ScopedEnvironmentVariable unset(L"LOCALAPPDATA", std::nullopt);
  const Result<std::string> path = installed_application_path(kOstrevan);
  ASSERT_FALSE(path.has_value());
  EXPECT_EQ(path.error(), environment_variable_missing());
}

TEST(InstalledApplicationPathTest, SurrogateInLocalAppDataIsNotUnicode) {
  ScopedEnvironmentVariable set(L"LOCALAPPDATA", std::wstring(1, L'\xD800'));
  const Result<std::string> path = installed_application_path(kOstrevan);
  ASSERT_FALSE(path.has_value());
  EXPECT_EQ(path.error(), environment_variable_not_unicode("\xED\xA0\x80"));
}

}  // namespace
}  // namespace brevlo
