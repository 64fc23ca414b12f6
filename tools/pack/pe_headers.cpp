#include "pack/pe_headers.hpp"

namespace brevlo::pack {
namespace {

// Where each optional header keeps NumberOfRvaAndSizes, followed by the directories.
constexpr std::uint64_t kPe32DirectoryCountAt = 92;
constexpr std::uint64_t kPe32PlusDirectoryCountAt = offsetof(OptionalHeader64, NumberOfRvaAndSizes);

}  // namespace

std::expected<PeHeaders, PeFault> read_pe_headers(Bytes file) {
  const auto dos = read_at<DosHeader>(file, 0);
  if (!dos) return std::unexpected(PeFault::Short);
  if (dos->e_magic != kDosMagic) return std::unexpected(PeFault::NoMz);
  const auto signature = read_at<std::uint32_t>(file, dos->e_lfanew);
  if (!signature) return std::unexpected(PeFault::NoPeHeader);
  if (*signature != kPeSignature) return std::unexpected(PeFault::NoPeSignature);
  const std::uint64_t file_header_at = std::uint64_t{dos->e_lfanew} + 4;
  const auto file_header = read_at<FileHeader>(file, file_header_at);
  if (!file_header) return std::unexpected(PeFault::FileHeaderCut);
  PeHeaders headers;
  headers.file = file;
  headers.file_header = *file_header;
  headers.optional_header_offset = file_header_at + sizeof(FileHeader);
  headers.magic = read_at<std::uint16_t>(file, headers.optional_header_offset);
  return headers;
}

std::optional<OptionalHeader64> PeHeaders::optional_header64() const {
  if (magic != kPe32PlusMagic) return std::nullopt;
  return read_at<OptionalHeader64>(file, optional_header_offset);
}

std::optional<DataDirectory> PeHeaders::directory(std::size_t index) const {
  std::uint64_t count_at = 0;
  if (magic == kPe32Magic) {
    count_at = kPe32DirectoryCountAt;
  } else if (magic == kPe32PlusMagic) {
    count_at = kPe32PlusDirectoryCountAt;
  } else {
    return std::nullopt;
  }
  const auto count = read_at<std::uint32_t>(file, optional_header_offset + count_at);
  if (!count || *count <= index) return std::nullopt;
  return read_at<DataDirectory>(file, optional_header_offset + count_at + 4 +
                                          index * sizeof(DataDirectory));
}

std::optional<std::vector<SectionHeader>> PeHeaders::sections() const {
  const std::uint64_t count = file_header.NumberOfSections;
  if (!fits(section_table_offset(), count * sizeof(SectionHeader), file.size())) {
    return std::nullopt;
  }
  std::vector<SectionHeader> table(count);
  for (std::uint64_t i = 0; i < count; ++i) {
    table[i] = *read_at<SectionHeader>(file, section_table_offset() + i * sizeof(SectionHeader));
  }
  return table;
}

}  // namespace brevlo::pack
