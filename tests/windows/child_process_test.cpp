#include "platform/child_win.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "windows/win_test_support.hpp"

namespace brevlo {
namespace {

using wintest::child_program;
using wintest::ChildReport;
using wintest::narrow;
using wintest::parse_child_report;
using wintest::read_file;
using wintest::ScopedEnvironmentVariable;
using wintest::ScratchDirectory;
using wintest::wide;

const Error kNoFileName = Error::fixed(ErrorKind::InvalidInput, "program path has no file name");
const Error kNulInProgram =
    Error::fixed(ErrorKind::InvalidInput, "strings passed to WinAPI cannot contain NULs");
const Error kNulInArgument =
    Error::fixed(ErrorKind::InvalidInput, "nul byte found in provided data");
const Error kNotFound = Error::fixed(ErrorKind::NotFound, "program not found");

// Runs the stand-in child with its record going into a scratch folder, and reads the record.
class ChildProcessTest : public ::testing::Test {
 protected:
  ChildProcessTest() : report_(L"BREVLO_CHILD_REPORT", wide(dir / "report.txt")) {}

  ChildReport run(const ChildCommand& command, std::uint32_t expected_exit = 0) {
    const Result<std::uint32_t> exit_code = run_and_wait(command);
    EXPECT_TRUE(exit_code.has_value()) << debug_form(exit_code.error());
    if (exit_code) {
      EXPECT_EQ(*exit_code, expected_exit);
    }
    const std::optional<std::string> text = read_file(dir / "report.txt");
    EXPECT_TRUE(text.has_value()) << "the child wrote no record";
    ::DeleteFileW(wide(dir / "report.txt").c_str());
    return parse_child_report(text.value_or(""));
  }

  std::string copy_of_child(const std::string& name) {
    const std::string copy = dir / name;
    EXPECT_TRUE(::CopyFileW(wide(child_program()).c_str(), wide(copy).c_str(), FALSE));
    return copy;
  }

  ScratchDirectory dir;

