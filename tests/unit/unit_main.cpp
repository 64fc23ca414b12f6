// The unit suites' entry: GoogleTest's own run, watched case by case. A case still running after
// the limit (kCaseLimit times BREVLO_TEST_TIME_SCALE, or --case_limit=SECONDS) ends the whole program with status 1 and a line
// naming it (a loop that never ends, a wait that is never answered), so a hang fails at once with
// the case's name instead of running into the outer time limit of the test run, which names
// nothing.
#include <gtest/gtest.h>

#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <future>
#include <string>
#include <string_view>
#include <thread>

#include "../common/time_limit.hpp"

namespace {

// Every unit case finishes in well under a second; the slowest (the JSON conformance suite under
// Wine, or under the sanitizers) in a few. The limit leaves room for a loaded machine, and grows
// with the tests' one time knob.
constexpr std::chrono::seconds kCaseLimit{30};

class CaseWatchdog : public ::testing::EmptyTestEventListener {
 public:
  explicit CaseWatchdog(std::chrono::seconds limit) : limit_(limit), thread_([this] { watch(); }) {}

  ~CaseWatchdog() override {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_one();
    thread_.join();
  }

  CaseWatchdog(const CaseWatchdog&) = delete;
  CaseWatchdog& operator=(const CaseWatchdog&) = delete;

  void OnTestStart(const ::testing::TestInfo& info) override {
    std::lock_guard lock(mutex_);
    running_ = std::string(info.test_suite_name()) + "." + info.name();
    if (info.value_param() != nullptr) running_ += std::string(" (") + info.value_param() + ")";
    deadline_ = std::chrono::steady_clock::now() + limit_;
    changed_.notify_one();
  }

  void OnTestEnd(const ::testing::TestInfo&) override {
    std::lock_guard lock(mutex_);
    running_.clear();
    changed_.notify_one();
  }

 private:
  void watch() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      if (running_.empty()) {
        changed_.wait(lock);
      } else if (std::chrono::steady_clock::now() >= deadline_) {
        std::fflush(stdout);
        std::fprintf(stderr, "[  TIMEOUT ] %s still running after %lld s; the run ends here\n",
                     running_.c_str(), static_cast<long long>(limit_.count()));
        std::fflush(stderr);
        std::_Exit(1);
      } else {
        changed_.wait_until(lock, deadline_);
      }
    }
  }

  const std::chrono::seconds limit_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string running_;  // empty between cases
  std::chrono::steady_clock::time_point deadline_;
  bool stopping_ = false;
  std::thread thread_;  // last: starts once everything it reads is there
};

// A case that never ends, for the check of the watchdog itself (tests/unit/case_limit_test.sh).
TEST(CaseWatchdog, DISABLED_NeverEnds) {
  std::promise<void> never;
  never.get_future().wait();
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  std::chrono::seconds limit = kCaseLimit * brevlo::test_time::scale();
  constexpr std::string_view kLimitFlag = "--case_limit=";
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    long long seconds = 0;
    const char* const end = arg.data() + arg.size();
    if (!arg.starts_with(kLimitFlag) ||
        std::from_chars(arg.data() + kLimitFlag.size(), end, seconds).ptr != end || seconds <= 0) {
      std::fprintf(stderr, "unknown argument %s (not a GoogleTest flag nor --case_limit=SECONDS)\n",
                   argv[i]);
      return 2;
    }
    limit = std::chrono::seconds(seconds);
  }
  ::testing::TestEventListeners& listeners = ::testing::UnitTest::GetInstance()->listeners();
  CaseWatchdog watchdog(limit);
  listeners.Append(&watchdog);
  const int status = RUN_ALL_TESTS();
  listeners.Release(&watchdog);
  return status;
}
