#pragma once
// Shared pieces of the unit tests: capture of both output devices and fixed system messages.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "platform/messages.hpp"
#include "platform/output.hpp"
#include "platform/system_message.hpp"

namespace brevlo::testing {

// Records every device write separately.
class CaptureDevice : public OutputDevice {
 public:
  Result<std::size_t> write(std::span<const std::uint8_t> bytes) override {
    writes.emplace_back(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    text += writes.back();
    return bytes.size();
  }
  std::string text;
  std::vector<std::string> writes;
};

// Messages for the codes the tests use, as an English Windows words them.
inline std::string fake_system_message(std::uint32_t code) {
  switch (code) {
    case 2: return "The system cannot find the file specified.";
    case 5: return "Access is denied.";
    default: return "OS Error " + std::to_string(code) + " (FormatMessageW() returned error 317)";
  }
}

// Captures stdout and stderr for the lifetime of the object, starting from fresh channels.
class CapturedOutput {
 public:
  CapturedOutput() {
    reset_channels_for_testing();
    set_standard_device(Stream::Stdout, &out);
    set_standard_device(Stream::Stderr, &err);
    set_system_message_source(&fake_system_message);
    record_main_thread();
  }
  ~CapturedOutput() {
    reset_channels_for_testing();
    set_standard_device(Stream::Stdout, nullptr);
    set_standard_device(Stream::Stderr, nullptr);
    set_system_message_source(nullptr);
  }
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;

  CaptureDevice out;
  CaptureDevice err;
};

// A file or folder of the build machine named in UTF-8, whatever letters its folders hold; a
// Windows build reaches it through Wine's drive Z:.
inline std::filesystem::path build_machine_path(std::string utf8) {
#ifdef _WIN32
  utf8.insert(0, "Z:");
#endif
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// The report location of the call that starts at needle in a repository file (first match): the
// path with backslashes, the line, and the column of the call's opening parenthesis, which is the
// column GCC records for a call.
inline std::string location_of(const std::string& repo_path, const std::string& needle) {
  std::ifstream in(build_machine_path(BREVLO_SOURCE_DIR "/" + repo_path));
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    const auto start = line.find(needle);
    if (start != std::string::npos) {
      const auto column = line.find('(', start);
      std::string file = repo_path;
      for (char& c : file) {
        if (c == '/') c = '\\';
      }
      return file + ":" + std::to_string(number) + ":" + std::to_string(column + 1);
    }
  }
  return "<" + needle + " not found in " + repo_path + ">";
}

}  // namespace brevlo::testing
