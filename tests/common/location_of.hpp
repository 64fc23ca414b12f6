#pragma once
// Where a call in a repository file is, as this system's reports show a location.

#include <filesystem>
#include <fstream>
#include <string>

namespace brevlo::test_common {

// A file or folder of the build machine named in UTF-8, whatever letters its folders hold; a
// Windows build reaches it through Wine's drive Z:.
inline std::filesystem::path build_machine_path(std::string utf8) {
#ifdef _WIN32
  utf8.insert(0, "Z:");
#endif
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// The report location of the call that starts at needle in a repository file (first line that
// holds it): the path with backslashes, the line, and the column of the call's opening
// parenthesis (the first one at or after needle), which is the column GCC records for a call.
inline std::string location_of(const std::string& repo_path, const std::string& needle) {
  std::ifstream in(build_machine_path(BREVLO_SOURCE_DIR "/" + repo_path));
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    const auto start = line.find(needle);
    if (start == std::string::npos) continue;
    const auto parenthesis = line.find('(', start);
    if (parenthesis == std::string::npos) break;
    std::string file = repo_path;
    for (char& c : file) {
      if (c == '/') c = '\\';
    }
    return file + ":" + std::to_string(number) + ":" + std::to_string(parenthesis + 1);
  }
  return "<a call at " + needle + " not found in " + repo_path + ">";
}

}  // namespace brevlo::test_common
