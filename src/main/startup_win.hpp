#pragma once
// The process frame's start-up and its immediate ends (Windows).

#include <cstddef>

namespace brevlo {

// On the main thread, before anything else: the stack-overflow report (a vectored handler that
// writes "\nthread 'main' has overflowed its stack\n" and lets the system go on), 20 KiB of stack
// kept for it, the thread's description "main" where the system has SetThreadDescription, and the
// main thread's identity for the fatal-stop report.
void start_process_frame();

// "memory allocation of <size> bytes failed\n" on standard error, then the immediate end.
[[noreturn]] void allocation_failed(std::size_t size);

}  // namespace brevlo
