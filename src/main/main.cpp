// The process frame: start-up on the main thread, the launch sequence, the end.
#include <cstdint>
#include <cstdlib>
#include <new>
#include <span>

#include "core/win/windows_environment.hpp"
#include "main/frame.hpp"
#include "main/startup.hpp"

extern "C" const std::uint8_t brevlo_installer_start[];
extern "C" const std::uint8_t brevlo_installer_end[];

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
  brevlo::WindowsLaunchEnvironment env(std::span<const std::uint8_t>(
      brevlo_installer_start, static_cast<std::size_t>(brevlo_installer_end - brevlo_installer_start)));
  return brevlo::run_and_finish(env);
}
