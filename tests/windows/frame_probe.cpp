// Runs one of the process frame's immediate ends, for the frame tests: "overflow" recurses on the
// main thread until the stack is gone, "allocation N" reports a failed allocation of N bytes,
// "throw" makes the C++ library throw (std::string::at past the end), "terminate" calls
// std::terminate. The probe is linked as the launcher is, with the launcher's runtime ends.
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "main/startup_win.hpp"

namespace {

// Each frame keeps a buffer alive so that the recursion eats the stack quickly; running out of
// stack is the point.
#pragma GCC diagnostic ignored "-Winfinite-recursion"
__attribute__((noinline)) int recurse(int depth) {
  volatile char buffer[4096];
  buffer[0] = static_cast<char>(depth);
  return recurse(depth + 1) + buffer[0];
}

}  // namespace

int main(int argc, char** argv) {
  brevlo::start_process_frame();
  if (argc >= 2 && std::strcmp(argv[1], "overflow") == 0) return recurse(0);
  if (argc >= 3 && std::strcmp(argv[1], "allocation") == 0) {
    brevlo::allocation_failed(std::strtoull(argv[2], nullptr, 10));
  }
  if (argc >= 2 && std::strcmp(argv[1], "throw") == 0) {
    const std::string empty;
    return empty.at(1);
  }
  if (argc >= 2 && std::strcmp(argv[1], "terminate") == 0) std::terminate();
  return 2;
}
