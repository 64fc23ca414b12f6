#pragma once
// The system's own text for an error code.

#include <cstdint>
#include <string>

namespace brevlo {

// The message the system gives for a code, trailing white space removed; never fails (a fallback
// text names the code when the system has none).
std::string system_message(std::uint32_t code);

// Where system_message takes its text from. On Windows it is FormatMessageW; the native build has
// no system catalogue and uses whatever source is set here (tests set their own).
using SystemMessageSource = std::string (*)(std::uint32_t code);
void set_system_message_source(SystemMessageSource source);

}  // namespace brevlo
