#pragma once
// A line built in a fixed buffer, for the ends that must not allocate (memory or stack may be what
// ran out): what does not fit is cut, and one byte is always kept for the closing line feed.

#include <cstddef>
#include <string_view>

#include "platform/process.hpp"

namespace brevlo {

template <std::size_t Capacity = 512>
class FixedLine {
  static_assert(Capacity >= 2);

 public:
  void add(std::string_view piece) {
    for (char c : piece) {
      if (used_ + 1 < Capacity) {
        text_[used_++] = c;
      } else {
        cut_ = true;
      }
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

  // True when something added did not fit.
  bool cut() const { return cut_; }

  // What was added, as far as it fitted.
  std::string_view text() const { return std::string_view(text_, used_); }

  // Writes the line and its line feed to standard error and ends the process at once
  // (fatal_runtime_exit).
  [[noreturn]] void end() {
    text_[used_++] = '\n';
    fatal_runtime_exit(std::string_view(text_, used_));
  }

 private:
  char text_[Capacity];
  std::size_t used_ = 0;
  bool cut_ = false;
};

}  // namespace brevlo
