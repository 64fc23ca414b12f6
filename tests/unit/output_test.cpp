#include "platform/output.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <future>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "../common/time_limit.hpp"

#ifdef _WIN32
#include "platform/byte_path_win.hpp"
#include "platform/handle_win.hpp"
#include "platform/windows_api_win.hpp"
#endif

namespace brevlo {
namespace {

const Error kWholeBuffer = Error::fixed(ErrorKind::WriteZero, "failed to write whole buffer");
const Error kBufferedData =
    Error::fixed(ErrorKind::WriteZero, "failed to write the buffered data");

Result<void> put(Stream stream, std::initializer_list<std::string_view> pieces) {
  return channel_write(stream, std::span(pieces.begin(), pieces.size()));
}

// A device that records the bytes offered to each write. A scripted answer (a byte count, or a
// failure) is used for the next writes; once the script runs out, every write takes all bytes.
class RecordingDevice : public OutputDevice {
 public:
  Result<std::size_t> write(std::span<const std::uint8_t> bytes) override {
    writes.emplace_back(bytes.begin(), bytes.end());
    if (script.empty()) return bytes.size();
    const Result<std::size_t> answer = script.front();
    script.pop_front();
    if (!answer) return answer;
    return std::min(*answer, bytes.size());
  }

  std::deque<Result<std::size_t>> script;
  std::vector<std::string> writes;
};

using Writes = std::vector<std::string>;

class OutputChannels : public testing::Test {
 protected:
  void SetUp() override {
    reset_channels_for_testing();
    set_standard_device(Stream::Stdout, &out);
    set_standard_device(Stream::Stderr, &err);
  }
  void TearDown() override {
    set_standard_device(Stream::Stdout, nullptr);
    set_standard_device(Stream::Stderr, nullptr);
    reset_channels_for_testing();
  }

  RecordingDevice out;
  RecordingDevice err;
};

struct BufferingCase {
  const char* name;
  Stream stream;
  std::vector<std::vector<std::string>> messages;  // each handed over as one message of pieces
  Writes writes;                                    // the device writes, in order
};

void PrintTo(const BufferingCase& c, std::ostream* os) { *os << c.name; }

class LineBuffering : public OutputChannels, public testing::WithParamInterface<BufferingCase> {};

TEST_P(LineBuffering, DeviceSeesTheExpectedWrites) {
  const BufferingCase& c = GetParam();
  RecordingDevice& device = c.stream == Stream::Stdout ? out : err;
  for (const auto& message : c.messages) {
    const std::vector<std::string_view> pieces(message.begin(), message.end());
    ASSERT_TRUE(channel_write(c.stream, pieces));
  }
  EXPECT_EQ(device.writes, c.writes);
}

const std::string k1000(1000, 'e');
const std::string k1024(1024, 'd');
const std::string k1500(1500, 'c');

INSTANTIATE_TEST_SUITE_P(
    Cases, LineBuffering,
    testing::Values(
        BufferingCase{"ShortLineIsOneWriteAtItsLineFeed",
                      Stream::Stdout,
                      {{"🔍 WebView2 Runtime 安装状态: ", "false", " \n"}},
                      {"🔍 WebView2 Runtime 安装状态: false \n"}},
        BufferingCase{"PartialLineWaits", Stream::Stdout, {{"开始", "安装"}}, {}},
        BufferingCase{"TextAfterTheLastLineFeedWaitsForTheNextOne",
                      Stream::Stdout,
                      {{"one\ntw"}, {"o\n"}, {"three"}},
                      {"one\n", "two\n"}},
        BufferingCase{"LinesPartOnAnEmptyBufferIsOneStraightWrite",
                      Stream::Stdout,
                      {{"a\nb\nc"}},
                      {"a\nb\n"}},
        BufferingCase{"LinesPartJoinsTheBufferedText",
                      Stream::Stdout,
                      {{"x"}, {"y\nz\nw"}},
                      {"xy\nz\n"}},
        BufferingCase{"PieceWithoutLineFeedThatDoesNotFitFlushesFirst",
                      Stream::Stdout,
                      {{k1000}, {std::string(100, 'f')}},
                      {k1000}},
        BufferingCase{"PieceThatExactlyFillsTheBufferIsKept",
                      Stream::Stdout,
                      {{k1000}, {std::string(24, 'f')}, {"g"}},
                      {k1000 + std::string(24, 'f')}},
        BufferingCase{"PieceOf1024BytesBypassesTheBuffer", Stream::Stdout, {{k1024}}, {k1024}},
        BufferingCase{"LongPieceFlushesThenBypasses",
                      Stream::Stdout,
                      {{"ab"}, {k1500}},
                      {"ab", k1500}},
        BufferingCase{"LongLinesPartAfterBufferedText",
                      Stream::Stdout,
                      {{"ab"}, {k1500 + "\nrest"}},
                      {"ab", k1500 + "\n"}},
        BufferingCase{"StderrWritesEachPieceAtOnce",
                      Stream::Stderr,
                      {{"❌ 静默安装失败: ", "boom", "\n"}, {"partial"}},
                      {"❌ 静默安装失败: ", "boom", "\n", "partial"}}),
    [](const testing::TestParamInfo<BufferingCase>& info) { return info.param.name; });

TEST_F(OutputChannels, WriteAllRepeatsOnTheRemainingBytes) {
  err.script = {Result<std::size_t>(2), Result<std::size_t>(1)};
  ASSERT_TRUE(put(Stream::Stderr, {"hello"}));
  EXPECT_EQ(err.writes, (Writes{"hello", "llo", "lo"}));
}

TEST_F(OutputChannels, WriteAllTakingNothingFails) {
  err.script = {Result<std::size_t>(0)};
  const auto written = put(Stream::Stderr, {"x", "y"});
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error(), kWholeBuffer);
  EXPECT_EQ(written.error().text(), "failed to write whole buffer");
  EXPECT_EQ(err.writes, (Writes{"x"})) << "the message stops at its first failure";
}

TEST_F(OutputChannels, StraightStdoutWriteTakingNothingFails) {
  out.script = {Result<std::size_t>(0)};
  const auto written = put(Stream::Stdout, {"line\n"});
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error(), kWholeBuffer);
}

