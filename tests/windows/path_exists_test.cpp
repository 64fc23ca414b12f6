#include <gtest/gtest.h>

#include <string>

#include "core/app_path_win.hpp"
#include "windows/win_test_support.hpp"

namespace brevlo {
namespace {

using wintest::ScratchDirectory;
using wintest::wide;
using wintest::write_file;

class PathExistsTest : public ::testing::Test {
 protected:
  ScratchDirectory dir;
};

TEST_F(PathExistsTest, FileExists) {
  ASSERT_TRUE(write_file(dir / "Ostrevan.exe", "MZ"));
  EXPECT_TRUE(path_exists(dir / "Ostrevan.exe"));
}

TEST_F(PathExistsTest, DirectoryExists) {
  ASSERT_TRUE(::CreateDirectoryW(wide(dir / "Ostrevan.exe").c_str(), nullptr));
  EXPECT_TRUE(path_exists(dir / "Ostrevan.exe"));
}

TEST_F(PathExistsTest, MissingEntriesDoNot) {
  EXPECT_FALSE(path_exists(dir / "missing.exe"));
  EXPECT_FALSE(path_exists(dir / R"(missing\Ostrevan.exe)"));
  ASSERT_TRUE(write_file(dir / "file", ""));
  EXPECT_FALSE(path_exists(dir / R"(file\below)"));
}

TEST_F(PathExistsTest, PathWithNulDoesNot) {
  ASSERT_TRUE(write_file(dir / "a", ""));
  EXPECT_FALSE(path_exists(dir / std::string("a\0b", 3)));
}

TEST_F(PathExistsTest, SlashesVerbatimFormAndCjkNames) {
  ASSERT_TRUE(::CreateDirectoryW(wide(dir / "奥斯特 Games").c_str(), nullptr));
  ASSERT_TRUE(write_file(dir / "奥斯特 Games\\奥斯特.exe", ""));
  EXPECT_TRUE(path_exists(dir / "奥斯特 Games\\奥斯特.exe"));
  EXPECT_TRUE(path_exists(dir / "奥斯特 Games/奥斯特.exe"));
  EXPECT_TRUE(path_exists(R"(\\?\)" + (dir / "奥斯特 Games\\奥斯特.exe")));
}

TEST_F(PathExistsTest, RelativePathResolvesAgainstTheCurrentDirectory) {
  ASSERT_TRUE(::CreateDirectoryW(wide(dir / "Ostrevan").c_str(), nullptr));
  ASSERT_TRUE(write_file(dir / R"(Ostrevan\Ostrevan.exe)", ""));
  std::wstring previous(32768, L'\0');
  previous.resize(::GetCurrentDirectoryW(static_cast<DWORD>(previous.size()), previous.data()));
  ASSERT_TRUE(::SetCurrentDirectoryW(wide(dir.path()).c_str()));
  const bool present = path_exists(R"(Ostrevan\Ostrevan.exe)");
  const bool absent = path_exists(R"(Ostrevan\Missing.exe)");
  ::SetCurrentDirectoryW(previous.c_str());
  EXPECT_TRUE(present);
  EXPECT_FALSE(absent);
}

// Below 247 units a drive path is handed over as it is; beyond, it needs the verbatim form.
TEST_F(PathExistsTest, PathsLongerThanTheOldLimit) {
  std::string folder = dir.path();
  while (folder.size() < 300) {
    folder += "\\" + std::string(40, 'd');
    ASSERT_TRUE(::CreateDirectoryW((L"\\\\?\\" + wide(folder)).c_str(), nullptr));
  }
  const std::string file = folder + "\\Ostrevan.exe";
  ASSERT_GT(file.size(), 260u);
  ASSERT_TRUE(write_file(R"(\\?\)" + file, "MZ"));
  EXPECT_TRUE(path_exists(file));
  EXPECT_TRUE(path_exists(folder));
  EXPECT_FALSE(path_exists(folder + "\\Missing.exe"));
}

TEST_F(PathExistsTest, FileLockedAgainstAllSharingExists) {
  UniqueHandle locked(::CreateFileW(wide(dir / "locked.exe").c_str(), GENERIC_READ | GENERIC_WRITE,
                                    0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(locked);
  EXPECT_TRUE(path_exists(dir / "locked.exe"));
}

// A link is followed: to an existing file it counts, to a missing one it does not.
TEST_F(PathExistsTest, SymbolicLinksAreFollowed) {
  ASSERT_TRUE(write_file(dir / "target.exe", "MZ"));
  const DWORD flags = SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
  if (!::CreateSymbolicLinkW(wide(dir / "good.exe").c_str(), wide(dir / "target.exe").c_str(),
                             flags)) {
    GTEST_SKIP() << "the system cannot create a symbolic link here (error " << ::GetLastError()
                 << ")";
  }
  ASSERT_TRUE(::CreateSymbolicLinkW(wide(dir / "dangling.exe").c_str(),
                                    wide(dir / "nowhere.exe").c_str(), flags));
  // Wine answers success without creating anything; the directory listing tells.
  WIN32_FIND_DATAW found{};
  if (!UniqueFindHandle(::FindFirstFileW(wide(dir / "good.exe").c_str(), &found))) {
    GTEST_SKIP() << "CreateSymbolicLinkW reported success but no link is there (a stub)";
  }
  EXPECT_TRUE(path_exists(dir / "good.exe"));
  EXPECT_FALSE(path_exists(dir / "dangling.exe"));
}

}  // namespace
}  // namespace brevlo
