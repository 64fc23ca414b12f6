#pragma once
// A brevlo stub as brevlo-pack reads it, and the layout of a packed launcher: the stub's sections
// up to its movable tail stay where they are, then come .brvcfg, .brvimg, .brvopt, .brvspl (with a
// splash only), .rsrc and .reloc.
// Layout is computed first as plain values; the headers are then written from it in one go.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/payload.hpp"
#include "core/splash_image.hpp"
#include "pack/pack_error.hpp"
#include "pack/pe_format.hpp"

namespace brevlo::pack {

// What marks a brevlo stub: its .brvlo section begins with these 16 bytes.
inline constexpr std::string_view kStubMagic{kStubMark, sizeof kStubMark};

// Names of the sections a packed launcher ends with, which packing removes and writes anew.
inline constexpr std::string_view kConfigSectionName = kConfigSection;
inline constexpr std::string_view kImageSectionName = kInstallerSection;
inline constexpr std::string_view kOptionsSectionName = kOptionsSection;
inline constexpr std::string_view kSplashSectionName = kSplashSection;
inline constexpr std::string_view kResourceSectionName = ".rsrc";
inline constexpr std::string_view kRelocSectionName = ".reloc";

// A stub whose headers and section table have been checked: every section's data lies inside the
// file, sections follow each other in memory, the tail holds only movable sections and no data
// directory other than the resource and relocation ones points into it.
struct Stub {
  Bytes bytes;
  std::uint32_t optional_header_offset = 0;
  std::uint32_t section_table_offset = 0;
  FileHeader file_header{};
  OptionalHeader64 optional_header{};
  std::vector<SectionHeader> sections;
  std::size_t kept = 0;                  // sections before the movable tail
  std::optional<std::size_t> reloc;      // index of the tail's .reloc section
  std::uint32_t kept_virtual_end = 0;    // first RVA after the kept sections, aligned
  std::uint64_t kept_file_end = 0;       // first file offset after the headers and kept data

  // The bytes of [rva, rva + size) when they lie inside one section's file data.
  std::optional<Bytes> at_rva(std::uint32_t rva, std::uint32_t size) const;
};

// Checks a stub; the refusal says how it is not a brevlo stub or why it cannot be laid out.
[[nodiscard]] PackResult<Stub> read_stub(Bytes bytes);

// A section packing adds after the kept ones: its header values and exact content length.
struct TailSection {
  std::string_view name;
  std::uint32_t characteristics = 0;
  std::uint64_t size = 0;
};

// The packed launcher's form as plain values: the section table (the stub's kept sections
// unchanged, then the tail at consecutive aligned addresses), the data directories, the header
// fields that follow from them, and where in the file each tail section's data goes.
struct Layout {
  std::vector<SectionHeader> sections;
  std::array<DataDirectory, 16> directories{};
  std::uint32_t size_of_image = 0;
  std::uint32_t size_of_initialized_data = 0;
  std::uint64_t file_size = 0;
};

// Lays out the stub's kept sections followed by tail (in order; each of at least one byte). The
// resource directory is the whole tail section named .rsrc (none without one), the relocation
// directory moves with the stub's .reloc, the certificate table is dropped. Refuses a stub whose
// headers have no room for the new section table, and a launcher beyond the 32-bit limits.
[[nodiscard]] PackResult<Layout> lay_out(const Stub& stub,
                                                         std::span<const TailSection> tail);

// The first SizeOfHeaders bytes of the packed launcher: the stub's headers byte for byte except
// the fields the layout sets and checksum, the new section table, zeros after it.
std::vector<std::uint8_t> write_headers(const Stub& stub, const Layout& layout,
                                        std::uint32_t checksum);

// The PE checksum of a file given piece by piece, its CheckSum field holding zero: the 16-bit
// one's-complement sum of the file's little-endian words plus the file's length.
class PeChecksum {
 public:
  void update(Bytes bytes);
  std::uint32_t finish() const;

 private:
  void add_byte(std::uint8_t byte);
  std::uint64_t sum_ = 0;
  std::uint64_t length_ = 0;
  std::uint32_t partial_ = 0;  // a word split between pieces, its bytes so far
  unsigned partial_bytes_ = 0;
};

// The same over pieces given at once.
std::uint32_t pe_checksum(std::span<const Bytes> pieces);

}  // namespace brevlo::pack
