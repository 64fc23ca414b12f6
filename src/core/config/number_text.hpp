#pragma once
// How a number of the configuration document is named in a message.

#include <optional>
#include <string>
#include <string_view>

namespace brevlo {

// The shortest decimal that reads back as value, without an exponent and with ".0" added when it
// has no fraction: 100.0, 2.5, 0.0000001, -0.0.
std::string float_text(double value);

// The {found} form of a number given as its JSON text: "integer `N`" when it has no fraction or
// exponent and fits in 64 bits (unsigned, or signed when negative; -0 is not an integer), else
// "floating point `X`" with X as float_text gives it. Empty when the value lies beyond the range
// of a double.
std::optional<std::string> describe_number(std::string_view json_number);

}  // namespace brevlo
