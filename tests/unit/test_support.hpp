#pragma once
// Shared pieces of the unit tests: capture of both output devices and fixed system messages.

#include <cstdint>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "../common/location_of.hpp"
#include "../common/row_name.hpp"
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

using test_common::build_machine_path;
using test_common::location_of;

}  // namespace brevlo::testing