TEST_F(OutputChannels, FlushTakingNothingFails) {
  out.script = {Result<std::size_t>(0)};
  const auto written = put(Stream::Stdout, {"abc", "\n"});
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error(), kBufferedData);
  EXPECT_EQ(written.error().text(), "failed to write the buffered data");
}

TEST_F(OutputChannels, WrittenBytesLeaveTheBufferEvenWhenALaterWriteFails) {
  out.script = {Result<std::size_t>(3), std::unexpected(Error::os(232))};
  const auto failed = put(Stream::Stdout, {"abcdef", "\n"});
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error(), Error::os(232));
  ASSERT_TRUE(put(Stream::Stdout, {"g\n"}));
  EXPECT_EQ(out.writes, (Writes{"abcdef\n", "def\n", "def\ng\n"}));
}

TEST_F(OutputChannels, BufferEndingInALineFeedIsFlushedBeforeAPartialPiece) {
  // A failed flush leaves a whole line in the buffer; the next piece sends it first.
  out.script = {std::unexpected(Error::os(232))};
  ASSERT_FALSE(put(Stream::Stdout, {"abc", "\n"}));
  ASSERT_TRUE(put(Stream::Stdout, {"tail"}));
  EXPECT_EQ(out.writes, (Writes{"abc\n", "abc\n"}));
}

TEST_F(OutputChannels, MissingHandleCountsAsWritten) {
  out.script = {std::unexpected(Error::os(6))};
  err.script = {std::unexpected(Error::os(6))};
  ASSERT_TRUE(put(Stream::Stdout, {"dropped", "\n"}));
  ASSERT_TRUE(put(Stream::Stderr, {"dropped\n"}));
  ASSERT_TRUE(put(Stream::Stdout, {"next\n"}));
  EXPECT_EQ(out.writes, (Writes{"dropped\n", "next\n"}));
  EXPECT_EQ(err.writes, (Writes{"dropped\n"}));
}

TEST_F(OutputChannels, CleanupFlushesAndLeavesStdoutUnbuffered) {
  ASSERT_TRUE(put(Stream::Stdout, {"done\n", "partial"}));
  output_cleanup();
  EXPECT_EQ(out.writes, (Writes{"done\n", "partial"}));
  ASSERT_TRUE(put(Stream::Stdout, {"a", "b\nc"}));
  EXPECT_EQ(out.writes, (Writes{"done\n", "partial", "a", "b\n", "c"}));
}

