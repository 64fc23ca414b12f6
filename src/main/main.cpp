// The process frame: start-up on the main thread, the launch sequence, the end.
#include <cstdint>
#include <cstdlib>
#include <new>
#include <span>

#include "core/payload.hpp"
#include "core/windows_environment_win.hpp"
#include "main/frame.hpp"
#include "main/run_report_win.hpp"
#include "main/startup_win.hpp"

#include "brevlo_version.h"

// Marks this executable as a stub that brevlo-pack can fill, and states its version for
// `brevlo-pack inspect`: the 16-byte mark, then the version text and a NUL. Nothing reads it at
// run time; the link keeps it with --undefined.
extern "C" __attribute__((section(".brvlo"), used)) const char brevlo_stub_mark[] =
    "brevlo-stub/1\0\0\0" BREVLO_VERSION_TEXT;
static_assert(sizeof brevlo_stub_mark > sizeof brevlo::kStubMark);

// Memory exhaustion ends the process at once with its own line, never by unwinding.
void* operator new(std::size_t size) {
  if (void* p = std::malloc(size != 0 ? size : 1)) return p;
  brevlo::allocation_failed(size);
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

int main(int, char**) {
  // Arguments are parsed by the runtime as usual and never looked at.
  brevlo::start_process_frame();
  brevlo::WindowsLaunchEnvironment env(brevlo::embedded_installer_image());
  // Without --support-log and --failure-dialog nothing is recorded or shown.
  const auto options = brevlo::embedded_pack_options();
  if (options && (options->failure_dialog || options->support_log)) {
    return brevlo::run_and_report(env, *options);
  }
  return brevlo::run_and_finish(env);
}
