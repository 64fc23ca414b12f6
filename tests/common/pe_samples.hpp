#pragma once
// Sample PE files made in code, laid out as GNU ld lays out a brevlo stub: stubs with their
// resources, installers, icons, for the pack tool's tests and its fuzz targets' seeds.

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pack/pe_format.hpp"
#include "pack/resources.hpp"

namespace brevlo::pack::sample {

using ByteVec = std::vector<std::uint8_t>;

inline ByteVec bytes_of(std::string_view text) { return {text.begin(), text.end()}; }

inline ByteVec from_hex(std::string_view hex) {
  ByteVec out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return out;
}

template <class T>
inline ByteVec bytes_of_struct(const T& value) {
  ByteVec out;
  append(out, value);
  return out;
}

// The version resource windres makes of the launcher's brevlo.rc (FileDescription and
// ProductName "brevlo", ProductVersion and FileVersion "1.0.0", file and product version 1.0.0.0,
// flags mask 0x3F, VOS_NT_WINDOWS32, VFT_APP).
inline const ByteVec kWindresVersion = from_hex(
    "a00134000000560053005f00560045005200530049004f004e005f0049004e0046004f0000000000bd04effe00000100"
    "000001000000000000000100000000003f00000000000000040004000100000000000000000000000000000000010000"
    "010053007400720069006e006700460069006c00650049006e0066006f000000dc000000010030003000300030003000"
    "3400620030000000360007000100460069006c0065004400650073006300720069007000740069006f006e0000000000"
    "62007200650076006c006f00000000002e0007000100500072006f0064007500630074004e0061006d00650000000000"
    "62007200650076006c006f0000000000300006000100500072006f006400750063007400560065007200730069006f00"
    "6e00000031002e0030002e00300000002c0006000100460069006c006500560065007200730069006f006e0000000000"
    "31002e0030002e0030000000440000000100560061007200460069006c00650049006e0066006f000000000024000400"
    "00005400720061006e0073006c006100740069006f006e00000000000000b004");

// A bitmap image of an icon: a BITMAPINFOHEADER for width x (2 x height), 32 bits per pixel, then
// `pixels` bytes standing for colours and mask.
inline ByteVec dib_image(std::int32_t width, std::size_t pixels, std::uint8_t fill) {
  ByteVec out;
  append(out, std::uint32_t{40});
  append(out, width);
  append(out, 2 * width);
  append(out, std::uint16_t{1});
  append(out, std::uint16_t{32});
  out.resize(40, 0);
  out.resize(40 + pixels, fill);
  return out;
}

inline ByteVec png_image() {
  ByteVec out = from_hex("89504e470d0a1a0a0000000d49484452");
  out.resize(48, 0x5A);
  return out;
}

// A .ico file of the images, each with its directory entry's sizes.
struct IcoImage {
  std::uint8_t width;
  std::uint16_t bit_count;
  ByteVec data;
};
inline ByteVec make_ico(const std::vector<IcoImage>& images) {
  ByteVec out;
  append(out, IconDir{0, 1, static_cast<std::uint16_t>(images.size())});
  std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * images.size());
  for (const IcoImage& image : images) {
    append(out, IconDirEntry{image.width, image.width, 0, 0, 1, image.bit_count,
                             static_cast<std::uint32_t>(image.data.size()), offset});
    offset += static_cast<std::uint32_t>(image.data.size());
  }
  for (const IcoImage& image : images) out.insert(out.end(), image.data.begin(), image.data.end());
  return out;
}

inline Resource resource(std::uint32_t type, std::uint32_t name, ByteVec data) {
  return Resource{type, name, std::uint32_t{kLangEnglishUs}, 0, std::move(data)};
}

