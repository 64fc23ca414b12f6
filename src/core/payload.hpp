#pragma once
// What brevlo-pack puts into a stub to make a launcher, and how the launcher finds it: read-only
// sections of its own image, two holding one build input byte for byte (the section's virtual size
// is the input's exact length), one the pack options.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "core/image_digest.hpp"

namespace brevlo {

// The section that holds game.json.
inline constexpr std::string_view kConfigSection = ".brvcfg";
// The section that holds the installer image.
inline constexpr std::string_view kInstallerSection = ".brvimg";
// The section that marks an executable as a stub, and the 16 bytes it begins with; the stub's
// version follows them as text ending in a NUL (an older stub has none).
inline constexpr std::string_view kStubMarkSection = ".brvlo";
inline constexpr char kStubMark[16] = "brevlo-stub/1";

// The section that holds the pack options and the installer image's digest, kOptionsSize bytes:
//   0   16 bytes  kOptionsMark
//   16  4 bytes   flags, little-endian: kFailureDialogFlag, kSupportLogFlag, kBrandedNameFlag,
//                 kSplashFlag; other bits are 0
//   20  4 bytes   0
//   24  16 bytes  the installer image's ImageDigest (XXH3-128, canonical) as .brvimg holds it
inline constexpr std::string_view kOptionsSection = ".brvopt";
inline constexpr char kOptionsMark[16] = "brevlo-opts/2";
inline constexpr std::size_t kOptionsSize = 40;
inline constexpr std::uint32_t kFailureDialogFlag = 1;
inline constexpr std::uint32_t kSupportLogFlag = 2;
// The version resource's ProductName was set at pack time (--product-name).
inline constexpr std::uint32_t kBrandedNameFlag = 4;
// A splash image is shown during a silent installation (--splash; the image is in .brvspl).
inline constexpr std::uint32_t kSplashFlag = 8;

// What a publisher chose at pack time, and the digest the installer image must have.
struct PackOptions {
  bool failure_dialog = false;  // show a failure in a message box when standard error has no handle
  bool support_log = false;     // append each run to <temp>\<productName>-launcher.log
  bool branded_name = false;    // the version resource holds the publisher's product name
  bool splash = false;          // show the splash image while the installer runs silently
  ImageDigest image_digest{};
  friend bool operator==(const PackOptions&, const PackOptions&) = default;
};

// The options section's bytes for options.
std::array<std::uint8_t, kOptionsSize> encode_pack_options(const PackOptions& options);

// The options a section holds, or nothing when it is not exactly an options section: the wrong
// size, another mark, unknown flag bits or a non-zero reserved word.
std::optional<PackOptions> decode_pack_options(std::span<const std::uint8_t> section);

// The installer image this launcher carries: start and exact length, empty in a bare stub.
std::span<const std::uint8_t> embedded_installer_image();

// The options this launcher was packed with; nothing in a bare stub or when the section is damaged.
std::optional<PackOptions> embedded_pack_options();

}  // namespace brevlo