 private:
  ScopedEnvironmentVariable report_;
};

class ExitCodeTest : public ChildProcessTest,
                     public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(ExitCodeTest, ReachesTheCaller) {
  const std::uint32_t code = GetParam();
  ScopedEnvironmentVariable exit_code(L"BREVLO_CHILD_EXIT", std::to_wstring(code));
  run(ChildCommand(child_program()), code);
}

INSTANTIATE_TEST_SUITE_P(Codes, ExitCodeTest,
                         ::testing::Values(0u, 1u, 2u, 0xFFFFFFFFu, 0xC0000005u));

TEST_F(ChildProcessTest, ArgumentsArriveUnchanged) {
  const std::vector<std::string> arguments = {
      "/S", "a b", "", "tab\there", R"(a"b)", R"(a\"b)", R"(C:\Program Files\)", "游戏 名称",
      R"(x y\"\)", R"(\\)", R"(\\server\share)"};
  ChildCommand command(child_program());
  for (const std::string& argument : arguments) command.add_argument(argument);
  const ChildReport report = run(command);
  EXPECT_EQ(report.arguments, arguments);
  const Result<std::u16string> line = build_command_line(command);
  ASSERT_TRUE(line.has_value());
  EXPECT_EQ(report.command_line, wtf8_from_utf16(*line));
}

TEST_F(ChildProcessTest, SilentSwitchIsOneUnquotedWord) {
  ChildCommand command(child_program());
  command.add_argument("/S");
  const ChildReport report = run(command);
  EXPECT_EQ(report.command_line, "\"" + child_program() + "\" /S");
  EXPECT_EQ(report.arguments, std::vector<std::string>{"/S"});
}

TEST_F(ChildProcessTest, InheritsCurrentDirectoryAndEnvironment) {
  ScopedEnvironmentVariable echo(L"BREVLO_CHILD_ECHO", L"游戏 value");
  std::wstring current(32768, L'\0');
  current.resize(::GetCurrentDirectoryW(static_cast<DWORD>(current.size()), current.data()));
  const ChildReport report = run(ChildCommand(child_program()));
  EXPECT_EQ(report.echo, "游戏 value");
  EXPECT_EQ(report.directory, narrow(current));
}

TEST_F(ChildProcessTest, ProgramPathWithSpacesAndCjk) {
  ASSERT_TRUE(::CreateDirectoryW(wide(dir / "游戏 目录").c_str(), nullptr));
  const std::string program = copy_of_child("游戏 目录\\启动 程序.exe");
  const ChildReport report = run(ChildCommand(program));
  EXPECT_EQ(report.command_line, "\"" + program + "\"");
  EXPECT_TRUE(report.arguments.empty());
}

TEST_F(ChildProcessTest, UpperCaseSuffixIsUsedAsGiven) {
  const std::string program = copy_of_child("CHILD.EXE");
  const Result<std::u16string> resolved = resolve_program(program);
  ASSERT_TRUE(resolved.has_value());
  EXPECT_EQ(wtf8_from_utf16(*resolved), program);
  run(ChildCommand(program));
}

TEST_F(ChildProcessTest, SuffixIsAddedWhenThatFileExists) {
  copy_of_child("tool.exe");
  const Result<std::u16string> resolved = resolve_program(dir / "tool");
  ASSERT_TRUE(resolved.has_value());
  EXPECT_EQ(wtf8_from_utf16(*resolved), dir / "tool.exe");
  const ChildReport report = run(ChildCommand(dir / "tool"));
  EXPECT_EQ(report.command_line, "\"" + (dir / "tool") + "\"");  // the program as given
}

TEST_F(ChildProcessTest, PathWithoutSuffixIsKeptWhenNoExeExists) {
  const Result<std::u16string> resolved = resolve_program(dir / "other.bin");
  ASSERT_TRUE(resolved.has_value());
  EXPECT_EQ(wtf8_from_utf16(*resolved), dir / "other.bin");
}

TEST_F(ChildProcessTest, BareNameIsFoundBesideTheLauncher) {
  const Result<std::u16string> resolved = resolve_program("brevlo_test_child");
  ASSERT_TRUE(resolved.has_value());
  EXPECT_EQ(wtf8_from_utf16(*resolved), child_program());
  run(ChildCommand("brevlo_test_child"));
}

TEST_F(ChildProcessTest, BareNameIsFoundInTheSystemDirectory) {
  wchar_t system[MAX_PATH];
  const UINT n = ::GetSystemDirectoryW(system, MAX_PATH);
  ChildCommand command("cmd");
  command.add_argument("/c");
  command.add_argument("exit 7");
  const Result<std::u16string> resolved = resolve_program("cmd");
  ASSERT_TRUE(resolved.has_value());
  EXPECT_EQ(wtf8_from_utf16(*resolved), narrow(std::wstring(system, n)) + "\\cmd.exe");
  EXPECT_EQ(run_and_wait(command), 7u);
}

TEST_F(ChildProcessTest, BareNameFoundNowhere) {
  EXPECT_EQ(resolve_program("brevlo-no-such-program"), std::unexpected(kNotFound));
  EXPECT_EQ(run_and_wait(ChildCommand("brevlo-no-such-program")), std::unexpected(kNotFound));
}

struct NoFileNameRow {
  const char* name;
  const char* program;
};

class ProgramWithoutFileName : public ChildProcessTest,
                               public ::testing::WithParamInterface<NoFileNameRow> {};

TEST_P(ProgramWithoutFileName, IsRefused) {
  const std::string program = GetParam().program;
  EXPECT_EQ(run_and_wait(ChildCommand(program)), std::unexpected(kNoFileName)) << program;
}

INSTANTIATE_TEST_SUITE_P(ChildProcess, ProgramWithoutFileName,
                         ::testing::Values(NoFileNameRow{"empty", ""},
                                           NoFileNameRow{"folder_with_backslash", R"(C:\dir\)"},
                                           NoFileNameRow{"folder_with_slash", "C:/dir/"}),
                         [](const auto& info) { return std::string(info.param.name); });

// In a verbatim path "/" is part of the name.
TEST_F(ChildProcessTest, VerbatimPathEndingInSlashHasAFileName) {
  EXPECT_TRUE(resolve_program(R"(\\?\C:\dir/)").has_value());
}

TEST_F(ChildProcessTest, NulInProgramOrArgument) {
  EXPECT_EQ(run_and_wait(ChildCommand(dir / std::string("a\0.exe", 6))),
            std::unexpected(kNulInProgram));
  EXPECT_EQ(run_and_wait(ChildCommand(std::string("a\0b", 3))), std::unexpected(kNulInProgram));
  ChildCommand command(child_program());
  command.add_argument(std::string("a\0b", 3));
  EXPECT_EQ(run_and_wait(command), std::unexpected(kNulInArgument));
}

TEST_F(ChildProcessTest, MissingProgramIsASystemError) {
  const Result<StartedChild> child = start_child(ChildCommand(dir / "missing.exe"));
  ASSERT_FALSE(child.has_value());
  EXPECT_EQ(child.error(), Error::os(ERROR_FILE_NOT_FOUND));
}

TEST_F(ChildProcessTest, DirectoryIsNoProgram) {
  ASSERT_TRUE(::CreateDirectoryW(wide(dir / "app.exe").c_str(), nullptr));
  const Result<StartedChild> child = start_child(ChildCommand(dir / "app.exe"));
  ASSERT_FALSE(child.has_value());
  EXPECT_TRUE(child.error().is_os());
}

// Replaces the three standard handles for one test and puts the old ones back.
class StandardHandles {
 public:
  StandardHandles(HANDLE in, HANDLE out, HANDLE err) {
    for (std::size_t i = 0; i < kIds.size(); ++i) saved_[i] = ::GetStdHandle(kIds[i]);
    ::SetStdHandle(kIds[0], in);
    ::SetStdHandle(kIds[1], out);
    ::SetStdHandle(kIds[2], err);
  }
  ~StandardHandles() {
    for (std::size_t i = 0; i < kIds.size(); ++i) ::SetStdHandle(kIds[i], saved_[i]);
  }
  StandardHandles(const StandardHandles&) = delete;
  StandardHandles& operator=(const StandardHandles&) = delete;

