#pragma once
// The directory the system reports for temporary files.

#include <string>

#include "platform/error.hpp"

namespace brevlo {

// GetTempPath2W where the system has it, else GetTempPathW; taken as it comes (WTF-8), without a
// Unicode check.
Result<std::string> temporary_directory();

}  // namespace brevlo
