#pragma once
// The version resource (VS_VERSIONINFO): read from a stub, changed, and written anew in the form
// the resource compiler gives it.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pack/pack_error.hpp"
#include "pack/pe_format.hpp"

namespace brevlo::pack {

// What a launcher's version resource holds: the fixed part and the four values of its
// "000004b0" string table.
struct VersionInfo {
  FixedFileInfo fixed{};
  std::u16string file_description;
  std::u16string product_name;
  std::u16string product_version;
  std::u16string file_version;
};

// Reads the fixed part and the four values; refuses a block that leaves its parent, a missing
// fixed part, string table or value.
[[nodiscard]] PackResult<VersionInfo> read_version_info(Bytes resource);

// VS_VERSIONINFO with the fixed part, a StringFileInfo whose "000004b0" table holds exactly
// FileDescription, ProductName, ProductVersion and FileVersion, and a VarFileInfo whose
// Translation is language 0, code page 0x04B0. Every block is 4-byte aligned; a block's length
// ends with its last child. Nothing when the whole exceeds the 65,535 bytes a length can hold.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> write_version_info(const VersionInfo& info);

// The parts of a version given as 1 to 4 decimal numbers of 0 to 65535 separated by dots; missing
// parts are 0. Nothing for any other text.
[[nodiscard]] std::optional<std::array<std::uint16_t, 4>> parse_version(std::string_view text);

}  // namespace brevlo::pack
