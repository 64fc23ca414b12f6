#pragma once
// The record of an installation under way: one file per product in a folder of brevlo's own under
// %LOCALAPPDATA% (never in the registry, never in the game's folder, where an installer may empty
// it), written and flushed before the installer starts and removed once it has ended well.

#include <string>

#include "core/config/config.hpp"
#include "platform/error.hpp"

namespace brevlo {

// %LOCALAPPDATA%\brevlo\<product digest>.installing, or why LOCALAPPDATA could not be read.
[[nodiscard]] Result<std::string> install_record_path(const GameConfig& config);

// True when the product's record is there.
[[nodiscard]] bool install_record_exists(const GameConfig& config);

// Writes the record (productName and a line feed) and flushes it to the disk. A link in the
// record's place is not followed.
[[nodiscard]] Result<void> write_install_record(const GameConfig& config);

// Removes the record; one that is not there is removed already.
[[nodiscard]] Result<void> remove_install_record(const GameConfig& config);

}  // namespace brevlo
