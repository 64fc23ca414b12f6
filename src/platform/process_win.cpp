#include <cstdio>
#include <span>
#include <string>

#include "platform/output.hpp"
#include "platform/process.hpp"
#include "platform/win_support.hpp"

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
  for (USHORT i = 0; i < n; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "%4u: %p\n", static_cast<unsigned>(i), frames[i]);
    out += line;
  }
  return out;
}

}  // namespace brevlo
