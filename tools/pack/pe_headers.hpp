#pragma once
// The headers of a PE file read where they lie, each offset and size checked: the DOS header and
// PE signature, the file header, the optional header (PE32 or PE32+) with its data directories,
// and the section table. The one reader of the stub, the installer check and the certificate
// tables.

#include <cstdint>
#include <expected>
#include <optional>
#include <vector>

#include "pack/pe_format.hpp"

namespace brevlo::pack {

// How far a file is from having PE headers, in the order they are read.
enum class PeFault {
  Short,          // smaller than a DOS header
  NoMz,           // no MZ magic
  NoPeHeader,     // e_lfanew points past the end of the file
  NoPeSignature,  // no "PE\0\0" at e_lfanew
  FileHeaderCut,  // the file header is cut short
};

struct PeHeaders {
  Bytes file;
  FileHeader file_header{};
  std::uint64_t optional_header_offset = 0;
  std::optional<std::uint16_t> magic;  // nothing when the file ends before it

  // The whole PE32+ optional header, or nothing when the image is not PE32+ or the header is cut
  // short.
  std::optional<OptionalHeader64> optional_header64() const;
  // Data directory index of a PE32 or PE32+ optional header, or nothing when the header lists
  // fewer or the entry lies outside the file.
  std::optional<DataDirectory> directory(std::size_t index) const;
  // Where the section table begins: after the optional header's stated size.
  std::uint64_t section_table_offset() const {
    return optional_header_offset + file_header.SizeOfOptionalHeader;
  }
  // The section table, or nothing when the file ends inside it.
  std::optional<std::vector<SectionHeader>> sections() const;
};

[[nodiscard]] std::expected<PeHeaders, PeFault> read_pe_headers(Bytes file);

}  // namespace brevlo::pack
