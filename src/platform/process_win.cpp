#include <cstdint>
#include <span>
#include <string>

#include "platform/hex_digit.hpp"
#include "platform/output.hpp"
#include "platform/process.hpp"
#include "platform/text.hpp"
#include "platform/windows_api_win.hpp"

namespace brevlo {

void fatal_runtime_exit(std::string_view line) {
  (void)write_all(standard_device(Stream::Stderr),
                  std::span(reinterpret_cast<const std::uint8_t*>(line.data()), line.size()));
  // __fastfail: int 0x29 with the code in ecx; mingw-w64 declares no intrinsic for it.
  asm volatile("int $0x29" : : "c"(FAST_FAIL_FATAL_APP_EXIT) : "memory");
  __builtin_unreachable();
}

std::uint64_t current_thread_id() { return GetCurrentThreadId(); }

std::string stack_trace_text() {
  void* frames[62];
  const USHORT n = CaptureStackBackTrace(0, 62, frames, nullptr);
  std::string out = "stack backtrace:\n";
  // Each line: the frame's number right-aligned in four places, then its address in 16 hex digits.
  for (USHORT i = 0; i < n; ++i) {
    const std::string number = decimal(i);
    if (number.size() < 4) out.append(4 - number.size(), ' ');
    out += number;
    out += ": ";
    const auto address = reinterpret_cast<std::uintptr_t>(frames[i]);
    for (int shift = 60; shift >= 0; shift -= 4) {
      out += hex_digit(static_cast<unsigned>(address >> shift));
    }
    out += '\n';
  }
  return out;
}

}  // namespace brevlo
