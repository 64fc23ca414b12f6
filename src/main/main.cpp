// The process frame: start-up on the main thread, the launch sequence, the end.
#include <cstdlib>
#include <new>
#include <span>
#include <string_view>

#include "core/win/windows_environment.hpp"
#include "main/frame.hpp"
#include "platform/messages.hpp"
#include "platform/output.hpp"
#include "platform/process.hpp"
#include "platform/win_support.hpp"

extern "C" const std::uint8_t brevlo_installer_start[];
extern "C" const std::uint8_t brevlo_installer_end[];

namespace {

DWORD g_main_thread_id = 0;

void write_stderr(std::string_view text) {
  (void)brevlo::write_all(
      brevlo::standard_device(brevlo::Stream::Stderr),
      std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

// Called last for every exception; reports a stack overflow and lets the system go on with it.
LONG CALLBACK stack_overflow_handler(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode == EXCEPTION_STACK_OVERFLOW) {
    const std::string_view name = GetCurrentThreadId() == g_main_thread_id ? "main" : "<unknown>";
    char line[64];
    std::size_t n = 0;
    for (std::string_view piece : {std::string_view("\nthread '"), name,
                                   std::string_view("' has overflowed its stack\n")}) {
      for (char c : piece) line[n++] = c;
    }
    write_stderr(std::string_view(line, n));
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

void name_thread_main() {
  using SetThreadDescriptionFn = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  if (kernel32 == nullptr) return;
  // Looked up at run time: older systems lack it, and then the thread stays unnamed.
  auto set_description = reinterpret_cast<SetThreadDescriptionFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel32, "SetThreadDescription")));
  if (set_description != nullptr) set_description(GetCurrentThread(), L"main");
}

[[noreturn]] void allocation_failed(std::size_t size) {
  char line[80];
  char* p = line;
  for (char c : std::string_view("memory allocation of ")) *p++ = c;
  char digits[24];
  int d = 0;
  do {
    digits[d++] = static_cast<char>('0' + size % 10);
    size /= 10;
  } while (size != 0);
  while (d > 0) *p++ = digits[--d];
  for (char c : std::string_view(" bytes failed\n")) *p++ = c;
  brevlo::fatal_runtime_exit(std::string_view(line, static_cast<std::size_t>(p - line)));
}

}  // namespace

// Memory exhaustion ends the process at once with its own line, never by unwinding.
void* operator new(std::size_t size) {
  if (void* p = std::malloc(size != 0 ? size : 1)) return p;
  allocation_failed(size);
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

int main(int, char**) {
  // Arguments are parsed by the runtime as usual and never looked at.
  AddVectoredExceptionHandler(0, stack_overflow_handler);
  ULONG guarantee = 0x5000;  // stack left for the overflow report
  SetThreadStackGuarantee(&guarantee);
  name_thread_main();
  g_main_thread_id = GetCurrentThreadId();
  brevlo::record_main_thread();

  brevlo::WindowsLaunchEnvironment env(std::span<const std::uint8_t>(
      brevlo_installer_start, static_cast<std::size_t>(brevlo_installer_end - brevlo_installer_start)));
  return brevlo::run_and_finish(env);
}
