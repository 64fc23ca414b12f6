#pragma once
// The name of a table row's GoogleTest case, for INSTANTIATE_TEST_SUITE_P's name generators.

#include <string>
#include <string_view>

namespace brevlo::testing {

// A row's words as the name of its case: each character other than an ASCII letter or digit
// becomes '_'.
inline std::string row_name(std::string_view words) {
  std::string name(words);
  for (char& ch : name) {
    const bool keep = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9');
    if (!keep) ch = '_';
  }
  return name;
}

}  // namespace brevlo::testing
