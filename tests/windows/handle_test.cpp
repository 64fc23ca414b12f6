#include "platform/handle_win.hpp"

#include <gtest/gtest.h>

#include <thread>
#include <utility>
#include <vector>

#include "common/row_name.hpp"
#include "core/system_library_win.hpp"
#include "platform/session_mutex_win.hpp"

namespace brevlo {
namespace {

// A handle that was closed is no longer known to the process.
bool is_open(HANDLE handle) {
  DWORD flags = 0;
  return ::GetHandleInformation(handle, &flags) != 0;
}

HANDLE new_event() { return ::CreateEventW(nullptr, TRUE, FALSE, nullptr); }

TEST(UniqueHandleTest, NullAndInvalidValueHoldNothing) {
  EXPECT_FALSE(UniqueHandle());
  EXPECT_FALSE(UniqueHandle(nullptr));
  EXPECT_FALSE(UniqueHandle(INVALID_HANDLE_VALUE));
  const HANDLE event = new_event();
  UniqueHandle owner(event);
  EXPECT_TRUE(owner);
  EXPECT_EQ(owner.get(), event);
}

TEST(UniqueHandleTest, ClosesAtEndOfScope) {
  const HANDLE event = new_event();
  { UniqueHandle owner(event); }
  EXPECT_FALSE(is_open(event));
}

TEST(UniqueHandleTest, MoveTransfersOwnership) {
  const HANDLE event = new_event();
  UniqueHandle first(event);
  UniqueHandle second(std::move(first));
  EXPECT_FALSE(first);  // NOLINT(bugprone-use-after-move): the moved-from state is the point
  EXPECT_EQ(second.get(), event);
  UniqueHandle third;
  third = std::move(second);
  EXPECT_TRUE(is_open(event));
  EXPECT_EQ(third.get(), event);
}

TEST(UniqueHandleTest, MoveAssignmentClosesTheOldHandle) {
  const HANDLE old_event = new_event();
  UniqueHandle owner(old_event);
  owner = UniqueHandle(new_event());
  EXPECT_FALSE(is_open(old_event));
}

TEST(UniqueHandleTest, ReleaseGivesUpWithoutClosing) {
  const HANDLE event = new_event();
  UniqueHandle owner(event);
  const HANDLE released = owner.release();
  EXPECT_FALSE(owner);
  EXPECT_TRUE(is_open(released));
  ::CloseHandle(released);
}

TEST(UniqueHandleTest, PutClosesTheOldHandleFirst) {
  const HANDLE old_event = new_event();
  UniqueHandle owner(old_event);
  HANDLE* slot = owner.put();
  EXPECT_FALSE(is_open(old_event));
  EXPECT_EQ(*slot, nullptr);
  *slot = new_event();
  EXPECT_TRUE(owner);
}

TEST(UniqueHandleTest, ClosingKeepsTheLastError) {
  UniqueHandle owner(new_event());
  ::SetLastError(ERROR_FILE_NOT_FOUND);
  owner.reset();
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  {
    UniqueHandle scoped(new_event());
    ::SetLastError(ERROR_ACCESS_DENIED);
  }
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(StartedChildTest, CloseReleasesBothHandles) {
  const HANDLE process = new_event();
  const HANDLE thread = new_event();
  StartedChild child{UniqueHandle(process), UniqueHandle(thread)};
  EXPECT_EQ(child.process(), process);
  EXPECT_EQ(child.thread(), thread);
  child.close();
  EXPECT_FALSE(is_open(process));
  EXPECT_FALSE(is_open(thread));
  EXPECT_EQ(child.process(), nullptr);
}

TEST(UniqueRegistryKeyTest, ClosesAnOpenedKey) {
  UniqueRegistryKey key;
  ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, key.put()),
            ERROR_SUCCESS);
  const HKEY raw = key.get();
  key.reset();
  DWORD subkeys = 0;
  EXPECT_NE(::RegQueryInfoKeyW(raw, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
}


// What the system answers: the real calls, or a refusal with the given code.
HANDLE WINAPI create_denied(LPSECURITY_ATTRIBUTES, BOOL, LPCWSTR) {
  ::SetLastError(ERROR_ACCESS_DENIED);
  return nullptr;
}
HANDLE WINAPI open_refused(DWORD, BOOL, LPCWSTR) {
  ::SetLastError(ERROR_FILE_NOT_FOUND);
  return nullptr;
}
DWORD WINAPI wait_failed(HANDLE, DWORD) {
  ::SetLastError(ERROR_INVALID_HANDLE);
  return WAIT_FAILED;
}
DWORD WINAPI wait_abandoned(HANDLE handle, DWORD) {
  return ::WaitForSingleObject(handle, INFINITE) == WAIT_OBJECT_0 ? WAIT_ABANDONED : WAIT_FAILED;
}

struct SessionMutexRow {
  const char* name;
  const char* mutex_name;
  MutexCalls calls;
  bool held;
};

class SessionMutexTest : public ::testing::TestWithParam<SessionMutexRow> {};

TEST_P(SessionMutexTest, HoldsWhateverMutexTheSystemGives) {
  // Another process's mutex of the same name, made first.
  const wchar_t* const name = L"Local\\brevlo-handle-test-mutex";
  const UniqueHandle existing(::CreateMutexW(nullptr, FALSE, name));
  ASSERT_TRUE(existing);
  // An object of another kind under a mutex's name.
  const UniqueHandle squatter(::CreateEventW(nullptr, TRUE, FALSE, L"Local\\brevlo-handle-test-event"));
  ASSERT_TRUE(squatter);
  const SessionMutexRow& row = GetParam();
  SessionMutex mutex = SessionMutex::acquire(row.mutex_name, row.calls);
  EXPECT_EQ(mutex.held(), row.held) << row.name;
  if (!row.held) return;
  // Held here: another thread cannot take it until it is released.
  const auto taken_elsewhere = [&] {
    DWORD waited = WAIT_FAILED;
    std::thread([&] {
      waited = ::WaitForSingleObject(existing.get(), 0);
      if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) ::ReleaseMutex(existing.get());
    }).join();
    return waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
  };
  EXPECT_FALSE(taken_elsewhere()) << row.name;
  mutex.release();
  EXPECT_TRUE(taken_elsewhere()) << row.name << ": released";
}

INSTANTIATE_TEST_SUITE_P(
    Acquire, SessionMutexTest,
    ::testing::ValuesIn(std::vector<SessionMutexRow>{
      {"opened for all access", "Local\\brevlo-handle-test-mutex", {}, true},
      {"not for all access: opened for waiting and releasing", "Local\\brevlo-handle-test-mutex",
       {create_denied, ::OpenMutexW, ::WaitForSingleObject}, true},
      {"not for all access, and not otherwise", "Local\\brevlo-handle-test-mutex",
       {create_denied, open_refused, ::WaitForSingleObject}, false},
      {"the name is another object's", "Local\\brevlo-handle-test-event", {}, false},
      {"the wait fails", "Local\\brevlo-handle-test-mutex", {::CreateMutexW, ::OpenMutexW, wait_failed}, false},
      {"its holder ended without releasing it", "Local\\brevlo-handle-test-mutex",
       {::CreateMutexW, ::OpenMutexW, wait_abandoned}, true},
    }),
    [](const auto& info) { return testing::row_name(info.param.name); });

// A close found at run time travels with the handle it closes; without one nothing is closed.
TEST(UniqueHandleTest, LoadedCloseMovesWithTheHandle) {
  using CloseFn = decltype(&::CloseHandle);
  using LoadedHandle = UniqueResource<HANDLE, LoadedClose<HANDLE, CloseFn>>;
  CloseFn loaded = nullptr;
  ASSERT_TRUE(find_call(::GetModuleHandleW(L"kernel32.dll"), "CloseHandle", loaded));
  const HANDLE event = new_event();
  LoadedHandle moved;
  {
    LoadedHandle owner(event, {loaded});
    moved = std::move(owner);
  }
  EXPECT_TRUE(is_open(event));
  ::SetLastError(ERROR_FILE_NOT_FOUND);
  moved.reset();
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(is_open(event));

  const HANDLE kept = new_event();
  { LoadedHandle without_close(kept); }
  EXPECT_TRUE(is_open(kept));
  ::CloseHandle(kept);
}

}  // namespace
}  // namespace brevlo