TEST_F(OutputChannels, CleanupOfUnusedStdoutWritesNothingAndLeavesItUnbuffered) {
  output_cleanup();
  EXPECT_TRUE(out.writes.empty());
  ASSERT_TRUE(put(Stream::Stdout, {"late"}));
  EXPECT_EQ(out.writes, (Writes{"late"}));
}

TEST_F(OutputChannels, CleanupIgnoresAFailedFlush) {
  ASSERT_TRUE(put(Stream::Stdout, {"lost"}));
  out.script = {std::unexpected(Error::os(232))};
  output_cleanup();
  ASSERT_TRUE(put(Stream::Stdout, {"z"}));
  EXPECT_EQ(out.writes, (Writes{"lost", "z"}));
}

// A device whose first write waits until the test lets it go, so that another thread holds the
// channel's lock meanwhile.
class GateDevice final : public RecordingDevice {
 public:
  Result<std::size_t> write(std::span<const std::uint8_t> bytes) override {
    std::unique_lock lock(mutex_);
    if (!entered_) {
      entered_ = true;
      changed_.notify_all();
      changed_.wait(lock, [this] { return released_; });
    }
    return RecordingDevice::write(bytes);
  }
  void wait_until_entered() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return entered_; });
  }
  void release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool entered_ = false;
  bool released_ = false;
};

TEST_F(OutputChannels, CleanupDoesNothingWhileAnotherThreadHoldsTheLock) {
  GateDevice gate;
  set_standard_device(Stream::Stdout, &gate);
  std::thread printer([] { ASSERT_TRUE(put(Stream::Stdout, {"held\n"})); });
  gate.wait_until_entered();
  auto cleanup = std::async(std::launch::async, [] { output_cleanup(); });
  // Only the clean-up's return while the lock is still held shows that it did not wait for it;
  // a clean-up that waits is let go after the limit, and the test fails.
  const auto limit = test_time::limit();
  const bool returned = cleanup.wait_for(limit) == std::future_status::ready;
  gate.release();
  printer.join();
  cleanup.wait();
  EXPECT_TRUE(returned) << "waited " << test_time::shown(limit)
                        << " for the clean-up, which waited for the lock";
  // Still line buffered: a partial line waits.
  ASSERT_TRUE(put(Stream::Stdout, {"later"}));
  EXPECT_EQ(gate.writes, (Writes{"held\n"}));
}

// A device that prints to its own channel from inside its first write, as a report made while a
// message is being written would.
class ReentrantDevice final : public RecordingDevice {
 public:
  Result<std::size_t> write(std::span<const std::uint8_t> bytes) override {
    if (!nested_) {
      nested_ = true;
      const auto inner = put(Stream::Stderr, {"inner"});
      if (!inner) return std::unexpected(inner.error());
    }
    return RecordingDevice::write(bytes);
  }

 private:
  bool nested_ = false;
};

// Runs a print on a thread of its own and gives its result, waiting at most the limit. A print
// still blocked then is stuck for good on a channel's lock, which every later case would block on
// too: the case fails with what it waited for and the program ends here, rather than hanging.
Result<void> print_within_limit(const char* what, Result<void> (*print)()) {
  struct Shared {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<Result<void>> result;
  };
  const auto shared = std::make_shared<Shared>();
  std::thread([shared, print] {
    Result<void> result = print();
    const std::lock_guard lock(shared->mutex);
    shared->result = std::move(result);
    shared->done.notify_all();
  }).detach();
  const auto limit = test_time::limit();
  std::unique_lock lock(shared->mutex);
  if (!shared->done.wait_for(lock, limit, [&] { return shared->result.has_value(); })) {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    ADD_FAILURE() << "waited " << test_time::shown(limit) << " for " << what << "; "
                  << test->test_suite_name() << "." << test->name()
                  << " ends the test program, which cannot go on past a stuck lock";
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(1);
  }
  return *shared->result;
}

TEST_F(OutputChannels, PrintFromTheThreadHoldingTheLockDoesNotBlock) {
  ReentrantDevice device;
  set_standard_device(Stream::Stderr, &device);
  const Result<void> printed = print_within_limit(
      "a nested print, which blocked on the channel's lock",
      [] { return put(Stream::Stderr, {"outer"}); });
  EXPECT_TRUE(printed);
  EXPECT_EQ(device.writes, (Writes{"inner", "outer"}));
}

