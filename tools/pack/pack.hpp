#pragma once
// Packing a launcher: a brevlo stub, a game.json and an installer, with optional branding, made
// into one executable. Laid out first, as pieces that point where the data lies, then written in
// one pass; the installer is never copied whole.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pack/pack_error.hpp"
#include "pack/pe_format.hpp"
#include "pack/pe_layout.hpp"
#include "pack/resources.hpp"

namespace brevlo::pack {

// A version as given on the command line and its four numbers.
struct Version {
  std::string text;
  std::array<std::uint16_t, 4> parts{};
};

// What changes the stub's icon and version strings; nothing given keeps the stub's resources.
struct Branding {
  std::optional<Bytes> icon;  // the bytes of a .ico file (which must outlive the packed launcher)
  std::optional<std::string> product_name;      // UTF-8
  std::optional<std::string> file_description;  // UTF-8
  std::optional<Version> version;
  std::optional<Bytes> splash;  // the bytes of a PNG file to show during installation (--splash)
};

// The largest installer a launcher carries: the installer format's own limit.
inline constexpr std::uint64_t kMaxInstallerSize = std::uint64_t{1} << 31;

// Where a packed launcher's bytes go, from the first to the last; the checksum is written last,
// over the zeros it was first written as.
class LauncherSink {
 public:
  [[nodiscard]] virtual PackResult<void> write(Bytes bytes) = 0;
  [[nodiscard]] virtual PackResult<void> write_at(std::uint64_t offset,
                                                                  Bytes bytes) = 0;

 protected:
  ~LauncherSink() = default;
};

// One stretch of a packed launcher's file.
struct Piece {
  enum class Role {
    Data,       // bytes, where they lie
    Installer,  // the installer's bytes, hashed for .brvopt as they go out
    Options,    // .brvopt, made once the installer has gone out
  };
  Role role = Role::Data;
  Bytes bytes;
};

// A packed launcher, laid out: its layout, headers (with a zero checksum) and the pieces of its
// file in order. Pieces point into the inputs (which must outlive it) and into the object's own
// headers and resource section.
struct PackedLauncher {
  Layout layout;
  std::vector<std::uint8_t> headers;
  std::uint64_t checksum_offset = 0;
  ResourceSet resources;             // the stub's, branded; their data may be the branding's own
  ResourceSection resource_section;  // laid out at the .rsrc section's address
  PackOptions options;  // image_digest is the installer's, computed as it is written
  std::vector<std::uint8_t> splash_section;  // .brvspl, decoded from branding's splash
  std::vector<Piece> pieces;

  PackedLauncher() = default;
  PackedLauncher(PackedLauncher&&) = default;
  PackedLauncher& operator=(PackedLauncher&&) = default;
  PackedLauncher(const PackedLauncher&) = delete;
  PackedLauncher& operator=(const PackedLauncher&) = delete;

  // Writes the file to sink in one pass, window by window, computing the installer's digest and
  // the checksum on the way, then the checksum; the sink's reason when it fails.
  [[nodiscard]] PackResult<void> write(LauncherSink& sink) const;

  // The whole file in one buffer.
  std::vector<std::uint8_t> bytes() const;
};

// Checks every input (the document as the launcher reads it, the installer's size, MZ and PE
// signatures, the stub, the icon) and lays out the launcher: the stub's kept sections, .brvcfg
// with the document, .brvimg with the installer, .brvopt with the options and the installer's
// XXH3-128 (options.image_digest is not used), .brvspl with the splash's pixels when branding has
// a splash, .rsrc with the stub's resources as branded, the stub's .reloc; the certificate table
// and anything after the last section dropped. A refusal is a PackError whose kind names the
// refused input (Config ... Output). options.branded_name and options.splash are not
// taken from options: the first is set when branding names a product, or the stub is a launcher
// packed with a product name, the second when branding has a splash.
[[nodiscard]] PackResult<PackedLauncher> pack(Bytes stub, Bytes config,
                                                          Bytes installer,
                                                          const Branding& branding,
                                                          const PackOptions& options = {});

// The reason an installer image is not a Windows executable, or nothing when it has the MZ header
// and the PE signature.
std::optional<std::string> installer_fault(Bytes installer);

}  // namespace brevlo::pack
