#include "main/startup_win.hpp"

#include <span>
#include <string_view>

#include "platform/fixed_line.hpp"
#include "platform/messages.hpp"
#include "platform/output.hpp"
#include "platform/process.hpp"
#include "platform/text.hpp"
#include "platform/windows_api_win.hpp"

namespace brevlo {

namespace {

// Called last for every exception; reports a stack overflow and lets the system go on with it.
// It runs on what is left of the stack, so it formats into a fixed buffer.
LONG CALLBACK stack_overflow_handler(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode == EXCEPTION_STACK_OVERFLOW) {
    FixedLine<64> line;
    line.add("\nthread '");
    line.add(is_main_thread() ? "main" : "<unknown>");
    line.add("' has overflowed its stack\n");
    const std::string_view text = line.text();
    (void)write_all(standard_device(Stream::Stderr),
                    std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
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
  AddVectoredExceptionHandler(0, stack_overflow_handler);
  ULONG guarantee = 0x5000;  // stack left for the overflow report
  SetThreadStackGuarantee(&guarantee);
  describe_thread_as_main();
  record_main_thread();
}

void allocation_failed(std::size_t size) {
  FixedLine<> line;
  line.add("memory allocation of ");
  line.add_decimal(size);
  line.add(" bytes failed");
  line.end();
}

}  // namespace brevlo