TEST_F(OutputChannels, MessagesFromThreadsDoNotInterleave) {
  constexpr int kMessages = 300;
  auto printer = [](std::string_view tag) {
    for (int i = 0; i < kMessages; ++i) {
      ASSERT_TRUE(put(Stream::Stderr, {tag, "-", tag, "-", tag}));
    }
  };
  std::thread first(printer, "A");
  std::thread second(printer, "B");
  first.join();
  second.join();
  ASSERT_EQ(err.writes.size(), 2u * kMessages * 5);
  for (std::size_t i = 0; i < err.writes.size(); i += 5) {
    std::string message;
    for (std::size_t j = i; j < i + 5; ++j) message += err.writes[j];
    EXPECT_TRUE(message == "A-A-A" || message == "B-B-B") << message;
  }
}

#ifdef _WIN32

// The real devices over the process's standard handles. Each test points a standard handle at
// something it can read back and restores the original afterwards.
class StandardHandles : public testing::Test {
 protected:
  void SetUp() override {
    reset_channels_for_testing();
    set_standard_device(Stream::Stdout, nullptr);
    set_standard_device(Stream::Stderr, nullptr);
  }
  void TearDown() override {
    SetStdHandle(STD_OUTPUT_HANDLE, saved_out_);
    SetStdHandle(STD_ERROR_HANDLE, saved_err_);
    reset_channels_for_testing();
  }

  const HANDLE saved_out_ = GetStdHandle(STD_OUTPUT_HANDLE);
  const HANDLE saved_err_ = GetStdHandle(STD_ERROR_HANDLE);
};

