#include "platform/process.hpp"

#include <atomic>

namespace brevlo {
namespace {

std::atomic<std::uint64_t> g_main_thread{0};  // 0: not recorded

}  // namespace

void record_main_thread() { g_main_thread = current_thread_id(); }

bool is_main_thread() { return current_thread_id() == g_main_thread; }

}  // namespace brevlo
