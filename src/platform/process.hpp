#pragma once
// Ending the process at once, and the calling thread's identity.

#include <cstdint>
#include <string_view>

namespace brevlo {

// Writes line to the standard error device (failures ignored) and ends the process at once
// through the system's fast-fail with code 7, without any clean-up.
[[noreturn]] void fatal_runtime_exit(std::string_view line);

// The system's identifier of the calling thread, distinct from that of every other running thread
// and never 0.
std::uint64_t current_thread_id();

// Marks the calling thread as the process's main thread, the one reports name "main".
void record_main_thread();

// True on the thread record_main_thread marked.
bool is_main_thread();

}  // namespace brevlo