 private:
  static constexpr std::array<DWORD, 3> kIds = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE,
                                                STD_ERROR_HANDLE};
  std::array<HANDLE, 3> saved_{};
};

TEST_F(ChildProcessTest, WithoutStandardHandlesNoneArePassed) {
  ChildReport report;
  {
    StandardHandles none(nullptr, nullptr, nullptr);
    report = run(ChildCommand(child_program()));
  }
  EXPECT_EQ(report.startup_flags, "0");
  EXPECT_EQ(report.std_handles, "none none none");
}

TEST_F(ChildProcessTest, StandardOutputReachesTheChildAsADuplicate) {
  UniqueHandle file(::CreateFileW(wide(dir / "out.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                  nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(file);
  ScopedEnvironmentVariable text(L"BREVLO_CHILD_STDOUT_TEXT", L"来自子进程\n");
  ChildReport report;
  {
    StandardHandles only_output(nullptr, file.get(), INVALID_HANDLE_VALUE);
    report = run(ChildCommand(child_program()));
  }
  file.reset();
  EXPECT_EQ(report.startup_flags, std::to_string(STARTF_USESTDHANDLES));
  EXPECT_EQ(report.std_handles, "none set none");
  EXPECT_EQ(read_file(dir / "out.txt"), "来自子进程\n");
}

// The number of handles this process has open: GetProcessHandleCount, or where that counts
// nothing (Wine), the system's handle table filtered by process id.
std::optional<std::size_t> open_handle_count() {
  DWORD count = 0;
  if (::GetProcessHandleCount(::GetCurrentProcess(), &count) && count != 0) return count;
  struct Entry {
    PVOID object;
    ULONG_PTR process_id;
    ULONG_PTR handle;
    ULONG access;
    USHORT back_trace_index;
    USHORT type_index;
    ULONG attributes;
    ULONG reserved;
  };
  struct Table {
    ULONG_PTR count;
    ULONG_PTR reserved;
    Entry entries[1];
  };
  constexpr auto kExtendedHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(64);
  constexpr NTSTATUS kLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);
  std::vector<std::uint64_t> buffer(1 << 17);
  NTSTATUS status = 0;
  ULONG needed = 0;
  while ((status = ::NtQuerySystemInformation(
              kExtendedHandleInformation, buffer.data(),
              static_cast<ULONG>(buffer.size() * sizeof(buffer[0])), &needed)) == kLengthMismatch) {
    buffer.resize(buffer.size() * 2);
  }
  if (status != 0) return std::nullopt;
  const auto* table = reinterpret_cast<const Table*>(buffer.data());
  std::size_t own = 0;
  for (ULONG_PTR i = 0; i < table->count; ++i) {
    if (table->entries[i].process_id == ::GetCurrentProcessId()) ++own;
  }
  return own;
}

// Nothing the start acquired (duplicated standard handles, the child's handles) stays open, on
// success and on failure alike.
TEST_F(ChildProcessTest, NoHandleStaysOpen) {
  UniqueHandle file(::CreateFileW(wide(dir / "out.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                  nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(file);
  StandardHandles handles(file.get(), file.get(), file.get());
  const std::optional<std::size_t> before = open_handle_count();
  if (!before) GTEST_SKIP() << "the system does not count this process's handles";
  run(ChildCommand(child_program()));
  EXPECT_FALSE(start_child(ChildCommand(dir / "missing.exe")).has_value());
  {
    Result<StartedChild> child = start_child(ChildCommand(child_program()));
    ASSERT_TRUE(child.has_value());
    ::WaitForSingleObject(child->process(), INFINITE);
  }
  EXPECT_EQ(open_handle_count(), before);
}

}  // namespace
}  // namespace brevlo
