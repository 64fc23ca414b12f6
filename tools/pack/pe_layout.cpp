#include "pack/pe_layout.hpp"

#include <algorithm>
#include <limits>

#include "pack/pe_headers.hpp"

namespace brevlo::pack {
namespace {

std::unexpected<PackError> not_a_stub(std::string reason) {
  return pack_error(PackErrorKind::NotAStub, std::move(reason));
}

std::unexpected<PackError> cannot_lay_out(std::string reason) {
  return pack_error(PackErrorKind::Stub, std::move(reason));
}

std::unexpected<PackError> too_large() {
  return pack_error(PackErrorKind::Output, "the packed launcher would be larger than 4 GiB");
}

bool is_tail_name(std::string_view name) {
  return name == kConfigSectionName || name == kImageSectionName ||
         name == kOptionsSectionName || name == kSplashSectionName ||
         name == kResourceSectionName || name == kRelocSectionName;
}

bool is_power_of_two(std::uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

// How many bytes a section spans in memory: its VirtualSize, or its file data when that is 0.
std::uint64_t virtual_extent(const SectionHeader& section) {
  return section.VirtualSize != 0 ? section.VirtualSize : section.SizeOfRawData;
}

bool inside(const SectionHeader& section, const DataDirectory& dir) {
  return dir.VirtualAddress >= section.VirtualAddress &&
         fits(dir.VirtualAddress - section.VirtualAddress, dir.Size, virtual_extent(section));
}

// Base relocation blocks may only fix up pages of the sections that stay in place.
PackResult<void> check_relocations(const Stub& stub, const DataDirectory& dir) {
  const auto blocks = stub.at_rva(dir.VirtualAddress, dir.Size);
  if (!blocks) return cannot_lay_out("its base relocations lie outside the file");
  std::uint64_t offset = 0;
  while (offset < blocks->size()) {
    const auto block = read_at<BaseRelocationBlock>(*blocks, offset);
    if (!block || block->SizeOfBlock < sizeof(BaseRelocationBlock) ||
        !fits(offset, block->SizeOfBlock, blocks->size())) {
      return cannot_lay_out("its base relocation block at offset " + hex(offset) +
                            " is malformed");
    }
    if (block->VirtualAddress >= stub.kept_virtual_end) {
      return cannot_lay_out("its base relocations fix up RVA " + hex(block->VirtualAddress) +
                            ", which packing moves");
    }
    offset += block->SizeOfBlock;
  }
  return {};
}

}  // namespace

std::optional<Bytes> Stub::at_rva(std::uint32_t rva, std::uint32_t size) const {
  for (const SectionHeader& section : sections) {
    if (rva < section.VirtualAddress) continue;
    const std::uint64_t within = rva - section.VirtualAddress;
    const std::uint64_t mapped = std::min<std::uint64_t>(virtual_extent(section),
                                                         section.SizeOfRawData);
    if (fits(within, size, mapped) &&
        fits(std::uint64_t{section.PointerToRawData} + within, size, bytes.size())) {
      return bytes.subspan(section.PointerToRawData + within, size);
    }
  }
  return std::nullopt;
}

namespace {

// The headers and the section table, read with the PE reader.
PackResult<void> read_headers(Stub& stub) {
  const auto headers = read_pe_headers(stub.bytes);
  if (!headers) {
    switch (headers.error()) {
      case PeFault::Short:
      case PeFault::NoMz: return not_a_stub("no MZ header");
      case PeFault::NoPeHeader:
      case PeFault::NoPeSignature: return not_a_stub("no PE signature");
      case PeFault::FileHeaderCut: break;
    }
    return not_a_stub("its file header is cut short");
  }
  stub.file_header = headers->file_header;
  if (stub.file_header.Machine != kMachineAmd64) {
    return not_a_stub("machine " + hex(stub.file_header.Machine, 4) + ", not x64 (0x8664)");
  }
  if (!headers->magic) return not_a_stub("its optional header is cut short");
  if (*headers->magic != kPe32PlusMagic) {
    return not_a_stub("not a PE32+ image (optional header magic " + hex(*headers->magic, 4) + ")");
  }
  const auto optional_header = headers->optional_header64();
  if (!optional_header) return not_a_stub("its optional header is cut short");
  stub.optional_header = *optional_header;
  stub.optional_header_offset = static_cast<std::uint32_t>(headers->optional_header_offset);
  stub.section_table_offset = static_cast<std::uint32_t>(headers->section_table_offset());
  auto sections = headers->sections();
  if (!sections) return not_a_stub("its section table is cut short");
  stub.sections = std::move(*sections);
  return {};
}

// How it is recognised: the .brvlo section and the text it begins with.
PackResult<void> check_marker(Stub& stub) {
  const auto marker = std::find_if(stub.sections.begin(), stub.sections.end(),
                                   [](const SectionHeader& s) {
                                     return section_name(s) == kStubMarkSection;
                                   });
  if (marker == stub.sections.end()) return not_a_stub("it has no .brvlo section");
  if (marker->SizeOfRawData < kStubMagic.size() ||
      !fits(marker->PointerToRawData, kStubMagic.size(), stub.bytes.size()) ||
      !std::equal(kStubMagic.begin(), kStubMagic.end(),
                  stub.bytes.begin() + marker->PointerToRawData)) {
    return not_a_stub("its .brvlo section does not begin with \"brevlo-stub/1\"");
  }
  return {};
}

// The optional header's form: 16 directories, alignments packing can keep, headers inside the
// file and after the section table.
PackResult<void> check_optional_header(Stub& stub) {
  const OptionalHeader64& oh = stub.optional_header;
  if (stub.file_header.SizeOfOptionalHeader != sizeof(OptionalHeader64) ||
      oh.NumberOfRvaAndSizes != 16) {
    return cannot_lay_out("its optional header does not have the 16 data directories of PE32+");
  }
  if (!is_power_of_two(oh.FileAlignment) || oh.FileAlignment < 512 ||
      oh.FileAlignment > 65536 || !is_power_of_two(oh.SectionAlignment) ||
      oh.SectionAlignment < oh.FileAlignment) {
    return cannot_lay_out("its file alignment " + hex(oh.FileAlignment) +
                          " and section alignment " + hex(oh.SectionAlignment) +
                          " are not powers of two from 512, section alignment the larger");
  }
  if (oh.SizeOfHeaders > stub.bytes.size() ||
      stub.section_table_offset + stub.sections.size() * sizeof(SectionHeader) >
          oh.SizeOfHeaders) {
    return cannot_lay_out("its headers end (SizeOfHeaders " + hex(oh.SizeOfHeaders) +
                          ") inside its section table or beyond the file");
  }
  return {};
}

// Data in the file after the headers (a section without data points nowhere past the file's
// end); sections in ascending, non-overlapping memory order. Sets where the kept sections end.
PackResult<void> check_sections(Stub& stub) {
  const OptionalHeader64& oh = stub.optional_header;
  std::uint64_t next_rva = oh.SizeOfHeaders;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < stub.sections.size(); ++i) {
    const SectionHeader& section = stub.sections[i];
    const std::string name(section_name(section));
    if (section.SizeOfRawData == 0 && section.PointerToRawData > stub.bytes.size()) {
      return cannot_lay_out("section " + name + " points at file offset " +
                            hex(section.PointerToRawData) + ", beyond the end of the file");
    }
    if (!fits(section.PointerToRawData, section.SizeOfRawData, stub.bytes.size())) {
      return cannot_lay_out("section " + name + " has data (" + hex(section.SizeOfRawData) +
                            " bytes at " + hex(section.PointerToRawData) +
                            ") beyond the end of the file");
    }
    if (section.SizeOfRawData != 0 && section.PointerToRawData < oh.SizeOfHeaders) {
      return cannot_lay_out("section " + name + " has data inside the headers");
    }
    if (section.VirtualAddress < next_rva || section.VirtualAddress % oh.SectionAlignment != 0) {
      return cannot_lay_out("section " + name + " is out of order in memory");
    }
    next_rva = align_up(section.VirtualAddress + virtual_extent(section), oh.SectionAlignment);
    if (!is_tail_name(section_name(section))) kept = i + 1;
  }
  stub.kept = kept;
  stub.kept_file_end = oh.SizeOfHeaders;
  std::uint64_t kept_virtual_end = 0;
  for (std::size_t i = 0; i < kept; ++i) {
    const SectionHeader& section = stub.sections[i];
    if (section.SizeOfRawData != 0) {
      stub.kept_file_end = std::max<std::uint64_t>(
          stub.kept_file_end, std::uint64_t{section.PointerToRawData} + section.SizeOfRawData);
    }
    kept_virtual_end = align_up(section.VirtualAddress + virtual_extent(section),
                                oh.SectionAlignment);
  }
  stub.kept_virtual_end = static_cast<std::uint32_t>(kept_virtual_end);
  return {};
}

// The movable tail: only its names, each once, and nothing of theirs before a kept section.
PackResult<void> check_tail(Stub& stub) {
  const std::size_t kept = stub.kept;
  for (std::size_t i = 0; i < stub.sections.size(); ++i) {
    const std::string_view name = section_name(stub.sections[i]);
    if (i < kept && is_tail_name(name)) {
      return cannot_lay_out("section " + std::string(name) + " comes before section " +
                            std::string(section_name(stub.sections[kept - 1])) +
                            "; .brvcfg, .brvimg, .brvopt, .rsrc and .reloc must end the section table");
    }
    for (std::size_t j = kept; j < i; ++j) {
      if (section_name(stub.sections[j]) == name) {
        return cannot_lay_out("section " + std::string(name) + " appears twice");
      }
    }
    if (i >= kept && name == kRelocSectionName) stub.reloc = i;
  }
  return {};
}

// Data directories: those that stay must point into sections that stay.
PackResult<void> check_directories(Stub& stub) {
  for (std::size_t index = 0; index < 16; ++index) {
    const DataDirectory& dir = stub.optional_header.DataDirectory[index];
    if (dir.Size == 0 || index == kDirResource || index == kDirSecurity) continue;
    const auto first_tail = stub.sections.begin() + static_cast<std::ptrdiff_t>(stub.kept);
    const bool in_kept = std::any_of(stub.sections.begin(), first_tail,
                                     [&](const SectionHeader& s) { return inside(s, dir); });
    if (index == kDirBaseReloc) {
      if (!in_kept && !(stub.reloc && inside(stub.sections[*stub.reloc], dir))) {
        return cannot_lay_out("its base relocations are neither in .reloc nor in a section that "
                              "stays in place");
      }
      if (auto checked = check_relocations(stub, dir); !checked) return checked;
    } else if (!in_kept) {
      return cannot_lay_out("data directory " + std::to_string(index) + " (RVA " +
                            hex(dir.VirtualAddress) + ", " + hex(dir.Size) +
                            " bytes) is not inside a section that stays in place");
    }
  }
  return {};
}

}  // namespace

PackResult<Stub> read_stub(Bytes bytes) {
  Stub stub;
  stub.bytes = bytes;
  using Step = PackResult<void> (*)(Stub&);
  for (const Step step : {read_headers, check_marker, check_optional_header, check_sections,
                          check_tail, check_directories}) {
    if (auto done = step(stub); !done) return std::unexpected(done.error());
  }
  return stub;
}

PackResult<Layout> lay_out(const Stub& stub, std::span<const TailSection> tail) {
  const OptionalHeader64& oh = stub.optional_header;
  const std::size_t count = stub.kept + tail.size();
  const std::uint64_t room = (oh.SizeOfHeaders - stub.section_table_offset) / sizeof(SectionHeader);
  if (count > room) {
    return cannot_lay_out("its headers have room for " + std::to_string(room) +
                          " section headers, not the " + std::to_string(count) +
                          " of the packed launcher");
  }

  Layout layout;
  layout.sections.assign(stub.sections.begin(),
                         stub.sections.begin() + static_cast<std::ptrdiff_t>(stub.kept));
  std::copy(std::begin(oh.DataDirectory), std::end(oh.DataDirectory),
            layout.directories.begin());
  layout.directories[kDirSecurity] = {};
  layout.directories[kDirResource] = {};

  std::uint64_t rva = stub.kept_virtual_end;
  std::uint64_t file = align_up(stub.kept_file_end, oh.FileAlignment);
  constexpr std::uint64_t kLimit = std::numeric_limits<std::uint32_t>::max();
  for (const TailSection& section : tail) {
    SectionHeader header{};
    std::copy_n(section.name.begin(), std::min<std::size_t>(section.name.size(), 8), header.Name);
    const std::uint64_t raw = align_up(section.size, oh.FileAlignment);
    if (rva + section.size > kLimit || file + raw > kLimit) {
      return too_large();
    }
    header.VirtualSize = static_cast<std::uint32_t>(section.size);
    header.VirtualAddress = static_cast<std::uint32_t>(rva);
    header.SizeOfRawData = static_cast<std::uint32_t>(raw);
    header.PointerToRawData = static_cast<std::uint32_t>(file);
    header.Characteristics = section.characteristics;
    if (section.name == kResourceSectionName) {
      layout.directories[kDirResource] = {header.VirtualAddress, header.VirtualSize};
    }
    if (section.name == kRelocSectionName && stub.reloc) {
      const SectionHeader& old = stub.sections[*stub.reloc];
      DataDirectory& dir = layout.directories[kDirBaseReloc];
      if (dir.Size != 0 && inside(old, dir)) {
        dir.VirtualAddress = header.VirtualAddress + (dir.VirtualAddress - old.VirtualAddress);
      }
    }
    layout.sections.push_back(header);
    rva = align_up(rva + section.size, oh.SectionAlignment);
    file += raw;
  }
  if (rva > kLimit) {
    return too_large();
  }
  layout.size_of_image = static_cast<std::uint32_t>(rva);
  layout.file_size = file;
  std::uint64_t initialized = 0;
  for (const SectionHeader& section : layout.sections) {
    if (section.Characteristics & kScnCntInitializedData) initialized += section.SizeOfRawData;
  }
  layout.size_of_initialized_data = static_cast<std::uint32_t>(std::min(initialized, kLimit));
  return layout;
}

std::vector<std::uint8_t> write_headers(const Stub& stub, const Layout& layout,
                                        std::uint32_t checksum) {
  std::vector<std::uint8_t> out(stub.optional_header.SizeOfHeaders, 0);
  std::copy_n(stub.bytes.begin(), stub.section_table_offset, out.begin());
  FileHeader file_header = stub.file_header;
  file_header.NumberOfSections = static_cast<std::uint16_t>(layout.sections.size());
  write_at(out, stub.optional_header_offset - sizeof(FileHeader), file_header);
  OptionalHeader64 optional_header = stub.optional_header;
  optional_header.SizeOfInitializedData = layout.size_of_initialized_data;
  optional_header.SizeOfImage = layout.size_of_image;
  optional_header.CheckSum = checksum;
  std::copy(layout.directories.begin(), layout.directories.end(), optional_header.DataDirectory);
  write_at(out, stub.optional_header_offset, optional_header);
  for (std::size_t i = 0; i < layout.sections.size(); ++i) {
    write_at(out, stub.section_table_offset + i * sizeof(SectionHeader), layout.sections[i]);
  }
  return out;
}

// Summing 32-bit words and folding at the end gives the same one's-complement sum as adding
// 16-bit words one at a time with end-around carry: 65536 is 1 modulo 0xFFFF.
void PeChecksum::update(Bytes bytes) {
  length_ += bytes.size();
  std::size_t i = 0;
  for (; partial_bytes_ != 0 && i < bytes.size(); ++i) add_byte(bytes[i]);
  // Four words at a time into four sums, so that the additions do not wait on each other.
  std::uint64_t sums[4] = {};
  for (; i + 16 <= bytes.size(); i += 16) {
    std::uint64_t low, high;
    std::memcpy(&low, bytes.data() + i, 8);
    std::memcpy(&high, bytes.data() + i + 8, 8);
    sums[0] += low & 0xFFFFFFFF;
    sums[1] += low >> 32;
    sums[2] += high & 0xFFFFFFFF;
    sums[3] += high >> 32;
  }
  sum_ += sums[0] + sums[1] + sums[2] + sums[3];
  for (; i < bytes.size(); ++i) add_byte(bytes[i]);
}

void PeChecksum::add_byte(std::uint8_t byte) {
  partial_ |= std::uint32_t{byte} << (8 * partial_bytes_);
  if (++partial_bytes_ == 4) {
    sum_ += partial_;
    partial_ = 0;
    partial_bytes_ = 0;
  }
}

std::uint32_t PeChecksum::finish() const {
  std::uint64_t sum = sum_ + partial_;  // the last word, padded with zeros
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint32_t>(sum + length_);
}

std::uint32_t pe_checksum(std::span<const Bytes> pieces) {
  PeChecksum checksum;
  for (const Bytes piece : pieces) checksum.update(piece);
  return checksum.finish();
}

}  // namespace brevlo::pack
