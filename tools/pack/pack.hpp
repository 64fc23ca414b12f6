#pragma once
// Packing a launcher: a brevlo stub, a game.json and an installer, with optional branding, made
// into one executable, all in memory. The output is described as pieces that are written one
// after the other; the installer is never copied.

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "pack/pe_format.hpp"
#include "pack/pe_layout.hpp"

namespace brevlo::pack {

// A version as given on the command line and its four numbers.
struct Version {
  std::string text;
  std::array<std::uint16_t, 4> parts{};
};

// What the publisher adds to the stub: its icon, version strings and splash image; nothing given
// keeps the stub's resources and adds no splash.
struct Branding {
  std::optional<Bytes> icon;  // the bytes of a .ico file
  std::optional<std::string> product_name;      // UTF-8
  std::optional<std::string> file_description;  // UTF-8
  std::optional<Version> version;
  std::optional<Bytes> splash;  // the bytes of a PNG file to show during installation (--splash)
};

// Why packing refused its inputs; reason completes a line that names the input.
struct Refusal {
  enum class Input {
    Config,     // reason is the launcher's own fatal-stop line for that document
    Installer,  // "... is not a Windows executable: " reason
    NotAStub,   // "... is not a brevlo stub: " reason
    Stub,       // "... cannot be packed: " reason
    Icon,       // "... is not a valid .ico: " reason
    Splash,     // "... is not a usable splash image: " reason
    Output,     // the packed launcher itself: reason alone
  };
  Input input;
  std::string reason;
  friend bool operator==(const Refusal&, const Refusal&) = default;
};

// A packed launcher: its layout and the pieces of its file in order. Pieces point into the inputs
// (which must outlive it) and into the object's own headers and resource section.
struct PackedLauncher {
  Layout layout;
  std::uint32_t checksum = 0;
  std::vector<Bytes> pieces;
  std::vector<std::uint8_t> headers;
  std::vector<std::uint8_t> resource_section;
  std::vector<std::uint8_t> options_section;  // a vector: pieces point into it across moves
  std::vector<std::uint8_t> splash_section;   // likewise

  PackedLauncher() = default;
  PackedLauncher(PackedLauncher&&) = default;
  PackedLauncher& operator=(PackedLauncher&&) = default;
  PackedLauncher(const PackedLauncher&) = delete;
  PackedLauncher& operator=(const PackedLauncher&) = delete;

  // The whole file in one buffer.
  std::vector<std::uint8_t> bytes() const;
};

// Checks every input (the document as the launcher reads it, the installer's MZ and PE
// signatures, the stub, the icon) and packs them: the stub's kept sections, .brvcfg with the
// document, .brvimg with the installer, .brvopt with the options and the installer's digest
// (options.image_digest is not used), .brvspl with the splash's pixels when branding has a
// splash (options.splash is set from that, not taken from options), .rsrc with the stub's resources as branded, the stub's
// .reloc; the certificate table and anything after the last section dropped. options.branded_name
// is not taken from options either: it is set when branding names a product, or the stub is a
// launcher packed with a product name.
[[nodiscard]] std::expected<PackedLauncher, Refusal> pack(Bytes stub, Bytes config,
                                                          Bytes installer,
                                                          const Branding& branding,
                                                          const PackOptions& options = {});

// The reason an installer image is not a Windows executable, or nothing when it has the MZ header
// and the PE signature.
std::optional<std::string> installer_fault(Bytes installer);

}  // namespace brevlo::pack
