#include <execinfo.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "platform/output.hpp"
#include "platform/process.hpp"

namespace brevlo {

void fatal_runtime_exit(std::string_view line) {
  (void)write_all(standard_device(Stream::Stderr),
                  std::span(reinterpret_cast<const std::uint8_t*>(line.data()), line.size()));
  std::abort();
}

std::uint64_t current_thread_id() { return static_cast<std::uint64_t>(gettid()); }

std::string stack_trace_text() {
  void* frames[64];
  const int n = backtrace(frames, 64);
  std::string out = "stack backtrace:\n";
  for (int i = 0; i < n; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "%4d: %p\n", i, frames[i]);
    out += line;
  }
  return out;
}

}  // namespace brevlo
