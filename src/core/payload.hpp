#pragma once
// What brevlo-pack puts into a stub to make a launcher, and how the launcher finds it: two
// read-only sections of its own image, each holding one build input byte for byte, with the
// section's virtual size as the input's exact length.

#include <cstdint>
#include <span>
#include <string_view>

namespace brevlo {

// The section that holds game.json.
inline constexpr std::string_view kConfigSection = ".brvcfg";
// The section that holds the installer image.
inline constexpr std::string_view kInstallerSection = ".brvimg";
// The section that marks an executable as a stub, and the 16 bytes it begins with.
inline constexpr std::string_view kStubMarkSection = ".brvlo";
inline constexpr char kStubMark[16] = "brevlo-stub/1";

// The installer image this launcher carries: start and exact length, empty in a bare stub.
std::span<const std::uint8_t> embedded_installer_image();

}  // namespace brevlo
