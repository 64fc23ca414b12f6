#pragma once
// A line built in a fixed buffer, for the ends that must not allocate (memory may be what ran
// out); cut short where it does not fit, its line feed always kept.

#include <cstddef>
#include <string_view>

#include "platform/process.hpp"

namespace brevlo {

class FixedLine {
 public:
  void add(std::string_view piece) {
    for (char c : piece) {
      if (used_ + 1 < sizeof text_) text_[used_++] = c;  // room is kept for the line feed
    }
  }

  void add_decimal(unsigned long long value) {
    char digits[24];
    std::size_t n = 0;
    do {
      digits[n++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    while (n > 0) add(std::string_view(&digits[--n], 1));
  }

  // Writes the line and its line feed to standard error and ends the process at once
  // (fatal_runtime_exit).
  [[noreturn]] void end() {
    text_[used_++] = '\n';
    fatal_runtime_exit(std::string_view(text_, used_));
  }

 private:
  char text_[512];
  std::size_t used_ = 0;
};

}  // namespace brevlo
