// The process frame's immediate ends, in a child process: the stack-overflow report, the
// failed-allocation line and the C++ runtime's ends, each on standard error, and the process ended
// by the system.
#include <gtest/gtest.h>

#include <string>

#include "platform/handle_win.hpp"
#include "win_test_support.hpp"

namespace brevlo {
namespace {

using wintest::module_directory;
using wintest::read_file;
using wintest::running_under_wine;
using wintest::wide;

struct Ended {
  DWORD exit_code = 0;
  std::string err;
};

// Runs the frame probe with its standard error in a file and waits for it.
Ended run_probe(const std::wstring& arguments) {
  const std::string err_path = module_directory() + "\\frame_probe.err";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  UniqueHandle err(CreateFileW(wide(err_path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                               CREATE_ALWAYS, 0, nullptr));
  EXPECT_TRUE(err);
  const std::wstring program = wide(module_directory() + "\\brevlo_frame_probe.exe");
  std::wstring line = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdError = err.get();
  PROCESS_INFORMATION started{};
  Ended ended;
  if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &started)) {
    ADD_FAILURE() << "the frame probe did not start: " << GetLastError();
    return ended;
  }
  UniqueHandle process(started.hProcess);
  UniqueHandle thread(started.hThread);
  const DWORD waited = WaitForSingleObject(process.get(), test_time::limit_ms());
  if (waited != WAIT_OBJECT_0) {
    ADD_FAILURE() << "waited " << test_time::shown(test_time::limit())
                  << " for the frame probe to end";
    TerminateProcess(process.get(), 0xFFFFFFFF);
    WaitForSingleObject(process.get(), test_time::limit_ms());
  }
  GetExitCodeProcess(process.get(), &ended.exit_code);
  err.reset();
  ended.err = read_file(err_path).value_or("<no file>");
  return ended;
}

TEST(ProcessFrame, StackOverflowIsReportedOnStandardError) {
  const Ended ended = run_probe(L"overflow");
  EXPECT_EQ(ended.err, "\nthread 'main' has overflowed its stack\n");
  if (running_under_wine() && ended.exit_code != EXCEPTION_STACK_OVERFLOW) {
    GTEST_SKIP() << "Wine hands an unhandled stack overflow to its debugger, which ends the "
                    "process with 0x" << std::hex << ended.exit_code
                 << " rather than STATUS_STACK_OVERFLOW (the line was checked)";
  }
  EXPECT_EQ(ended.exit_code, static_cast<DWORD>(EXCEPTION_STACK_OVERFLOW));
}

// The immediate ends: one line on standard error, then the system's fast-fail.
struct ImmediateEnd {
  const wchar_t* arguments;
  std::string line;
};

const ImmediateEnd kImmediateEnds[] = {
    {L"allocation 1152921504606846976", "memory allocation of 1152921504606846976 bytes failed\n"},
    // A throw of the C++ library and std::terminate end through the launcher's own runtime ends.
    {L"throw", "fatal runtime error: std::out_of_range: basic_string::at: __n (which is 1) >= "
               "this->size() (which is 0)\n"},
    {L"terminate", "fatal runtime error: std::terminate called\n"},
};

class ImmediateEnds : public testing::TestWithParam<ImmediateEnd> {};

TEST_P(ImmediateEnds, WriteTheirLineAndFastFail) {
  const Ended ended = run_probe(GetParam().arguments);
  EXPECT_EQ(ended.err, GetParam().line);
  // The system's fast-fail ends the process with STATUS_STACK_BUFFER_OVERRUN, never 0 or 101.
  if (running_under_wine() && ended.exit_code != 0xC0000409) {
    EXPECT_NE(ended.exit_code, 0u);
    EXPECT_NE(ended.exit_code, 101u);
    GTEST_SKIP() << "Wine ends a fast-failed process with 0x" << std::hex << ended.exit_code
                 << " rather than STATUS_STACK_BUFFER_OVERRUN (the line was checked)";
  }
  EXPECT_EQ(ended.exit_code, 0xC0000409u);
}

INSTANTIATE_TEST_SUITE_P(ProcessFrame, ImmediateEnds, testing::ValuesIn(kImmediateEnds));

}  // namespace
}  // namespace brevlo