// The stub's own resources: icon 1 (a 2x2 bitmap of 64 bytes), group icon 1, version 1.
inline ResourceSet stub_resources() {
  ResourceSet set;
  const ByteVec icon = dib_image(2, 24, 0x11);
  ByteVec group = bytes_of_struct(IconDir{0, 1, 1});
  append(group, GroupIconDirEntry{2, 2, 0, 0, 1, 32, static_cast<std::uint32_t>(icon.size()), 1});
  put_resource(set, resource(kRtIcon, 1, icon));
  put_resource(set, resource(kRtGroupIcon, 1, group));
  put_resource(set, resource(kRtVersion, 1, kWindresVersion));
  return set;
}

// ---------------------------------------------------------------------------------------------
// A small builder of PE32+ images laid out as GNU ld lays out a stub.

struct SectionLayout {
  std::string name;
  std::uint32_t characteristics;
  ByteVec data;                          // the file data; SizeOfRawData is it rounded up
  std::uint32_t virtual_size = 0;        // 0: the data's size
  std::optional<ResourceSet> resources;  // the data is this tree, written at the section's RVA
};

struct StubLayout {
  std::vector<SectionLayout> sections;
  std::uint32_t e_lfanew = 0x80;
  std::uint32_t size_of_headers = 0x400;
  ByteVec certificate;  // after the last section, pointed at by the security directory
};

inline constexpr std::uint32_t kFileAlignment = 0x200;
inline constexpr std::uint32_t kSectionAlignment = 0x1000;
inline constexpr std::uint32_t kCode = 0x60000020;
inline constexpr std::uint32_t kReadOnlyData = 0x40000040;
inline constexpr std::uint32_t kData = 0xC0000040;
inline constexpr std::uint32_t kBss = 0xC0000080;
inline constexpr std::uint32_t kRelocFlags = 0x42000040;

inline ByteVec marker() { return bytes_of(std::string_view("brevlo-stub/1\0\0\0", 16)); }

inline ByteVec relocations(std::uint32_t page) {
  ByteVec out;
  append(out, BaseRelocationBlock{page, 12});
  append(out, std::uint16_t{0xA010});
  append(out, std::uint16_t{0});
  return out;
}

// .text .rdata .brvlo .bss .rsrc .reloc and a certificate table, as the linker and a signing
// tool leave a stub.
inline StubLayout standard_stub() {
  ByteVec text(0x100, 0xCC);
  ByteVec rdata(0x80);
  for (std::size_t i = 0; i < rdata.size(); ++i) rdata[i] = static_cast<std::uint8_t>(i * 3);
  return StubLayout{{{".text", kCode, text, 0, std::nullopt},
                   {".rdata", kReadOnlyData, rdata, 0, std::nullopt},
                   {".brvlo", kReadOnlyData, marker(), 0, std::nullopt},
                   {".bss", kBss, {}, 0x40, std::nullopt},
                   {".rsrc", kData, {}, 0, stub_resources()},
                   {".reloc", kRelocFlags, relocations(0x1000), 0, std::nullopt}},
                  0x80,
                  0x400,
                  bytes_of("certificate table of 32 bytes..")};
}

