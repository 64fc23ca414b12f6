#pragma once
// The PE/COFF structures brevlo-pack reads and writes, laid out as mingw-w64's winnt.h declares
// them (pe_format_check_win.cpp compares them with winnt.h in the Windows build), and
// bounds-checked copies between them and a byte buffer. Both builds run on little-endian x86-64,
// so a structure's bytes are the file's bytes.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "platform/hex_digit.hpp"

namespace brevlo::pack {

static_assert(std::endian::native == std::endian::little, "PE fields are copied as they are");

using Bytes = std::span<const std::uint8_t>;

// How many bytes a pass over a large input takes at a time: its pages are read, used and released
// window by window, so that resident memory stays bounded whatever the input's size.
inline constexpr std::size_t kWindow = std::size_t{1} << 20;

// Told of each window a pass is done with (the pages of a mapped file can then be dropped); empty
// when nobody needs to know.
using WindowDone = std::function<void(Bytes)>;

#pragma pack(push, 1)

// IMAGE_DOS_HEADER, of which only the magic and e_lfanew matter here.
struct DosHeader {
  std::uint16_t e_magic;
  std::uint8_t unused[58];
  std::uint32_t e_lfanew;
};

// IMAGE_FILE_HEADER.
struct FileHeader {
  std::uint16_t Machine;
  std::uint16_t NumberOfSections;
  std::uint32_t TimeDateStamp;
  std::uint32_t PointerToSymbolTable;
  std::uint32_t NumberOfSymbols;
  std::uint16_t SizeOfOptionalHeader;
  std::uint16_t Characteristics;
};

// IMAGE_DATA_DIRECTORY.
struct DataDirectory {
  std::uint32_t VirtualAddress;
  std::uint32_t Size;
  friend bool operator==(const DataDirectory&, const DataDirectory&) = default;
};

// IMAGE_OPTIONAL_HEADER64 (PE32+).
struct OptionalHeader64 {
  std::uint16_t Magic;
  std::uint8_t MajorLinkerVersion;
  std::uint8_t MinorLinkerVersion;
  std::uint32_t SizeOfCode;
  std::uint32_t SizeOfInitializedData;
  std::uint32_t SizeOfUninitializedData;
  std::uint32_t AddressOfEntryPoint;
  std::uint32_t BaseOfCode;
  std::uint64_t ImageBase;
  std::uint32_t SectionAlignment;
  std::uint32_t FileAlignment;
  std::uint16_t MajorOperatingSystemVersion;
  std::uint16_t MinorOperatingSystemVersion;
  std::uint16_t MajorImageVersion;
  std::uint16_t MinorImageVersion;
  std::uint16_t MajorSubsystemVersion;
  std::uint16_t MinorSubsystemVersion;
  std::uint32_t Win32VersionValue;
  std::uint32_t SizeOfImage;
  std::uint32_t SizeOfHeaders;
  std::uint32_t CheckSum;
  std::uint16_t Subsystem;
  std::uint16_t DllCharacteristics;
  std::uint64_t SizeOfStackReserve;
  std::uint64_t SizeOfStackCommit;
  std::uint64_t SizeOfHeapReserve;
  std::uint64_t SizeOfHeapCommit;
  std::uint32_t LoaderFlags;
  std::uint32_t NumberOfRvaAndSizes;
  pack::DataDirectory DataDirectory[16];
};

// IMAGE_SECTION_HEADER (Misc is the VirtualSize of an image).
struct SectionHeader {
  std::uint8_t Name[8];
  std::uint32_t VirtualSize;
  std::uint32_t VirtualAddress;
  std::uint32_t SizeOfRawData;
  std::uint32_t PointerToRawData;
  std::uint32_t PointerToRelocations;
  std::uint32_t PointerToLinenumbers;
  std::uint16_t NumberOfRelocations;
  std::uint16_t NumberOfLinenumbers;
  std::uint32_t Characteristics;
};

// IMAGE_BASE_RELOCATION, the head of one block of base relocations.
struct BaseRelocationBlock {
  std::uint32_t VirtualAddress;
  std::uint32_t SizeOfBlock;
};

// IMAGE_RESOURCE_DIRECTORY.
struct ResourceDirectory {
  std::uint32_t Characteristics;
  std::uint32_t TimeDateStamp;
  std::uint16_t MajorVersion;
  std::uint16_t MinorVersion;
  std::uint16_t NumberOfNamedEntries;
  std::uint16_t NumberOfIdEntries;
};

// IMAGE_RESOURCE_DIRECTORY_ENTRY: the high bit of Name marks a name string, that of OffsetToData
// a subdirectory; both offsets count from the start of the resource directory.
struct ResourceDirectoryEntry {
  std::uint32_t Name;
  std::uint32_t OffsetToData;
};

// IMAGE_RESOURCE_DATA_ENTRY: OffsetToData is an RVA.
struct ResourceDataEntry {
  std::uint32_t OffsetToData;
  std::uint32_t Size;
  std::uint32_t CodePage;
  std::uint32_t Reserved;
};

// VS_FIXEDFILEINFO.
struct FixedFileInfo {
  std::uint32_t dwSignature;
  std::uint32_t dwStrucVersion;
  std::uint32_t dwFileVersionMS;
  std::uint32_t dwFileVersionLS;
  std::uint32_t dwProductVersionMS;
  std::uint32_t dwProductVersionLS;
  std::uint32_t dwFileFlagsMask;
  std::uint32_t dwFileFlags;
  std::uint32_t dwFileOS;
  std::uint32_t dwFileType;
  std::uint32_t dwFileSubtype;
  std::uint32_t dwFileDateMS;
  std::uint32_t dwFileDateLS;
};

// ICONDIR and ICONDIRENTRY of a .ico file.
struct IconDir {
  std::uint16_t idReserved;
  std::uint16_t idType;
  std::uint16_t idCount;
};
struct IconDirEntry {
  std::uint8_t bWidth;
  std::uint8_t bHeight;
  std::uint8_t bColorCount;
  std::uint8_t bReserved;
  std::uint16_t wPlanes;
  std::uint16_t wBitCount;
  std::uint32_t dwBytesInRes;
  std::uint32_t dwImageOffset;
};

// GRPICONDIRENTRY of an RT_GROUP_ICON resource (the header is an IconDir).
struct GroupIconDirEntry {
  std::uint8_t bWidth;
  std::uint8_t bHeight;
  std::uint8_t bColorCount;
  std::uint8_t bReserved;
  std::uint16_t wPlanes;
  std::uint16_t wBitCount;
  std::uint32_t dwBytesInRes;
  std::uint16_t nId;
};

#pragma pack(pop)

// Sizes and offsets as the PE format fixes them.
static_assert(sizeof(DosHeader) == 64 && offsetof(DosHeader, e_lfanew) == 60);
static_assert(sizeof(FileHeader) == 20);
static_assert(sizeof(DataDirectory) == 8);
static_assert(sizeof(OptionalHeader64) == 240);
static_assert(offsetof(OptionalHeader64, SizeOfInitializedData) == 8);
static_assert(offsetof(OptionalHeader64, SectionAlignment) == 32);
static_assert(offsetof(OptionalHeader64, SizeOfImage) == 56);
static_assert(offsetof(OptionalHeader64, CheckSum) == 64);
static_assert(offsetof(OptionalHeader64, NumberOfRvaAndSizes) == 108);
static_assert(offsetof(OptionalHeader64, DataDirectory) == 112);
static_assert(sizeof(SectionHeader) == 40 && offsetof(SectionHeader, Characteristics) == 36);
static_assert(sizeof(BaseRelocationBlock) == 8);
static_assert(sizeof(ResourceDirectory) == 16 && sizeof(ResourceDirectoryEntry) == 8);
static_assert(sizeof(ResourceDataEntry) == 16);
static_assert(sizeof(FixedFileInfo) == 52);
static_assert(sizeof(IconDir) == 6 && sizeof(IconDirEntry) == 16 && sizeof(GroupIconDirEntry) == 14);

inline constexpr std::uint16_t kDosMagic = 0x5A4D;          // "MZ"
inline constexpr std::uint32_t kPeSignature = 0x00004550;   // "PE\0\0"
inline constexpr std::uint16_t kMachineAmd64 = 0x8664;
inline constexpr std::uint16_t kPe32Magic = 0x10B;
inline constexpr std::uint16_t kPe32PlusMagic = 0x20B;
inline constexpr std::uint32_t kScnCntInitializedData = 0x00000040;
inline constexpr std::uint32_t kScnMemRead = 0x40000000;
inline constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BD;
// Optional-header offset of the fixed part's first field that differs between PE32 and PE32+.
inline constexpr std::size_t kOptionalHeader64FixedSize = offsetof(OptionalHeader64, DataDirectory);

// Data directory indexes.
inline constexpr std::size_t kDirResource = 2;
inline constexpr std::size_t kDirSecurity = 4;
inline constexpr std::size_t kDirBaseReloc = 5;

// Resource types.
inline constexpr std::uint16_t kRtIcon = 3;
inline constexpr std::uint16_t kRtGroupIcon = 14;
inline constexpr std::uint16_t kRtVersion = 16;
inline constexpr std::uint16_t kLangEnglishUs = 1033;

// Zeros for padding (less than the largest file alignment, 64 KiB).
inline constexpr std::array<std::uint8_t, 65536> kZeros{};

// True when [offset, offset + size) lies inside a buffer of `total` bytes (no overflow).
constexpr bool fits(std::uint64_t offset, std::uint64_t size, std::uint64_t total) {
  return offset <= total && size <= total - offset;
}

// The structure at offset, or nothing when it does not lie wholly inside bytes.
template <class T>
std::optional<T> read_at(Bytes bytes, std::uint64_t offset) {
  static_assert(std::is_trivially_copyable_v<T>);
  if (!fits(offset, sizeof(T), bytes.size())) return std::nullopt;
  T value;
  std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
}

// Copies value into out at offset; the caller has sized out to hold it.
template <class T>
void write_at(std::vector<std::uint8_t>& out, std::size_t offset, const T& value) {
  static_assert(std::is_trivially_copyable_v<T>);
  std::memcpy(out.data() + offset, &value, sizeof(T));
}

// Appends value's bytes to out.
template <class T>
void append(std::vector<std::uint8_t>& out, const T& value) {
  static_assert(std::is_trivially_copyable_v<T>);
  const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
  out.insert(out.end(), p, p + sizeof(T));
}

// value rounded up to a multiple of alignment (a power of two).
constexpr std::uint64_t align_up(std::uint64_t value, std::uint64_t alignment) {
  return (value + alignment - 1) & ~(alignment - 1);
}

// A section's name as text: up to the first NUL of its eight bytes.
inline std::string_view section_name(const SectionHeader& section) {
  const std::string_view name(reinterpret_cast<const char*>(section.Name), sizeof section.Name);
  return name.substr(0, name.find('\0'));
}

// "0x" and the value in upper-case hexadecimal, at least `digits` digits.
inline std::string hex(std::uint64_t value, int digits = 1) {
  std::string text;
  for (int shift = 60; shift >= 0; shift -= 4) {
    const unsigned digit = (value >> shift) & 0xF;
    if (digit != 0 || !text.empty() || shift < digits * 4) text += hex_digit(digit, HexCase::Upper);
  }
  return "0x" + text;
}

}  // namespace brevlo::pack