std::span<const std::uint8_t> bytes_of(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// A scratch file that disappears when its handle is closed.
UniqueHandle scratch_file(const wchar_t* name, DWORD access) {
  wchar_t directory[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, directory);
  std::wstring path(directory, length);
  path += name;
  path += std::to_wstring(GetCurrentProcessId());
  return UniqueHandle(CreateFileW(path.c_str(), access,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
}

// The whole file; leaves the file position at its end.
std::string file_content(HANDLE file) {
  SetFilePointerEx(file, LARGE_INTEGER{}, nullptr, FILE_BEGIN);
  std::string content;
  char chunk[4096];
  DWORD read = 0;
  while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) content.append(chunk, read);
  return content;
}

std::string read_pipe(HANDLE pipe, std::size_t length) {
  std::string content(length, '\0');
  std::size_t done = 0;
  DWORD read = 0;
  while (done < length && ReadFile(pipe, content.data() + done, static_cast<DWORD>(length - done),
                                   &read, nullptr)) {
    done += read;
  }
  content.resize(done);
  return content;
}

TEST_F(StandardHandles, FileReceivesExactBytesAndPartialLineAtCleanup) {
  UniqueHandle file = scratch_file(L"brevlo-out-file-", GENERIC_READ | GENERIC_WRITE);
  ASSERT_TRUE(file) << GetLastError();
  SetStdHandle(STD_OUTPUT_HANDLE, file.get());
  ASSERT_TRUE(put(Stream::Stdout, {"🔍 WebView2 Runtime 安装状态: ", "false", " \n"}));
  ASSERT_TRUE(put(Stream::Stdout, {"开始安装"}));
  EXPECT_EQ(file_content(file.get()), "🔍 WebView2 Runtime 安装状态: false \n");
  output_cleanup();
  EXPECT_EQ(file_content(file.get()), "🔍 WebView2 Runtime 安装状态: false \n开始安装");
}

TEST_F(StandardHandles, PipeReceivesEachStderrPiece) {
  UniqueHandle reader;
  UniqueHandle writer;
  ASSERT_TRUE(CreatePipe(reader.put(), writer.put(), nullptr, 0));
  SetStdHandle(STD_ERROR_HANDLE, writer.get());
  const std::string_view line = "❌ 无法启动主程序: 拒绝访问。 (os error 5)\n";
  ASSERT_TRUE(put(Stream::Stderr, {"❌ 无法启动主程序: ", "拒绝访问。 (os error 5)", "\n"}));
  EXPECT_EQ(read_pipe(reader.get(), line.size()), line);
}

TEST_F(StandardHandles, PipeWithoutReaderFails) {
  UniqueHandle reader;
  UniqueHandle writer;
  ASSERT_TRUE(CreatePipe(reader.put(), writer.put(), nullptr, 0));
  reader.reset();
  SetStdHandle(STD_OUTPUT_HANDLE, writer.get());
  const auto written = put(Stream::Stdout, {"lost\n"});
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error(), Error::os(ERROR_NO_DATA));
}

TEST_F(StandardHandles, MissingHandleDropsTextSuccessfully) {
  SetStdHandle(STD_OUTPUT_HANDLE, nullptr);
  SetStdHandle(STD_ERROR_HANDLE, nullptr);
  const auto raw = standard_device(Stream::Stdout).write(bytes_of("x"));
  ASSERT_FALSE(raw);
  EXPECT_EQ(raw.error(), Error::os(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(put(Stream::Stdout, {"🚀 发现已安装应用。正在启动...\n", "partial"}));
  EXPECT_TRUE(put(Stream::Stderr, {"❌ 静默安装失败: ", "x", "\n"}));
  EXPECT_TRUE(write_all(standard_device(Stream::Stderr), bytes_of("\nthread 'main' panicked\n")));
  output_cleanup();
}

TEST_F(StandardHandles, EmptyWriteTouchesNoHandle) {
  SetStdHandle(STD_OUTPUT_HANDLE, INVALID_HANDLE_VALUE);
  const auto written = standard_device(Stream::Stdout).write({});
  ASSERT_TRUE(written);
  EXPECT_EQ(*written, 0u);
}

TEST(BytePath, WritesToAFileAndReportsTheCount) {
  UniqueHandle file = scratch_file(L"brevlo-byte-path-", GENERIC_READ | GENERIC_WRITE);
  ASSERT_TRUE(file) << GetLastError();
  const std::string content = "MZ\x90" + std::string(100000, '\0') + "end";
  const auto written = write_to_handle(file.get(), bytes_of(content));
  ASSERT_TRUE(written);
  EXPECT_EQ(*written, content.size());
  EXPECT_EQ(file_content(file.get()), content);
}

TEST(BytePath, HandleWithoutWriteAccessFailsWithTheTranslatedStatus) {
  UniqueHandle file = scratch_file(L"brevlo-byte-path-ro-", GENERIC_READ);
  ASSERT_TRUE(file) << GetLastError();
  const auto written = write_to_handle(file.get(), bytes_of("x"));
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error(), Error::os(ERROR_ACCESS_DENIED));
}

// The console half of the device runs in a child attached to a pseudo console (the test process
// itself has none). The child is this program again, running only the test below.
using CreatePseudoConsoleFn = HRESULT(WINAPI*)(COORD, HANDLE, HANDLE, DWORD, void**);
using ClosePseudoConsoleFn = void(WINAPI*)(void*);

std::u16string console_cells(HANDLE console, SHORT row, DWORD count) {
  std::u16string cells(count, u' ');
  DWORD read = 0;
  ReadConsoleOutputCharacterW(console, reinterpret_cast<wchar_t*>(cells.data()), count,
                              COORD{0, row}, &read);
  cells.resize(read);
  while (!cells.empty() && cells.back() == u' ') cells.pop_back();
  return cells;
}

constexpr SHORT kConsoleWidth = 120;

TEST(ConsoleChild, DISABLED_WritesThroughTheStandardDevices) {
  UniqueHandle console(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                   nullptr));
  ASSERT_TRUE(console) << GetLastError();
  SetStdHandle(STD_OUTPUT_HANDLE, console.get());
  SetStdHandle(STD_ERROR_HANDLE, console.get());
  reset_channels_for_testing();

  // A code page other than UTF-8: the text path through WriteConsoleW.
  ASSERT_TRUE(SetConsoleOutputCP(936));
  ASSERT_TRUE(put(Stream::Stdout, {"🚀 发现已安装应用。", "正在启动...\n"}));
  // "中" split between two messages on the unbuffered channel: the carry-over joins it.
  ASSERT_TRUE(put(Stream::Stderr, {"ab\xE4"}));
  ASSERT_TRUE(put(Stream::Stderr, {"\xB8\xAD\n"}));
  // More than one console write takes.
  std::string long_text;
  for (int i = 0; i < 1500; ++i) long_text += "中";
  ASSERT_TRUE(put(Stream::Stderr, {long_text, "\n"}));
  const auto invalid = put(Stream::Stderr, {"\xFF\n"});
  ASSERT_FALSE(invalid);
  EXPECT_EQ(invalid.error().text(),
            "Windows stdio in console mode does not support writing non-UTF-8 byte sequences");

  // UTF-8 output code page: the bytes go out unchanged through the byte path.
  ASSERT_TRUE(SetConsoleOutputCP(CP_UTF8));
  ASSERT_TRUE(put(Stream::Stderr, {"✅ 安装成功。\n"}));

  EXPECT_EQ(console_cells(console.get(), 0, kConsoleWidth), u"🚀 发现已安装应用。正在启动...");
  EXPECT_EQ(console_cells(console.get(), 1, kConsoleWidth), u"ab中");
  EXPECT_EQ(console_cells(console.get(), 2, 1500), std::u16string(1500, u'中'));
  EXPECT_EQ(console_cells(console.get(), 15, kConsoleWidth), u"✅ 安装成功。");
}

TEST(ConsoleDevice, NonUtf8ConsoleGetsUtf16AndUtf8ConsoleGetsBytes) {
  const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  const auto create_console = reinterpret_cast<CreatePseudoConsoleFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel32, "CreatePseudoConsole")));
  const auto close_console = reinterpret_cast<ClosePseudoConsoleFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel32, "ClosePseudoConsole")));
  if (create_console == nullptr || close_console == nullptr) {
    GTEST_SKIP() << "this system has no pseudo consoles";
  }

  UniqueHandle input_read, input_write, output_read, output_write;
  ASSERT_TRUE(CreatePipe(input_read.put(), input_write.put(), nullptr, 0));
  ASSERT_TRUE(CreatePipe(output_read.put(), output_write.put(), nullptr, 0));
  void* pseudo_console = nullptr;
  ASSERT_EQ(create_console(COORD{kConsoleWidth, 40}, input_read.get(), output_write.get(), 0,
                           &pseudo_console),
            S_OK);
  input_read.reset();
  output_write.reset();
  // Whatever the console shows goes through this pipe; it is drained so the console never stalls.
  std::string shown;
  std::thread drain([&shown, pipe = output_read.get()] {
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(pipe, chunk, sizeof chunk, &read, nullptr) && read > 0) shown.append(chunk, read);
  });

  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<unsigned char> storage(size);
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
  ASSERT_TRUE(InitializeProcThreadAttributeList(attributes, 1, 0, &size));
  ASSERT_TRUE(UpdateProcThreadAttribute(attributes, 0,
                                        ProcThreadAttributeValue(22, FALSE, TRUE, FALSE),
                                        pseudo_console, sizeof pseudo_console, nullptr, nullptr));
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.lpAttributeList = attributes;

  wchar_t program[MAX_PATH];
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(program) +
                         L"\" --gtest_also_run_disabled_tests"
                         L" --gtest_filter=ConsoleChild.DISABLED_WritesThroughTheStandardDevices";
  PROCESS_INFORMATION info{};
  const BOOL started = CreateProcessW(program, command.data(), nullptr, nullptr, FALSE,
                                      EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                                      &startup.StartupInfo, &info);
  DeleteProcThreadAttributeList(attributes);
  ASSERT_TRUE(started) << GetLastError();
  const UniqueHandle process(info.hProcess);
  const UniqueHandle thread(info.hThread);

  const DWORD waited = WaitForSingleObject(process.get(), test_time::limit_ms());
  if (waited != WAIT_OBJECT_0) TerminateProcess(process.get(), 1);
  DWORD exit_code = 1;
  GetExitCodeProcess(process.get(), &exit_code);
  close_console(pseudo_console);
  drain.join();
  EXPECT_EQ(waited, WAIT_OBJECT_0) << "waited " << test_time::shown(test_time::limit())
                                   << " for the child on the pseudo console to end";
  EXPECT_EQ(exit_code, 0u) << "the child's console showed:\n" << shown;
}

#endif  // _WIN32

}  // namespace
}  // namespace brevlo