inline ByteVec build_image(const StubLayout& layout) {
  std::vector<SectionHeader> headers;
  std::vector<ByteVec> contents;
  std::uint32_t rva = kSectionAlignment;
  std::uint32_t file = layout.size_of_headers;
  OptionalHeader64 oh{};
  for (const SectionLayout& s : layout.sections) {
    SectionHeader h{};
    std::copy_n(s.name.begin(), std::min<std::size_t>(s.name.size(), 8), h.Name);
    ByteVec data = s.resources ? write_resource_section(*s.resources, rva) : s.data;
    h.VirtualSize = s.virtual_size != 0 ? s.virtual_size : static_cast<std::uint32_t>(data.size());
    h.VirtualAddress = rva;
    h.SizeOfRawData = static_cast<std::uint32_t>(align_up(data.size(), kFileAlignment));
    h.PointerToRawData = data.empty() ? 0 : file;
    h.Characteristics = s.characteristics;
    if (s.name == ".rsrc") oh.DataDirectory[kDirResource] = {rva, h.VirtualSize};
    if (s.name == ".reloc") oh.DataDirectory[kDirBaseReloc] = {rva, h.VirtualSize};
    if (s.name == ".rdata") {
      oh.DataDirectory[1] = {rva + 0x10, 0x28};  // imports
      oh.DataDirectory[9] = {rva + 0x40, 0x28};  // TLS
    }
    if (s.characteristics & kScnCntInitializedData) oh.SizeOfInitializedData += h.SizeOfRawData;
    rva = static_cast<std::uint32_t>(align_up(rva + h.VirtualSize, kSectionAlignment));
    file += h.SizeOfRawData;
    headers.push_back(h);
    contents.push_back(std::move(data));
  }
  ByteVec out(layout.size_of_headers, 0);
  DosHeader dos{};
  dos.e_magic = kDosMagic;
  dos.e_lfanew = layout.e_lfanew;
  write_at(out, 0, dos);
  const std::string_view dos_stub = "This program cannot be run in DOS mode.";
  std::copy(dos_stub.begin(), dos_stub.end(), out.begin() + 0x4E);
  write_at(out, layout.e_lfanew, kPeSignature);
  write_at(out, layout.e_lfanew + 4,
           FileHeader{kMachineAmd64, static_cast<std::uint16_t>(headers.size()), 0x65A0B0C0, 0,
                      0, sizeof(OptionalHeader64), 0x0022});
  oh.Magic = kPe32PlusMagic;
  oh.MajorLinkerVersion = 2;
  oh.MinorLinkerVersion = 40;
  oh.SizeOfCode = 0x200;
  oh.AddressOfEntryPoint = 0x1010;
  oh.BaseOfCode = 0x1000;
  oh.ImageBase = 0x140000000;
  oh.SectionAlignment = kSectionAlignment;
  oh.FileAlignment = kFileAlignment;
  oh.MajorOperatingSystemVersion = oh.MajorSubsystemVersion = 6;
  oh.SizeOfImage = rva;
  oh.SizeOfHeaders = layout.size_of_headers;
  oh.CheckSum = 0x1234;
  oh.Subsystem = 2;
  oh.DllCharacteristics = 0x160;
  oh.SizeOfStackReserve = 0x100000;
  oh.SizeOfStackCommit = 0x1000;
  oh.SizeOfHeapReserve = 0x100000;
  oh.SizeOfHeapCommit = 0x1000;
  oh.NumberOfRvaAndSizes = 16;
  if (!layout.certificate.empty()) {
    oh.DataDirectory[kDirSecurity] = {file, static_cast<std::uint32_t>(layout.certificate.size())};
  }
  const std::uint32_t optional_offset = layout.e_lfanew + 4 + sizeof(FileHeader);
  write_at(out, optional_offset, oh);
  for (std::size_t i = 0; i < headers.size(); ++i) {
    write_at(out, optional_offset + sizeof(OptionalHeader64) + i * sizeof(SectionHeader),
             headers[i]);
    if (contents[i].empty()) continue;
    out.resize(headers[i].PointerToRawData, 0);
    out.insert(out.end(), contents[i].begin(), contents[i].end());
    out.resize(headers[i].PointerToRawData + headers[i].SizeOfRawData, 0);
  }
  out.insert(out.end(), layout.certificate.begin(), layout.certificate.end());
  return out;
}


inline const std::string kConfig = R"({"mainBinaryName": "Ostrevan", "productName": "Ostrevan"})";

// A 0x300-byte installer image: MZ, e_lfanew 0x40, the PE signature, then a byte pattern.
inline ByteVec installer_image() {
  ByteVec out(0x300);
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(i * 7 + 1);
  write_at(out, 0, kDosMagic);
  write_at(out, 60, std::uint32_t{0x40});
  write_at(out, 0x40, kPeSignature);
  return out;
}


}  // namespace brevlo::pack::sample
