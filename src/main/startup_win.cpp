#include "main/startup.hpp"

#include <span>
#include <string_view>

#include "main/fixed_line.hpp"
#include "platform/messages.hpp"
#include "platform/output.hpp"
#include "platform/process.hpp"
#include "platform/text.hpp"
#include "platform/win_support.hpp"

namespace brevlo {

namespace {

DWORD g_main_thread_id = 0;

// Called last for every exception; reports a stack overflow and lets the system go on with it.
// It runs on what is left of the stack, so it formats into a fixed buffer.
LONG CALLBACK stack_overflow_handler(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode == EXCEPTION_STACK_OVERFLOW) {
    const std::string_view name = GetCurrentThreadId() == g_main_thread_id ? "main" : "<unknown>";
    char line[64];
    std::size_t n = 0;
    for (std::string_view piece : {std::string_view("\nthread '"), name,
                                   std::string_view("' has overflowed its stack\n")}) {
      for (char c : piece) line[n++] = c;
    }
    (void)write_all(standard_device(Stream::Stderr),
                    std::span(reinterpret_cast<const std::uint8_t*>(line), n));
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

void describe_thread_as_main() {
  using SetThreadDescriptionFn = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  if (kernel32 == nullptr) return;
  // Looked up at run time: older systems lack it, and then the thread stays undescribed.
  auto set_description = reinterpret_cast<SetThreadDescriptionFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel32, "SetThreadDescription")));
  if (set_description != nullptr) set_description(GetCurrentThread(), L"main");
}

}  // namespace

void start_process_frame() {
  g_main_thread_id = GetCurrentThreadId();
  AddVectoredExceptionHandler(0, stack_overflow_handler);
  ULONG guarantee = 0x5000;  // stack left for the overflow report
  SetThreadStackGuarantee(&guarantee);
  describe_thread_as_main();
  record_main_thread();
}

void allocation_failed(std::size_t size) {
  FixedLine line;
  line.add("memory allocation of ");
  line.add_decimal(size);
  line.add(" bytes failed");
  line.end();
}

}  // namespace brevlo
