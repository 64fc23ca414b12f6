// brevlo-pack over synthetic stubs made here: the layout of a packed launcher, its resources and
// version strings, every refusal with its exact line, and the command as a publisher runs it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "../common/pe_samples.hpp"
#include "pack/digest.hpp"
#include "pack/ico.hpp"
#include "pack/inspect.hpp"
#include "pack/pack.hpp"
#include "pack/options.hpp"
#include "pack/pack_tool.hpp"
#include "pack/resources.hpp"
#include "pack/version_info.hpp"
#include "platform/error.hpp"
#include "platform/text.hpp"

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace brevlo::pack {

// An error as a failing expectation shows it.
void PrintTo(const PackError& error, std::ostream* out) {
  *out << "kind " << static_cast<int>(error.kind) << ": " << error.text;
}
std::ostream& operator<<(std::ostream& out, const PackError& error) {
  PrintTo(error, &out);
  return out;
}

namespace {

namespace fs = std::filesystem;
using namespace sample;
std::uint32_t optional_offset(const ByteVec& image) {
  return read_at<DosHeader>(image, 0)->e_lfanew + 4 + sizeof(FileHeader);
}

OptionalHeader64 optional_header(const ByteVec& image) {
  return *read_at<OptionalHeader64>(image, optional_offset(image));
}

std::vector<SectionHeader> section_table(const ByteVec& image) {
  const auto fh = *read_at<FileHeader>(image, optional_offset(image) - sizeof(FileHeader));
  std::vector<SectionHeader> table;
  for (std::size_t i = 0; i < fh.NumberOfSections; ++i) {
    table.push_back(*read_at<SectionHeader>(
        image, optional_offset(image) + sizeof(OptionalHeader64) + i * sizeof(SectionHeader)));
  }
  return table;
}

void edit_optional(ByteVec& image, const std::function<void(OptionalHeader64&)>& edit) {
  OptionalHeader64 oh = optional_header(image);
  edit(oh);
  write_at(image, optional_offset(image), oh);
}

void edit_section(ByteVec& image, std::string_view name,
                  const std::function<void(SectionHeader&)>& edit) {
  const auto table = section_table(image);
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (section_name(table[i]) != name) continue;
    SectionHeader header = table[i];
    edit(header);
    write_at(image, optional_offset(image) + sizeof(OptionalHeader64) + i * sizeof(SectionHeader),
             header);
  }
}

// The textbook checksum: 16-bit words added one at a time with the carry folded back in.
std::uint32_t reference_checksum(ByteVec image) {
  const std::uint32_t field = optional_offset(image) + offsetof(OptionalHeader64, CheckSum);
  write_at(image, field, std::uint32_t{0});
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < image.size(); i += 2) {
    sum += image[i] | (i + 1 < image.size() ? image[i + 1] << 8 : 0);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return ((sum & 0xFFFF) + (sum >> 16)) + static_cast<std::uint32_t>(image.size());
}

// PNG files made with Python's zlib: 2x2 truecolour with alpha (red, half-transparent green,
// transparent blue, opaque 0A141E), 2x1 palette (010203, C86432), 1x1 greyscale, an IHDR of 2049x1,
// and a 1x1 image whose IDAT (with its right CRC) is not a zlib stream.
const ByteVec kPngRgba = from_hex(
    "89504e470d0a1a0a0000000d494844520000000200000002080600000072b60d24000000164944415478da63f8cf"
    "c0f01f081b1840349788dc7f00378005b88871a6150000000049454e44ae426082");
const ByteVec kPngPalette = from_hex(
    "89504e470d0a1a0a0000000d4948445200000002000000010803000000c3fc8fb800000006504c5445010203c864"
    "3250b4ae3f0000000b4944415478da6360600400000400022cde48ad0000000049454e44ae426082");
const ByteVec kPngGrey = from_hex(
    "89504e470d0a1a0a0000000d49484452000000010000000108000000003a7e9b550000000a4944415478da636800"
    "0000820081da45083b0000000049454e44ae426082");
const ByteVec kPngTooWide = from_hex(
    "89504e470d0a1a0a0000000d49484452000008010000000108020000002ab4b29b0000001c4944415478daedc101"
    "0d000000c2a0f74f6d0f07140000000000f068180400011c8aadef0000000049454e44ae426082");
const ByteVec kPngNotZlib = from_hex(
    "89504e470d0a1a0a0000000d4948445200000001000000010802000000907753de0000000d494441546e6f74207a"
    "6c69622064617461192f116f0000000049454e44ae426082");

struct Inputs {
  ByteVec stub = build_image(standard_stub());
  ByteVec config = bytes_of(kConfig);
  ByteVec installer = installer_image();
  std::optional<ByteVec> icon;
  std::optional<ByteVec> splash;
  Branding branding;
  PackOptions options;
};

PackResult<PackedLauncher> pack_inputs(const Inputs& in) {
  Branding branding = in.branding;
  if (in.icon) branding.icon = Bytes(*in.icon);
  if (in.splash) branding.splash = Bytes(*in.splash);
  return pack(in.stub, in.config, in.installer, branding, in.options);
}

ByteVec packed_bytes(const Inputs& in) {
  auto packed = pack_inputs(in);
  EXPECT_TRUE(packed.has_value()) << (packed ? "" : packed.error().text);
  return packed ? packed->bytes() : ByteVec{};
}

// The image's resources, each with a copy of its data (the reader gives views of the image).
PackResult<ResourceSet> resources_of(const ByteVec& image) {
  auto stub = read_stub(image);
  if (!stub) return std::unexpected(stub.error());
  auto set = read_resources(optional_header(image).DataDirectory[kDirResource],
                            [&](std::uint32_t rva, std::uint32_t size) {
                              return stub->at_rva(rva, size);
                            },
                            image.size());
  if (set) {
    for (Resource& resource : *set) resource.data = ByteVec(resource.data.begin(), resource.data.end());
  }
  return set;
}

const Resource* find(const ResourceSet& set, std::uint32_t type, std::uint32_t name) {
  for (const Resource& r : set) {
    if (r.type == ResourceId(type) && r.name == ResourceId(name)) return &r;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------------------------
// The accepted layout.

struct ExpectedSection {
  std::string_view name;
  std::uint32_t virtual_size, virtual_address, size_of_raw_data, pointer, characteristics;
};

TEST(PackLayout, KeepsTheStubsSectionsAndAppendsPayloadResourcesAndRelocations) {
  ASSERT_EQ(kConfig.size(), 57u);
  const Inputs in;
  const ByteVec out = packed_bytes(in);
  const ExpectedSection expected[] = {
      {".text", 0x100, 0x1000, 0x200, 0x400, kCode},
      {".rdata", 0x80, 0x2000, 0x200, 0x600, kReadOnlyData},
      {".brvlo", 0x10, 0x3000, 0x200, 0x800, kReadOnlyData},
      {".bss", 0x40, 0x4000, 0, 0, kBss},
      {".brvcfg", 57, 0x5000, 0x200, 0xA00, kReadOnlyData},
      {".brvimg", 0x300, 0x6000, 0x400, 0xC00, kReadOnlyData},
      {".brvopt", 40, 0x7000, 0x200, 0x1000, kReadOnlyData},
      // 3 types x (3 tables of one entry) + 3 data entries = 232 bytes, then icon (64), group
      // icon (20) and version (416) 8-byte aligned.
      {".rsrc", 0x2E0, 0x8000, 0x400, 0x1200, kData},
      {".reloc", 12, 0x9000, 0x200, 0x1600, kRelocFlags},
  };
  const auto table = section_table(out);
  ASSERT_EQ(table.size(), std::size(expected));
  for (std::size_t i = 0; i < table.size(); ++i) {
    const ExpectedSection& e = expected[i];
    const SectionHeader& s = table[i];
    EXPECT_EQ(std::tuple(section_name(s), s.VirtualSize, s.VirtualAddress, s.SizeOfRawData,
                         s.PointerToRawData, s.Characteristics),
              std::tuple(e.name, e.virtual_size, e.virtual_address, e.size_of_raw_data,
                         e.pointer, e.characteristics))
        << "section " << i;
  }
  EXPECT_EQ(out.size(), 0x1800u) << "the certificate table is dropped";

  // Every header field but the ones that follow from the new layout is the stub's.
  OptionalHeader64 want = optional_header(in.stub);
  want.SizeOfInitializedData = 0x1200;  // .rdata .brvlo .brvcfg .brvimg .brvopt .rsrc .reloc
  want.SizeOfImage = 0xA000;
  want.CheckSum = reference_checksum(out);
  want.DataDirectory[kDirResource] = {0x8000, 0x2E0};
  want.DataDirectory[kDirSecurity] = {0, 0};
  want.DataDirectory[kDirBaseReloc] = {0x9000, 12};
  EXPECT_EQ(bytes_of_struct(optional_header(out)), bytes_of_struct(want));
  const std::uint32_t file_header = optional_offset(out) - sizeof(FileHeader);
  ByteVec stub_prefix(in.stub.begin(), in.stub.begin() + file_header);
  EXPECT_EQ(ByteVec(out.begin(), out.begin() + file_header), stub_prefix) << "DOS header and stub";
  FileHeader fh = *read_at<FileHeader>(in.stub, file_header);
  fh.NumberOfSections = 9;
  EXPECT_EQ(bytes_of_struct(*read_at<FileHeader>(out, file_header)), bytes_of_struct(fh));
  const std::size_t table_end = optional_offset(out) + sizeof(OptionalHeader64) + 9 * 40;
  EXPECT_TRUE(std::all_of(out.begin() + table_end, out.begin() + 0x400,
                          [](std::uint8_t b) { return b == 0; }));

  // The kept sections' data as in the stub, then the payload exactly, zero padded.
  EXPECT_EQ(ByteVec(out.begin() + 0x400, out.begin() + 0xA00),
            ByteVec(in.stub.begin() + 0x400, in.stub.begin() + 0xA00));
  ByteVec config_raw = in.config;
  config_raw.resize(0x200, 0);
  EXPECT_EQ(ByteVec(out.begin() + 0xA00, out.begin() + 0xC00), config_raw);
  ByteVec image_raw = in.installer;
  image_raw.resize(0x400, 0);
  EXPECT_EQ(ByteVec(out.begin() + 0xC00, out.begin() + 0x1000), image_raw);
  ByteVec options_raw(0x200, 0);
  std::copy_n(kOptionsMark, sizeof kOptionsMark, options_raw.begin());
  std::ranges::copy(image_digest(in.installer), options_raw.begin() + 24);
  EXPECT_EQ(ByteVec(out.begin() + 0x1000, out.begin() + 0x1200), options_raw)
      << "the mark, no flags and the image's digest";
  ByteVec reloc_raw = relocations(0x1000);
  reloc_raw.resize(0x200, 0);
  EXPECT_EQ(ByteVec(out.begin() + 0x1600, out.end()), reloc_raw);

  const auto resources = resources_of(out);
  ASSERT_TRUE(resources.has_value()) << resources.error();
  const ResourceSet stub_set = stub_resources();
  ASSERT_EQ(resources->size(), stub_set.size());
  for (std::size_t i = 0; i < stub_set.size(); ++i) {
    EXPECT_EQ((*resources)[i].data, stub_set[i].data) << "resource " << i;
  }
}

TEST(PackLayout, RepackingTheOutputGivesTheSameBytes) {
  Inputs in;
  const ByteVec once = packed_bytes(in);
  in.stub = once;
  EXPECT_EQ(packed_bytes(in), once);

  // With branding, and with an installer whose size is a multiple of the file alignment.
  in = Inputs();
  in.installer.resize(0x600, 0x33);
  in.icon = make_ico({{16, 32, dib_image(16, 100, 1)}, {0, 32, png_image()}});
  in.branding.product_name = "Ostrevan";
  in.branding.version = Version{"2.5", {2, 5, 0, 0}};
  const ByteVec branded = packed_bytes(in);
  in.stub = branded;
  EXPECT_EQ(packed_bytes(in), branded);
  in.icon.reset();
  in.branding = {};
  EXPECT_EQ(packed_bytes(in), branded) << "a packed launcher keeps its branding when repacked";
}

TEST(PackLayout, StubWithoutResourcesOrRelocationsGetsThePayloadAlone) {
  StubLayout layout = standard_stub();
  layout.sections.resize(4);  // .text .rdata .brvlo .bss
  layout.certificate.clear();
  Inputs in;
  in.stub = build_image(layout);
  const ByteVec out = packed_bytes(in);
  const auto table = section_table(out);
  ASSERT_EQ(table.size(), 7u);
  EXPECT_EQ(section_name(table[6]), ".brvopt");
  EXPECT_EQ(optional_header(out).DataDirectory[kDirResource], (DataDirectory{0, 0}));
  EXPECT_EQ(optional_header(out).DataDirectory[kDirBaseReloc], (DataDirectory{0, 0}));
  EXPECT_EQ(optional_header(out).SizeOfImage, 0x8000u);
  EXPECT_EQ(out.size(), 0x1200u);
}

// Sizes the format's 32-bit fields can hold, and one byte past them.
TEST(PackLayout, RefusesALauncherBeyondThe32BitSizes) {
  const ByteVec image = build_image(standard_stub());
  const auto stub = read_stub(image);
  ASSERT_TRUE(stub.has_value()) << stub.error().text;
  const std::uint64_t room = 0xFFFFF000 - stub->kept_virtual_end;  // up to the last aligned page
  const std::pair<std::vector<TailSection>, bool> rows[] = {
      {{{".brvimg", kReadOnlyData, std::uint64_t{1} << 31}}, true},
      {{{".brvimg", kReadOnlyData, room}}, true},
      {{{".brvimg", kReadOnlyData, room + 1}}, false},
      {{{".brvimg", kReadOnlyData, std::uint64_t{1} << 31}, {".rsrc", kData, std::uint64_t{1} << 31}},
       false},
  };
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    const auto layout = lay_out(*stub, rows[i].first);
    EXPECT_EQ(layout.has_value(), rows[i].second) << "row " << i;
    if (!layout) {
      EXPECT_EQ(std::tuple(layout.error().kind, layout.error().text),
                std::tuple(PackErrorKind::Output,
                           std::string("the packed launcher would be larger than 4 GiB")));
    }
  }
}

TEST(PackLayout, ChecksumMatchesTheWordByWordSumForAnySplit) {
  ByteVec image = build_image(standard_stub());
  image.push_back(0xFF);  // an odd length
  edit_optional(image, [](OptionalHeader64& oh) { oh.CheckSum = 0; });
  const std::uint32_t want = reference_checksum(image);
  for (std::size_t split : {std::size_t{1}, std::size_t{3}, std::size_t{0x401}, image.size()}) {
    const Bytes all(image);
    const Bytes pieces[] = {all.first(split), all.subspan(split, (image.size() - split) / 2),
                            all.subspan(split + (image.size() - split) / 2)};
    EXPECT_EQ(pe_checksum(pieces), want) << "split at " << split;
  }
}

// Damaged stubs: cut short anywhere in the headers, or with a few bytes changed in the headers,
// resources (with the version resource rewritten every other round) or relocations. Each is
// refused with a reason or packs to a launcher that repacks to itself.
TEST(PackLayout, DamagedStubsAreRefusedOrRepackToThemselves) {
  const Inputs base;
  std::mt19937 random(20261209);
  int packed = 0;
  int refused = 0;
  for (int round = 0; round < 2000; ++round) {
    Inputs in = base;
    if (round % 2 == 1) in.branding.product_name = "Ostrevan 奥斯特万";
    if (round < 0x600 / 8) {
      in.stub.resize(static_cast<std::size_t>(round) * 8);
    } else {
      const std::size_t regions[] = {0, 0xA00, 0xE00};  // headers, .rsrc, .reloc
      for (int flips = 1 + round % 4; flips > 0; --flips) {
        const std::size_t at = (regions[random() % 3] + random() % 0x300) % in.stub.size();
        in.stub[at] = static_cast<std::uint8_t>(random());
      }
    }
    const auto out = pack_inputs(in);
    if (!out) {
      EXPECT_FALSE(out.error().text.empty()) << "round " << round;
      ++refused;
      continue;
    }
    ++packed;
    Inputs again = in;
    again.stub = out->bytes();
    EXPECT_EQ(packed_bytes(again), again.stub) << "round " << round;
    // What packing accepts, inspect finds whole; the same with a few bytes changed anywhere is
    // whole or refused with a reason, never read out of bounds.
    const auto facts = inspect_launcher(again.stub);
    EXPECT_TRUE(facts.has_value()) << "round " << round << ": " << facts.error();
    ByteVec damaged = again.stub;
    for (int flips = 1 + round % 3; flips > 0; --flips) {
      damaged[random() % damaged.size()] = static_cast<std::uint8_t>(random());
    }
    if (round % 5 == 0) damaged.resize(random() % damaged.size());
    const auto damaged_facts = inspect_launcher(damaged);
    if (!damaged_facts) {
      EXPECT_FALSE(damaged_facts.error().text.empty()) << "round " << round;
    }
  }
  EXPECT_GT(packed, 100);
  EXPECT_GT(refused, 100);
}

// ---------------------------------------------------------------------------------------------
// Branding.

TEST(PackBranding, IconReplacesEveryIconWithTheFilesImages) {
  Inputs in;
  const std::vector<IcoImage> images = {
      {16, 32, dib_image(16, 300, 0x21)}, {0, 32, png_image()}, {48, 8, dib_image(48, 200, 0x43)}};
  in.icon = make_ico(images);
  const auto resources = resources_of(packed_bytes(in));
  ASSERT_TRUE(resources.has_value()) << resources.error();
  ByteVec group = bytes_of_struct(IconDir{0, 1, 3});
  append(group, GroupIconDirEntry{16, 16, 0, 0, 1, 32, 340, 1});
  append(group, GroupIconDirEntry{0, 0, 0, 0, 1, 32, 48, 2});
  append(group, GroupIconDirEntry{48, 48, 0, 0, 1, 8, 240, 3});
  std::vector<std::tuple<std::uint32_t, std::uint32_t, ByteVec>> got, want = {
      {kRtIcon, 1, images[0].data},
      {kRtIcon, 2, images[1].data},
      {kRtIcon, 3, images[2].data},
      {kRtGroupIcon, 1, group},
      {kRtVersion, 1, kWindresVersion}};
  for (const Resource& r : *resources) {
    EXPECT_EQ(r.language, ResourceId(std::uint32_t{kLangEnglishUs}));
    got.emplace_back(std::get<std::uint32_t>(r.type), std::get<std::uint32_t>(r.name),
                     ByteVec(r.data.begin(), r.data.end()));
  }
  EXPECT_EQ(got, want);
}

TEST(PackBranding, VersionStringsAndNumbersWithCjkText) {
  Inputs in;
  in.branding.product_name = "奥斯特万 Ostrevan 🎮";
  in.branding.file_description = "Été 2026 — 启动器";
  in.branding.version = Version{"3.14.159", {3, 14, 159, 0}};
  const auto resources = resources_of(packed_bytes(in));
  ASSERT_TRUE(resources.has_value()) << resources.error();
  const Resource* version = find(*resources, kRtVersion, 1);
  ASSERT_NE(version, nullptr);
  const auto info = read_version_info(version->data);
  ASSERT_TRUE(info.has_value()) << info.error();
  EXPECT_EQ(info->product_name, u"奥斯特万 Ostrevan 🎮");
  EXPECT_EQ(info->file_description, u"Été 2026 — 启动器");
  EXPECT_EQ(info->product_version, u"3.14.159");
  EXPECT_EQ(info->file_version, u"3.14.159");
  FixedFileInfo fixed = *read_at<FixedFileInfo>(kWindresVersion, 40);
  fixed.dwFileVersionMS = fixed.dwProductVersionMS = 0x0003000E;
  fixed.dwFileVersionLS = fixed.dwProductVersionLS = 0x009F0000;
  EXPECT_EQ(bytes_of_struct(info->fixed), bytes_of_struct(fixed));
  // Written anew in the resource compiler's form: the same as writing those values directly.
  EXPECT_EQ(version->data, *write_version_info(*info));
  // Icons untouched.
  EXPECT_EQ(find(*resources, kRtIcon, 1)->data, find(stub_resources(), kRtIcon, 1)->data);
}

TEST(PackSplash, PixelsArePremultipliedBgraInTheirSectionAfterTheOptions) {
  struct Row {
    const char* name;
    const ByteVec& png;
    std::string section;  // hexadecimal
  };
  const std::string mark = "627265766c6f2d73706c6173682f3100";  // "brevlo-splash/1"
  const Row rows[] = {
      {"truecolour_with_alpha", kPngRgba,
       mark + "0200000002000000" "0000ffff" "00800080" "00000000" "1e140aff"},
      {"palette", kPngPalette, mark + "0200000001000000" "030201ff" "3264c8ff"},
  };
  for (const Row& row : rows) {
    Inputs in;
    in.splash = row.png;
    const ByteVec out = packed_bytes(in);
    std::vector<std::string> names;
    ByteVec section;
    std::size_t section_at = 0;
    for (const SectionHeader& h : section_table(out)) {
      names.push_back(std::string(section_name(h)));
      if (section_name(h) == ".brvspl") {
        section_at = h.PointerToRawData;
        section.assign(out.begin() + h.PointerToRawData,
                       out.begin() + h.PointerToRawData + h.VirtualSize);
      }
    }
    EXPECT_EQ(names, (std::vector<std::string>{".text", ".rdata", ".brvlo", ".bss", ".brvcfg",
                                                    ".brvimg", ".brvopt", ".brvspl", ".rsrc",
                                                    ".reloc"}))
        << row.name;
    EXPECT_EQ(section, from_hex(row.section)) << row.name;
    const auto facts = inspect_launcher(out);
    ASSERT_TRUE(facts.has_value()) << facts.error();
    EXPECT_TRUE(facts->options.splash) << row.name;
    ByteVec damaged = out;
    damaged[section_at + 16] = 3;  // a width that does not match the pixels
    const auto refused = inspect_launcher(damaged);
    EXPECT_EQ(refused ? std::string("accepted") : refused.error().text, "the .brvspl section is damaged")
        << row.name;
    // Packed again as a stub, the launcher loses its splash unless it is given again.
    in.stub = out;
    in.splash.reset();
    EXPECT_EQ(packed_bytes(in), packed_bytes(Inputs{})) << row.name;
  }
}

TEST(VersionInfo, WritesTheResourceCompilersBytesAndReadsThemBack) {
  const auto info = read_version_info(kWindresVersion);
  ASSERT_TRUE(info.has_value()) << info.error();
  EXPECT_EQ(info->file_description, u"brevlo");
  EXPECT_EQ(info->product_name, u"brevlo");
  EXPECT_EQ(info->product_version, u"1.0.0");
  EXPECT_EQ(info->file_version, u"1.0.0");
  EXPECT_EQ(info->fixed.dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(info->fixed.dwFileFlagsMask, 0x3Fu);
  EXPECT_EQ(write_version_info(*info), kWindresVersion);
  VersionInfo huge = *info;
  huge.product_name.assign(40000, u'x');
  EXPECT_EQ(write_version_info(huge), std::nullopt);
}

TEST(VersionInfo, ParsesOneToFourNumbersUpTo65535) {
  using Parts = std::array<std::uint16_t, 4>;
  const std::pair<std::string_view, std::optional<Parts>> cases[] = {
      {"1", Parts{1, 0, 0, 0}},
      {"1.2.3", Parts{1, 2, 3, 0}},
      {"65535.0.007.65535", Parts{65535, 0, 7, 65535}},
      {"", std::nullopt},
      {"1.", std::nullopt},
      {".1", std::nullopt},
      {"1..2", std::nullopt},
      {"1.2.3.4.5", std::nullopt},
      {"65536", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"-1", std::nullopt},
      {"+1", std::nullopt},
      {" 1", std::nullopt},
      {"1,2", std::nullopt},
      {"1.2a", std::nullopt},
  };
  for (const auto& [text, parts] : cases) EXPECT_EQ(parse_version(text), parts) << text;
}

TEST(Resources, NamedEntriesComeBeforeIdsAndTheTreeReadsBack) {
  ResourceSet set;
  put_resource(set, Resource{std::uint32_t{10}, std::uint32_t{7}, std::uint32_t{0}, 1252,
                             bytes_of("seven")});
  put_resource(set, Resource{u"PNG", u"LOGO", std::uint32_t{1033}, 0, bytes_of("png")});
  put_resource(set, Resource{std::uint32_t{10}, u"B", std::uint32_t{1033}, 0, bytes_of("b")});
  put_resource(set, Resource{std::uint32_t{10}, u"A", std::uint32_t{1033}, 0, bytes_of("a")});
  ASSERT_EQ(set.size(), 4u);
  EXPECT_EQ(set[0].type, ResourceId(u"PNG"));
  EXPECT_EQ(set[1].name, ResourceId(u"A"));
  EXPECT_EQ(set[3].name, ResourceId(std::uint32_t{7}));

  const ByteVec section = write_resource_section(set, 0x3000);
  ASSERT_EQ(section.size(), resource_section_size(set));
  // Root: one named type, one numbered.
  const auto root = *read_at<ResourceDirectory>(section, 0);
  EXPECT_EQ(root.NumberOfNamedEntries + 0, 1);
  EXPECT_EQ(root.NumberOfIdEntries + 0, 1);
  const auto read = read_resources({0x3000, static_cast<std::uint32_t>(section.size())},
                                   [&](std::uint32_t rva, std::uint32_t size) -> std::optional<Bytes> {
                                     if (rva < 0x3000 || !fits(rva - 0x3000, size, section.size())) {
                                       return std::nullopt;
                                     }
                                     return Bytes(section).subspan(rva - 0x3000, size);
                                   },
                                   section.size());
  ASSERT_TRUE(read.has_value()) << read.error();
  ASSERT_EQ(read->size(), set.size());
  for (std::size_t i = 0; i < set.size(); ++i) {
    EXPECT_EQ(std::tie((*read)[i].type, (*read)[i].name, (*read)[i].language,
                       (*read)[i].code_page, (*read)[i].data),
              std::tie(set[i].type, set[i].name, set[i].language, set[i].code_page, set[i].data));
  }
}

// ---------------------------------------------------------------------------------------------
// Refusals: one line naming the input and the rule it breaks.

struct RefusalCase {
  const char* name;
  std::function<void(Inputs&)> change;
  PackError want;
};

void put(ByteVec& image, std::size_t offset, std::uint32_t value) { write_at(image, offset, value); }

// A resource section at rva with one type of `names` names, each with `languages` language
// entries, each with a data entry of its own, all naming the same `size` bytes at the section's
// end.
ByteVec shared_data_resources(std::uint32_t rva, std::uint32_t names, std::uint32_t languages,
                              std::uint32_t size) {
  ByteVec out;
  const auto table = [&](std::uint32_t entries) {
    append(out, ResourceDirectory{0, 0, 0, 0, 0, static_cast<std::uint16_t>(entries)});
  };
  constexpr std::uint32_t kTable = 0x80000000;
  const std::uint32_t language_tables_at = 24 + 16 + 8 * names;
  const std::uint32_t entries_at = language_tables_at + names * (16 + 8 * languages);
  const std::uint32_t data_at = entries_at + 16 * names * languages;
  table(1);
  append(out, ResourceDirectoryEntry{10, kTable | 24});
  table(names);
  for (std::uint32_t n = 0; n < names; ++n) {
    append(out, ResourceDirectoryEntry{n + 1, kTable | (language_tables_at + n * (16 + 8 * languages))});
  }
  for (std::uint32_t n = 0; n < names; ++n) {
    table(languages);
    for (std::uint32_t i = 0; i < languages; ++i) {
      append(out, ResourceDirectoryEntry{i, entries_at + 16 * (n * languages + i)});
    }
  }
  for (std::uint32_t i = 0; i < names * languages; ++i) {
    append(out, ResourceDataEntry{rva + data_at, size, 0, 0});
  }
  out.resize(out.size() + size, 0x5A);
  return out;
}

// The standard stub with such a resource section for its own.
ByteVec stub_with_shared_resource_data() {
  StubLayout layout = standard_stub();
  layout.sections[4].resources.reset();
  layout.sections[4].data = shared_data_resources(0x5000, 1, 65535, 1 << 20);
  return build_image(layout);
}

// An icon file whose 65,535 directory entries all name the same 1 MiB image.
ByteVec ico_with_shared_image() {
  ByteVec out;
  append(out, IconDir{0, 1, 65535});
  const ByteVec image = dib_image(256, (1 << 20) - 40, 0x77);
  for (int i = 0; i < 65535; ++i) {
    append(out, IconDirEntry{0, 0, 0, 0, 1, 32, static_cast<std::uint32_t>(image.size()),
                             6 + 16 * 65535});
  }
  out.insert(out.end(), image.begin(), image.end());
  return out;
}

// File offsets in the standard stub: .rsrc data at 0xA00, its tree as write_resource_section
// lays it out (root at 0, type tables at 40/64/88, language tables at 112/136/160, data entries at
// 184/200/216).
constexpr std::size_t kRsrc = 0xA00;

const RefusalCase kRefusals[] = {
    {"config_empty", [](Inputs& in) { in.config.clear(); },
     {PackErrorKind::Config,
      "无法解析 game.json: Error(\"EOF while parsing a value\", line: 1, column: 0)"}},
    {"config_missing_field", [](Inputs& in) { in.config = bytes_of("{}"); },
     {PackErrorKind::Config,
      "无法解析 game.json: Error(\"missing field `mainBinaryName`\", line: 1, column: 2)"}},
    {"installer_tiny", [](Inputs& in) { in.installer = bytes_of("MZ"); },
     {PackErrorKind::Installer, "only 2 bytes"}},
    {"installer_no_mz", [](Inputs& in) { in.installer[0] = 'Z'; },
     {PackErrorKind::Installer, "no MZ header"}},
    {"installer_no_pe_header", [](Inputs& in) { put(in.installer, 60, 0x300); },
     {PackErrorKind::Installer, "no PE header"}},
    {"installer_no_pe_signature", [](Inputs& in) { in.installer[0x41] = 'X'; },
     {PackErrorKind::Installer, "no PE signature"}},
    {"stub_not_pe", [](Inputs& in) { in.stub = bytes_of("#!/bin/sh\necho brevlo\n"); },
     {PackErrorKind::NotAStub, "no MZ header"}},
    {"stub_no_pe_signature", [](Inputs& in) { put(in.stub, 60, 0x7FFFFFF0); },
     {PackErrorKind::NotAStub, "no PE signature"}},
    {"stub_x86", [](Inputs& in) { write_at(in.stub, 0x84, std::uint16_t{0x14C}); },
     {PackErrorKind::NotAStub, "machine 0x014C, not x64 (0x8664)"}},
    {"stub_pe32", [](Inputs& in) { write_at(in.stub, 0x98, std::uint16_t{0x10B}); },
     {PackErrorKind::NotAStub, "not a PE32+ image (optional header magic 0x010B)"}},
    {"stub_cut_in_section_table", [](Inputs& in) { in.stub.resize(0x1A0); },
     {PackErrorKind::NotAStub, "its section table is cut short"}},
    {"stub_without_marker",
     [](Inputs& in) { edit_section(in.stub, ".brvlo", [](SectionHeader& s) { s.Name[4] = 'x'; }); },
     {PackErrorKind::NotAStub, "it has no .brvlo section"}},
    {"stub_bad_magic", [](Inputs& in) { in.stub[0x800 + 12] = '2'; },
     {PackErrorKind::NotAStub, "its .brvlo section does not begin with \"brevlo-stub/1\""}},
    {"stub_tail_section_out_of_order",
     [](Inputs& in) {
       StubLayout layout = standard_stub();
       std::swap(layout.sections[1], layout.sections[4]);  // .rsrc where .rdata was
       in.stub = build_image(layout);
     },
     {PackErrorKind::Stub,
      "section .rsrc comes before section .rdata; .brvcfg, .brvimg, .brvopt, .rsrc and .reloc must "
      "end the section table"}},
    {"stub_directory_in_tail",
     [](Inputs& in) {
       edit_optional(in.stub, [](OptionalHeader64& oh) { oh.DataDirectory[9] = {0x5010, 0x28}; });
     },
     {PackErrorKind::Stub,
      "data directory 9 (RVA 0x5010, 0x28 bytes) is not inside a section that stays in place"}},
    {"stub_relocations_in_rsrc",
     [](Inputs& in) {
       edit_optional(in.stub, [](OptionalHeader64& oh) { oh.DataDirectory[5] = {0x5000, 12}; });
     },
     {PackErrorKind::Stub,
      "its base relocations are neither in .reloc nor in a section that stays in place"}},
    {"stub_relocations_of_a_moving_page", [](Inputs& in) { put(in.stub, 0xE00, 0x5000); },
     {PackErrorKind::Stub, "its base relocations fix up RVA 0x5000, which packing moves"}},
    {"stub_relocation_block_too_long", [](Inputs& in) { put(in.stub, 0xE04, 16); },
     {PackErrorKind::Stub, "its base relocation block at offset 0x0 is malformed"}},
    {"stub_without_header_room",
     [](Inputs& in) {
       StubLayout layout = standard_stub();
       layout.e_lfanew = 0x200;  // section table at 0x308: 6 headers fit before 0x400, 9 do not
       in.stub = build_image(layout);
     },
     {PackErrorKind::Stub,
      "its headers have room for 6 section headers, not the 9 of the packed launcher"}},
    {"stub_truncated_section_data", [](Inputs& in) { in.stub.resize(0xE08); },
     {PackErrorKind::Stub, "section .reloc has data (0x200 bytes at 0xE00) beyond the end of the "
                            "file"}},
    {"stub_section_without_data_past_the_end",
     [](Inputs& in) {
       edit_section(in.stub, ".bss", [](SectionHeader& s) { s.PointerToRawData = 0x100000; });
     },
     {PackErrorKind::Stub,
      "section .bss points at file offset 0x100000, beyond the end of the file"}},
    {"stub_sections_overlap_in_memory",
     [](Inputs& in) {
       edit_section(in.stub, ".rdata", [](SectionHeader& s) { s.VirtualSize = 0x1001; });
     },
     {PackErrorKind::Stub, "section .brvlo is out of order in memory"}},
    {"rsrc_directory_outside",
     [](Inputs& in) {
       edit_optional(in.stub, [](OptionalHeader64& oh) { oh.DataDirectory[2].Size = 0x10000; });
     },
     {PackErrorKind::Stub,
      "its resource directory (RVA 0x5000, 0x10000 bytes) lies outside the file"}},
    {"rsrc_table_beyond_end", [](Inputs& in) { put(in.stub, kRsrc + 20, 0x80007000); },
     {PackErrorKind::Stub, "its resource directory has a table at offset 0x7000 beyond its end"}},
    {"rsrc_name_beyond_end", [](Inputs& in) { put(in.stub, kRsrc + 16, 0x800002DF); },
     {PackErrorKind::Stub, "its resource directory has a name at offset 0x2DF beyond its end"}},
    {"rsrc_loop", [](Inputs& in) { put(in.stub, kRsrc + 40 + 20, 0x80000000); },
     {PackErrorKind::Stub, "its resource directory reaches offset 0x0 twice"}},
    {"rsrc_too_deep", [](Inputs& in) { put(in.stub, kRsrc + 112 + 20, 0x80000028); },
     {PackErrorKind::Stub, "its resource directory nests deeper than type, name and language"}},
    {"rsrc_data_outside", [](Inputs& in) { put(in.stub, kRsrc + 184, 0x9000); },
     {PackErrorKind::Stub, "its resource data at RVA 0x9000 (0x40 bytes) lies outside the file"}},
    {"rsrc_languages_share_data", [](Inputs& in) { in.stub = stub_with_shared_resource_data(); },
     {PackErrorKind::Stub,
      "its resource directory names 68718428160 bytes of resource data, more than the file's "
      "2625055"}},
    {"rsrc_too_many_entries",
     [](Inputs& in) {
       StubLayout layout = standard_stub();
       layout.sections[4].resources.reset();
       layout.sections[4].data = shared_data_resources(0x5000, 2, 65535, 0);
       in.stub = build_image(layout);
     },
     {PackErrorKind::Stub, "its resource directory has more than 131072 entries"}},
    {"rsrc_names_too_long",
     [](Inputs& in) {
       StubLayout layout = standard_stub();
       ResourceSet& set = *layout.sections[4].resources;
       for (std::uint32_t name = 1; name <= 17; ++name) {
         put_resource(set, Resource{std::u16string(65535, u'N'), name, std::uint32_t{0}, 0,
                                    bytes_of("x")});
       }
       in.stub = build_image(layout);
     },
     {PackErrorKind::Stub,
      "its resource directory names its resources with more than 1048576 characters in all"}},
    {"ico_empty", [](Inputs& in) { in.icon = ByteVec{}; },
     {PackErrorKind::Icon, "only 0 bytes"}},
    {"ico_reserved", [](Inputs& in) { in.icon = from_hex("010001000000"); },
     {PackErrorKind::Icon, "its header's reserved field is 1, not 0"}},
    {"ico_cursor", [](Inputs& in) { in.icon = make_ico({{16, 32, dib_image(16, 8, 0)}}); (*in.icon)[2] = 2; },
     {PackErrorKind::Icon, "its header's type is 2, not 1 (icon)"}},
    {"ico_no_image", [](Inputs& in) { in.icon = from_hex("000001000000"); },
     {PackErrorKind::Icon, "it holds no image"}},
    {"ico_directory_cut", [](Inputs& in) { in.icon = from_hex("00000100020010100000010020000800"); },
     {PackErrorKind::Icon, "its directory of 2 images is cut short"}},
    {"ico_image_outside",
     [](Inputs& in) {
       in.icon = make_ico({{16, 32, dib_image(16, 8, 0)}, {0, 32, png_image()}});
       in.icon->pop_back();
     },
     {PackErrorKind::Icon, "image 2 of 2 (48 bytes at 86) lies outside the file"}},
    {"ico_offset_overflow",
     [](Inputs& in) {
       in.icon = make_ico({{16, 32, dib_image(16, 8, 0)}});
       put(*in.icon, 18, 0xFFFFFFF0);
     },
     {PackErrorKind::Icon, "image 1 of 1 (48 bytes at 4294967280) lies outside the file"}},
    {"ico_images_share_data", [](Inputs& in) { in.icon = ico_with_shared_image(); },
     {PackErrorKind::Icon,
      "its 65535 images total 68718428160 bytes, more than the file's 2097142"}},
    {"ico_not_an_image", [](Inputs& in) { in.icon = make_ico({{16, 32, bytes_of("GIF89a....")}}); },
     {PackErrorKind::Icon, "image 1 of 1 is neither a PNG nor a bitmap with a BITMAPINFOHEADER"}},
    {"version_resource_missing",
     [](Inputs& in) {
       StubLayout layout = standard_stub();
       layout.sections[4].resources->pop_back();  // the version
       in.stub = build_image(layout);
       in.branding.product_name = "Ostrevan";
     },
     {PackErrorKind::Stub, "it has no version resource to change"}},
    {"version_resource_malformed",
     [](Inputs& in) {
       StubLayout layout = standard_stub();
       Resource& version = layout.sections[4].resources->back();
       ByteVec data(version.data.begin(), version.data.end());
       data[6] = 'X';  // the key's first letter
       version.data = data;
       in.stub = build_image(layout);
       in.branding.file_description = "Ostrevan";
     },
     {PackErrorKind::Stub, "its version resource is not a VS_VERSIONINFO block"}},
    {"splash_not_png", [](Inputs& in) { in.splash = bytes_of("GIF89a, 2x2 pixels"); },
     {PackErrorKind::Splash, "it is not a PNG file (no PNG signature)"}},
    {"splash_larger_than_8_mib",
     [](Inputs& in) {
       in.splash = kPngRgba;
       in.splash->resize(8 * 1024 * 1024 + 1);
     },
     {PackErrorKind::Splash, "it is 8388609 bytes, more than 8 MiB"}},
    {"splash_cut_short",
     [](Inputs& in) { in.splash = ByteVec(kPngRgba.begin(), kPngRgba.begin() + 50); },
     {PackErrorKind::Splash, "it is cut short in its IDAT chunk at offset 33"}},
    {"splash_without_iend",
     [](Inputs& in) { in.splash = ByteVec(kPngRgba.begin(), kPngRgba.end() - 12); },
     {PackErrorKind::Splash, "it is cut short before its IEND chunk"}},
    {"splash_bad_crc",
     [](Inputs& in) {
       in.splash = kPngRgba;
       (*in.splash)[41] ^= 1;  // the first byte of IDAT's data
     },
     {PackErrorKind::Splash, "its IDAT chunk at offset 33 has CRC 0x8871A615, not 0x9F59C2D5"}},
    {"splash_first_chunk_not_ihdr",
     [](Inputs& in) {
       // A tEXt chunk (with its right CRC) before IHDR.
       in.splash = from_hex("89504e470d0a1a0a0000000374455874610062dc49a23b");
       in.splash->insert(in.splash->end(), kPngRgba.begin() + 8, kPngRgba.end());
     },
     {PackErrorKind::Splash, "its first chunk is not a 13-byte IHDR"}},
    {"splash_greyscale", [](Inputs& in) { in.splash = kPngGrey; },
     {PackErrorKind::Splash,
      "its colour type is 0; a splash is truecolour, with or without alpha, or palette"}},
    {"splash_too_wide", [](Inputs& in) { in.splash = kPngTooWide; },
     {PackErrorKind::Splash, "it is 2049x1 pixels; a splash is at most 2048x2048"}},
    {"splash_not_decodable", [](Inputs& in) { in.splash = kPngNotZlib; },
     {PackErrorKind::Splash, "its image data does not decode: bad zlib header"}},
};

class PackRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(PackRefusal, NamesTheRuleBroken) {
  Inputs in;
  GetParam().change(in);
  const auto packed = pack_inputs(in);
  ASSERT_FALSE(packed.has_value());
  EXPECT_EQ(packed.error(), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(AllRules, PackRefusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// The command: exit status and both streams exactly, the output whole or absent.

std::string utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

fs::path from_utf8(std::string_view text) { return fs::path(std::u8string(text.begin(), text.end())); }

void write_file(const fs::path& path, const ByteVec& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

ByteVec read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> folder_listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(utf8(entry.path().filename()));
  std::sort(names.begin(), names.end());
  return names;
}

// The reason the system gives for a missing file or folder, as the tool words it.
std::string missing_reason(bool folder) {
#ifdef _WIN32
  return display_form(Error::os(folder ? 3 : 2));
#else
  (void)folder;
  return "No such file or directory";
#endif
}

// A scratch folder of this process's own, so that test runs of other build trees on the same
// machine do not meet in it.
fs::path scratch_root() {
#ifdef _WIN32
  const int pid = _getpid();
#else
  const int pid = static_cast<int>(getpid());
#endif
  return fs::temp_directory_path() / ("brevlo_pack_test_" + std::to_string(pid));
}

class PackTool : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = scratch_root();
    fs::remove_all(root_);
    dir_ = root_ / from_utf8("Été 2026");
    fs::create_directories(dir_);
    write_file(dir_ / "stub.exe", inputs_.stub);
    write_file(dir_ / "game.json", inputs_.config);
    write_file(dir_ / "setup.exe", inputs_.installer);
  }
  void TearDown() override { fs::remove_all(root_); }

  std::string path(std::string_view name) const { return utf8(dir_ / from_utf8(name)); }

  std::vector<std::string> command(std::string_view out = "Ostrevan.exe") const {
    return {"--stub", path("stub.exe"), "--config", path("game.json"), "--installer",
            path("setup.exe"), "--out", path(out)};
  }

  ToolOutcome run(std::vector<std::string> args) const { return run_pack_tool(args); }

  static ToolOutcome refused(int status, const std::string& line) { return {status, "", line + "\n"}; }

  fs::path root_, dir_;
  Inputs inputs_;
};

TEST_F(PackTool, WritesTheLauncherSilentlyAndLeavesNothingElse) {
  EXPECT_EQ(run(command()), ToolOutcome{});
  EXPECT_EQ(read_file(dir_ / "Ostrevan.exe"), packed_bytes(inputs_));
  EXPECT_EQ(folder_listing(dir_),
            (std::vector<std::string>{"Ostrevan.exe", "game.json", "setup.exe", "stub.exe"}));
}

TEST_F(PackTool, ReplacesAnExistingOutputAndTakesItsOwnOutputAsStub) {
  write_file(dir_ / "Ostrevan.exe", bytes_of("old launcher"));
  auto args = command();
  args.insert(args.end(), {"--product-name", "奥斯特万", "--version", "1.2"});
  ASSERT_EQ(run(args), ToolOutcome{});
  const ByteVec first = read_file(dir_ / "Ostrevan.exe");
  args[1] = path("Ostrevan.exe");
  ASSERT_EQ(run(args), ToolOutcome{});
  EXPECT_EQ(read_file(dir_ / "Ostrevan.exe"), first);
  Inputs in = inputs_;
  in.branding.product_name = "奥斯特万";
  in.branding.version = Version{"1.2", {1, 2, 0, 0}};
  EXPECT_EQ(first, packed_bytes(in));
}

TEST_F(PackTool, RefusalLeavesTheOutputAsItWas) {
  write_file(dir_ / "game.json", bytes_of("{}"));
  write_file(dir_ / "Ostrevan.exe", bytes_of("old launcher"));
  EXPECT_EQ(run(command()),
            refused(1, "无法解析 game.json: Error(\"missing field `mainBinaryName`\", line: 1, "
                       "column: 2)"));
  EXPECT_EQ(read_file(dir_ / "Ostrevan.exe"), bytes_of("old launcher"));
  EXPECT_EQ(folder_listing(dir_),
            (std::vector<std::string>{"Ostrevan.exe", "game.json", "setup.exe", "stub.exe"}));
}

TEST_F(PackTool, EachRefusalLineNamesTheFile) {
  write_file(dir_ / "notes.txt", bytes_of("not an executable, 32 bytes long"));
  write_file(dir_ / "game.ico", from_hex("000002000100"));
  auto args = command();
  args[5] = path("notes.txt");
  EXPECT_EQ(run(args), refused(1, "brevlo-pack: " + path("notes.txt") +
                                      " is not a Windows executable: only 32 bytes"));
  args = command();
  args[1] = path("setup.exe");
  EXPECT_EQ(run(args), refused(1, "brevlo-pack: " + path("setup.exe") +
                                      " is not a brevlo stub: machine 0xE4DD, not x64 (0x8664)"));
  args = command();
  args.insert(args.end(), {"--icon", path("game.ico")});
  EXPECT_EQ(run(args), refused(1, "brevlo-pack: " + path("game.ico") +
                                      " is not a valid .ico: its header's type is 2, not 1 (icon)"));
  args = command();
  args.insert(args.end(), {"--version", "1.2.3.4.5"});
  EXPECT_EQ(run(args), refused(1, "brevlo-pack: --version 1.2.3.4.5 is not 1 to 4 numbers from 0 "
                                  "to 65535 separated by dots"));
  // An installer over 2 GiB, told from its size: the file is sparse past its headers.
  write_file(dir_ / "big.exe", inputs_.installer);
  fs::resize_file(dir_ / "big.exe", (std::uint64_t{1} << 31) + 1);
  args = command();
  args[5] = path("big.exe");
  EXPECT_EQ(run(args), refused(1, "brevlo-pack: " + path("big.exe") +
                                      " is too large: 2147483649 bytes, more than the 2147483648 "
                                      "(2 GiB) an installer may have"));
  write_file(dir_ / "splash.png", kPngGrey);
  args = command();
  args.insert(args.end(), {"--splash", path("splash.png")});
  EXPECT_EQ(run(args), refused(1, "brevlo-pack: " + path("splash.png") +
                                      " is not a usable splash image: its colour type is 0; a "
                                      "splash is truecolour, with or without alpha, or palette"));
  EXPECT_FALSE(fs::exists(dir_ / "Ostrevan.exe"));
}

TEST_F(PackTool, UnreadableInputsAndUnwritableOutputExitWith2) {
  auto args = command();
  args[3] = path("missing.json");
  EXPECT_EQ(run(args), refused(2, "brevlo-pack: cannot read " + path("missing.json") + ": " +
                                      missing_reason(false)));
  args = command("no such folder/Ostrevan.exe");
  EXPECT_EQ(run(args), refused(2, "brevlo-pack: cannot write " + path("no such folder/Ostrevan.exe") +
                                      ": " + missing_reason(true)));
  EXPECT_EQ(folder_listing(dir_), (std::vector<std::string>{"game.json", "setup.exe", "stub.exe"}));
}

TEST_F(PackTool, OptionsAreRecordedInTheirSectionInAnyOrder) {
  struct Row {
    std::vector<std::string> flags;
    bool failure_dialog, support_log, branded_name, splash;
  };
  write_file(dir_ / "splash.png", kPngRgba);
  const Row rows[] = {
      {{}, false, false, false, false},
      {{"--failure-dialog"}, true, false, false, false},
      {{"--support-log"}, false, true, false, false},
      {{"--support-log", "--failure-dialog"}, true, true, false, false},
      {{"--product-name", "奥斯特雷文"}, false, false, true, false},
      {{"--failure-dialog", "--product-name", "Ostrevan"}, true, false, true, false},
      {{"--file-description", "Ostrevan"}, false, false, false, false},
      {{"--splash", path("splash.png")}, false, false, false, true},
      {{"--splash", path("splash.png"), "--failure-dialog"}, true, false, false, true},
  };
  for (const Row& row : rows) {
    auto args = row.flags;
    const auto rest = command();
    args.insert(args.end(), rest.begin(), rest.end());
    ASSERT_EQ(run(args), ToolOutcome{});
    const ByteVec out = read_file(dir_ / "Ostrevan.exe");
    const auto table = section_table(out);
    const auto section = std::ranges::find_if(
        table, [](const SectionHeader& h) { return section_name(h) == ".brvopt"; });
    ASSERT_NE(section, table.end());
    const auto options = decode_pack_options(
        std::span(out).subspan(section->PointerToRawData, section->VirtualSize));
    ASSERT_TRUE(options.has_value());
    EXPECT_EQ(std::tuple(options->failure_dialog, options->support_log, options->branded_name,
                         options->splash),
              std::tuple(row.failure_dialog, row.support_log, row.branded_name, row.splash))
        << ::testing::PrintToString(row.flags);
  }
  auto args = command();
  args.push_back("--support-log");
  args.push_back("--support-log");
  EXPECT_EQ(run(args), refused(2, "brevlo-pack: --support-log given twice; brevlo-pack --help "
                                  "shows the usage"));
}

TEST(Inspect, WholeLauncherFactsAsTextAndJson) {
  struct Row {
    PackOptions options;
    std::string_view dialog_text, log_text, dialog_json, log_json;
    bool splash = false;
  };
  const Row rows[] = {
      {{}, "no", "no", "false", "false"},
      {{.failure_dialog = true}, "yes", "no", "true", "false"},
      {{.support_log = true}, "no", "yes", "false", "true"},
      {{}, "no", "no", "false", "false", true},
  };
  for (const Row& row : rows) {
    Inputs in;
    in.branding.product_name = "Ostrevan 奥斯特万";
    in.branding.version = Version{"2.1", {2, 1, 0, 0}};
    in.options = row.options;
    if (row.splash) in.splash = kPngRgba;
    const ByteVec out = packed_bytes(in);
    const auto facts = inspect_launcher(out);
    ASSERT_TRUE(facts.has_value()) << facts.error();
    const Bytes image_pieces[] = {in.installer};
    const std::string sha = hex_digits(*digest_of(DigestAlgorithm::Sha256, image_pieces));
    const std::string xxh3 = hex_digits(image_digest(in.installer));
    const auto version = read_version_info(find(*resources_of(out), kRtVersion, 1)->data);
    ASSERT_TRUE(version.has_value());
    const std::string description = wtf8_from_utf16(version->file_description);
    EXPECT_EQ(facts_text(*facts),
              "stub-version: none\n"
              "main-binary-name: Ostrevan\n"
              "product-name: Ostrevan\n"
              "game-path: %LOCALAPPDATA%\\Ostrevan\\Ostrevan.exe\n"
              "installer-size: " + std::to_string(in.installer.size()) + "\n"
              "installer-sha256: " + sha + "\n"
              "installer-xxh3: " + xxh3 + "\n"
              "installer-signature: absent\n"
              "icon-sizes: 2x2\n"
              "version-file-description: " + description + "\n"
              "version-product-name: Ostrevan 奥斯特万\n"
              "version-product-version: 2.1\n"
              "version-file-version: 2.1\n"
              "option-failure-dialog: " + std::string(row.dialog_text) + "\n"
              "option-support-log: " + std::string(row.log_text) + "\n" +
                  (row.splash ? "splash: 2x2, 40 bytes\n" : "splash: none\n") +
                  "signature: absent\n");
    EXPECT_EQ(facts_json(*facts),
              "{\"stubVersion\":null,\"mainBinaryName\":\"Ostrevan\",\"productName\":\"Ostrevan\","
              "\"gamePath\":\"%LOCALAPPDATA%\\\\Ostrevan\\\\Ostrevan.exe\",\"installer\":{\"size\":" +
                  std::to_string(in.installer.size()) + ",\"sha256\":\"" + sha +
                  "\",\"xxh3\":\"" + xxh3 + "\",\"signature\":\"absent\"},\"iconSizes\":[\"2x2\"],"
                  "\"version\":{\"fileDescription\":\"" + description +
                  "\",\"productName\":\"Ostrevan 奥斯特万\",\"productVersion\":\"2.1\","
                  "\"fileVersion\":\"2.1\"},\"options\":{\"failureDialog\":" +
                  std::string(row.dialog_json) + ",\"supportLog\":" + std::string(row.log_json) +
                  "},\"splash\":" +
                  (row.splash ? "{\"width\":2,\"height\":2,\"bytes\":40}" : "null") +
                  ",\"signature\":null}\n");
  }
}

// Facts a launcher without a version resource and with a signature shows, control characters
// in its texts escaped in the text form.
TEST(Inspect, SignedFactsWithoutVersionStrings) {
  LauncherFacts facts;
  facts.stub_version = "1.0.0";
  facts.main_binary_name = "Ostrevan";
  facts.product_name = "Ost\x01revan";
  facts.game_path = "%LOCALAPPDATA%\\Ost\x01revan\\Ostrevan.exe";
  facts.installer_size = 7;
  facts.installer_sha256 = "ab";
  facts.installer_xxh3 = "cd";
  facts.installer_signature = "malformed";
  facts.icon_sizes = {"16x16", "256x256"};
  facts.signature = SignatureFacts{"CN=Ostrevan Games", "sha256"};
  EXPECT_EQ(facts_text(facts),
            "stub-version: 1.0.0\n"
            "main-binary-name: Ostrevan\n"
            "product-name: Ost\\x01revan\n"
            "game-path: %LOCALAPPDATA%\\Ost\\x01revan\\Ostrevan.exe\n"
            "installer-size: 7\n"
            "installer-sha256: ab\n"
            "installer-xxh3: cd\n"
            "installer-signature: malformed\n"
            "icon-sizes: 16x16 256x256\n"
            "version: none\n"
            "option-failure-dialog: no\n"
            "option-support-log: no\n"
            "splash: none\n"
            "signature: present\n"
            "signature-signer: CN=Ostrevan Games\n"
            "signature-digest-algorithm: sha256\n"
            "signature-digest: matches\n"
            "signature-chain: not checked\n");
  EXPECT_EQ(facts_json(facts),
            "{\"stubVersion\":\"1.0.0\",\"mainBinaryName\":\"Ostrevan\",\"productName\":"
            "\"Ost\\u0001revan\",\"gamePath\":\"%LOCALAPPDATA%\\\\Ost\\u0001revan\\\\Ostrevan.exe\","
            "\"installer\":{\"size\":7,\"sha256\":\"ab\",\"xxh3\":\"cd\",\"signature\":"
            "\"malformed\"},\"iconSizes\":[\"16x16\",\"256x256\"],\"version\":null,\"options\":"
            "{\"failureDialog\":false,\"supportLog\":false},\"splash\":null,\"signature\":{\"signer\":"
            "\"CN=Ostrevan Games\",\"digestAlgorithm\":\"sha256\",\"digest\":\"matches\","
            "\"chain\":\"not checked\"}}\n");
}

// A certificate table of `size` bytes at `gap` bytes after the end of image, its entry's length,
// revision and type as given, pointed at by the security directory.
void append_certificate(ByteVec& image, std::uint32_t gap, std::uint32_t length,
                        std::uint16_t revision, std::uint16_t type, std::uint32_t size = 16) {
  const auto at = static_cast<std::uint32_t>(image.size() + gap);
  image.resize(at + size, 0);
  put(image, at, length);
  write_at(image, at + 4, revision);
  write_at(image, at + 6, type);
  edit_optional(image, [&](OptionalHeader64& oh) { oh.DataDirectory[kDirSecurity] = {at, size}; });
}

// A stub whose mark section is larger in memory than in the file (the loader fills the rest with
// zeros) packs to a launcher that inspects whole.
TEST(Inspect, MarkSectionLargerInMemoryThanInTheFile) {
  StubLayout layout = standard_stub();
  layout.sections[2].data = bytes_of(std::string_view("brevlo-stub/1\0\0\0" "2.0.0", 21));
  layout.sections[2].virtual_size = 0x400;
  Inputs in;
  in.stub = build_image(layout);
  const auto facts = inspect_launcher(packed_bytes(in));
  ASSERT_TRUE(facts.has_value()) << facts.error();
  EXPECT_EQ(facts->stub_version, "2.0.0");
}

TEST(Inspect, DamagedLaunchersNameWhatIsWrong) {
  const Inputs in;
  const ByteVec good = packed_bytes(in);
  const auto section_at = [&](std::string_view name) {
    for (const SectionHeader& h : section_table(good)) {
      if (section_name(h) == name) return std::pair<std::size_t, std::size_t>(h.PointerToRawData, h.VirtualSize);
    }
    return std::pair<std::size_t, std::size_t>(0, 0);
  };
  const std::string recorded = hex_digits(image_digest(in.installer));
  struct Row {
    std::string name;
    std::function<void(ByteVec&)> damage;
    std::string want;
  };
  const Row rows[] = {
      {"bare_stub", [&](ByteVec& b) { b = in.stub; },
       "not a packed launcher: it lacks a .brvcfg, .brvimg or .brvopt section (a bare stub?)"},
      {"not_pe", [](ByteVec& b) { b = bytes_of("#!/bin/sh\n"); },
       "not a brevlo launcher: no MZ header"},
      {"truncated", [](ByteVec& b) { b.resize(b.size() - 0x100); },
       "sections out of place: section .reloc has data (0x200 bytes at 0x1600) beyond the end of "
       "the file"},
      {"trailing_bytes", [](ByteVec& b) { b.resize(b.size() + 16); },
       "sections out of place: 16 bytes follow the last section"},
      {"image_byte_flipped",
       [&](ByteVec& b) { b[section_at(".brvimg").first + 5] ^= 1; },
       ""},  // filled below: the digest line
      {"config_damaged", [&](ByteVec& b) { b[section_at(".brvcfg").first] = '['; },
       "game.json does not parse: 无法解析 game.json: Error(\"expected `,` or `]`\", line: 1, "
       "column: 18)"},
      {"options_damaged", [&](ByteVec& b) { b[section_at(".brvopt").first + 20] = 1; },
       "the .brvopt section is damaged"},
      {"splash_flag_without_section", [&](ByteVec& b) { b[section_at(".brvopt").first + 16] |= 8; },
       "the splash option is set but there is no .brvspl section"},
      {"signature_outside_the_file",
       [](ByteVec& b) {
         edit_optional(b, [&](OptionalHeader64& oh) {
           oh.DataDirectory[kDirSecurity] = {static_cast<std::uint32_t>(b.size()), 16};
         });
       },
       "sections out of place: the certificate table does not end the file after the last "
       "section"},
      {"signature_not_pkcs7", [](ByteVec& b) { append_certificate(b, 0, 16, 0, 0); },
       "signature: the certificate table's entry is not a PKCS #7 signature"},
      {"signature_revision_only", [](ByteVec& b) { append_certificate(b, 0, 16, 0x0200, 1); },
       "signature: the certificate table's entry is not a PKCS #7 signature"},
      {"signature_type_only", [](ByteVec& b) { append_certificate(b, 0, 16, 0x0100, 2); },
       "signature: the certificate table's entry is not a PKCS #7 signature"},
      {"signature_entry_longer_than_its_table",
       [](ByteVec& b) { append_certificate(b, 0, 24, 0x0200, 2); },
       "signature: the certificate table's entry does not fit in it"},
      {"signature_entry_over_4_mib",
       [](ByteVec& b) { append_certificate(b, 0, (4 << 20) + 8, 0x0200, 2, (4 << 20) + 8); },
       "signature: the certificate table's entry is larger than 4194304 bytes"},
      {"signature_not_8_byte_aligned", [](ByteVec& b) { append_certificate(b, 4, 16, 0x0200, 2); },
       "sections out of place: the certificate table does not end the file after the last "
       "section"},
      {"resources_share_their_data",
       [](ByteVec& b) {
         StubLayout layout = standard_stub();
         layout.certificate.clear();
         layout.sections[4].resources.reset();
         layout.sections[4].data = shared_data_resources(0x8000, 1, 65535, 1 << 20);
         const auto encoded = encode_pack_options({});
         const ByteVec options(encoded.begin(), encoded.end());
         layout.sections.insert(layout.sections.begin() + 4,
                                {{".brvcfg", kReadOnlyData, bytes_of(kConfig), 0, std::nullopt},
                                 {".brvimg", kReadOnlyData, installer_image(), 0, std::nullopt},
                                 {".brvopt", kReadOnlyData, options, 0, std::nullopt}});
         b = build_image(layout);
       },
       "its resources are malformed: its resource directory names 68718428160 bytes of "
       "resource data, more than the file's 2627072"},
  };
  for (const Row& row : rows) {
    ByteVec bytes = good;
    row.damage(bytes);
    const auto facts = inspect_launcher(bytes);
    ASSERT_FALSE(facts.has_value()) << row.name;
    if (row.name == "image_byte_flipped") {
      ByteVec image = in.installer;
      image[5] ^= 1;
      EXPECT_EQ(facts.error().text, "installer digest mismatch: recorded " + recorded +
                                   ", the image's is " + hex_digits(image_digest(image)));
    } else {
      EXPECT_EQ(facts.error().text, row.want) << row.name;
    }
  }
}

TEST(Inspect, InstallerCertificateTable) {
  // The installer image with a PE32 or PE32+ optional header (magic at 0x58) whose security
  // directory points at a 16-byte entry at 0x200.
  const auto signed_installer = [](std::uint16_t magic, std::uint32_t length,
                                   std::uint16_t revision, std::uint16_t type) {
    ByteVec image = installer_image();
    write_at(image, 0x58, magic);
    const std::size_t count_at = 0x58 + (magic == 0x10B ? 92 : 108);
    put(image, count_at, 16);
    write_at(image, count_at + 4 + kDirSecurity * 8, DataDirectory{0x200, 16});
    put(image, 0x200, length);
    write_at(image, 0x204, revision);
    write_at(image, 0x206, type);
    return image;
  };
  ByteVec few_directories = signed_installer(0x10B, 16, 0x0200, 2);
  put(few_directories, 0x58 + 92, 4);
  const std::pair<ByteVec, std::string_view> rows[] = {
      {installer_image(), "absent"},
      {bytes_of("MZ"), "absent"},
      {signed_installer(0x10B, 16, 0x0200, 2), "present"},
      {signed_installer(0x20B, 16, 0x0200, 2), "present"},
      {signed_installer(0x10B, 16, 0x0200, 1), "malformed"},
      {signed_installer(0x10B, 16, 0x0100, 2), "malformed"},
      {signed_installer(0x20B, 24, 0x0200, 2), "malformed"},
      {few_directories, "absent"},
  };
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    EXPECT_EQ(certificate_table_state(rows[i].first), rows[i].second) << "row " << i;
  }
}

TEST_F(PackTool, InspectExitStatuses) {
  ASSERT_EQ(run(command()), ToolOutcome{});
  const auto facts = inspect_launcher(read_file(dir_ / "Ostrevan.exe"));
  ASSERT_TRUE(facts.has_value()) << facts.error();
  EXPECT_EQ(run({"inspect", path("Ostrevan.exe")}), (ToolOutcome{0, facts_text(*facts), ""}));
  EXPECT_EQ(run({"inspect", "--json", path("Ostrevan.exe")}),
            (ToolOutcome{0, facts_json(*facts), ""}));
  EXPECT_EQ(run({"inspect", path("stub.exe")}),
            refused(1, "brevlo-pack: " + path("stub.exe") +
                           ": not a packed launcher: it lacks a .brvcfg, .brvimg or .brvopt "
                           "section (a bare stub?)"));
  EXPECT_EQ(run({"inspect", path("missing.exe")}),
            refused(2, "brevlo-pack: cannot read " + path("missing.exe") + ": " + missing_reason(false)));
  EXPECT_EQ(run({"inspect"}).status, 2);
  EXPECT_EQ(run({"inspect", "--json", "--json", path("Ostrevan.exe")}).status, 2);
}

TEST(Digests, KnownAnswersWholeAndInPieces) {
  struct Row {
    DigestAlgorithm algorithm;
    std::string_view name, oid, empty, abc;
  };
  const Row rows[] = {
      {DigestAlgorithm::Sha1, "sha1", "1.3.14.3.2.26", "da39a3ee5e6b4b0d3255bfef95601890afd80709",
       "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {DigestAlgorithm::Sha256, "sha256", "2.16.840.1.101.3.4.2.1",
       "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {DigestAlgorithm::Sha384, "sha384", "2.16.840.1.101.3.4.2.2",
       "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51ad2f14898b95b",
       "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
      {DigestAlgorithm::Sha512, "sha512", "2.16.840.1.101.3.4.2.3",
       "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e",
       "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
  };
  const std::uint8_t a[] = {'a'}, bc[] = {'b', 'c'};
  for (const Row& row : rows) {
    EXPECT_EQ(digest_name(row.algorithm), row.name);
    EXPECT_EQ(digest_from_oid(row.oid), row.algorithm);
    const auto empty = digest_of(row.algorithm, {});
    ASSERT_TRUE(empty.has_value()) << empty.error();
    EXPECT_EQ(hex_digits(*empty), row.empty);
    const Bytes pieces[] = {a, {}, bc};
    const auto abc = digest_of(row.algorithm, pieces);
    ASSERT_TRUE(abc.has_value()) << abc.error();
    EXPECT_EQ(hex_digits(*abc), row.abc);
  }
  EXPECT_EQ(digest_from_oid("1.2.840.113549.2.5"), std::nullopt) << "MD5 is not taken";
}

TEST(ImageDigest, KnownAnswersWholeAndInPieces) {
  ByteVec long_input(1000);
  for (std::size_t i = 0; i < long_input.size(); ++i) long_input[i] = static_cast<std::uint8_t>(i * 7);
  const ByteVec abc = {'a', 'b', 'c'};
  struct Row {
    ByteVec input;
    std::vector<std::size_t> cuts;  // where the input is split for the hasher
    std::string_view want;
  };
  const Row rows[] = {
      {{}, {}, "99aa06d3014798d86001c324468d497f"},
      {abc, {1, 1}, "06b05ab6733a618578af5f94892f3950"},
      // Past the hasher's 256-byte internal buffer, split inside and across stripes.
      {long_input, {1, 255, 256, 300, 999}, "abee229cdadad76d10ad30264426c830"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(hex_digits(image_digest(row.input)), row.want);
    ImageHasher hasher;
    std::size_t from = 0;
    for (const std::size_t cut : row.cuts) {
      hasher.update(Bytes(row.input).subspan(from, cut - from));
      from = cut;
    }
    hasher.update(Bytes(row.input).subspan(from));
    EXPECT_EQ(hex_digits(hasher.finish()), row.want) << row.cuts.size() << " cuts";
  }
}

TEST(PackOptionsSection, OnlyAnExactSectionIsRead) {
  PackOptions options;
  options.support_log = true;
  options.image_digest.fill(0xA5);
  const auto good = encode_pack_options(options);
  EXPECT_EQ(decode_pack_options(good), options);
  // Each flag has its own bit and comes back alone.
  for (const auto& [flag, field] : {std::pair{kFailureDialogFlag, &PackOptions::failure_dialog},
                                   std::pair{kSupportLogFlag, &PackOptions::support_log},
                                   std::pair{kBrandedNameFlag, &PackOptions::branded_name},
                                   std::pair{kSplashFlag, &PackOptions::splash}}) {
    PackOptions one;
    one.*field = true;
    const auto bytes = encode_pack_options(one);
    EXPECT_EQ(bytes[16] | bytes[17] << 8 | bytes[18] << 16 | bytes[19] << 24, flag);
    EXPECT_EQ(decode_pack_options(bytes), one);
  }
  struct Row {
    std::string_view name;
    std::function<void(ByteVec&)> damage;
  };
  const Row rows[] = {
      {"empty", [](ByteVec& b) { b.clear(); }},
      {"one byte short", [](ByteVec& b) { b.pop_back(); }},
      {"one byte long", [](ByteVec& b) { b.push_back(0); }},
      {"the first version's mark", [](ByteVec& b) { b[12] = '1'; }},
      {"the mark's last byte", [](ByteVec& b) { b[15] = '?'; }},
      {"unknown flag", [](ByteVec& b) { b[16] |= 16; }},
      {"high flag", [](ByteVec& b) { b[19] = 0x80; }},
      {"reserved word", [](ByteVec& b) { b[23] = 1; }},
  };
  for (const Row& row : rows) {
    ByteVec bytes(good.begin(), good.end());
    row.damage(bytes);
    EXPECT_EQ(decode_pack_options(bytes), std::nullopt) << row.name;
  }
}

// The usage line as a publisher reads it.
const std::string kUsageLine =
    "usage: brevlo-pack --stub STUB.exe --config game.json --installer SETUP.exe --out OUT.exe "
    "[--icon ICON.ico] [--product-name TEXT] [--file-description TEXT] [--version A[.B[.C[.D]]]] "
    "[--failure-dialog] [--support-log] [--splash IMAGE.png]\n"
    "       brevlo-pack inspect [--json] LAUNCHER.exe";

struct MistakeCase {
  const char* what;
  std::size_t kept;                // how many arguments of the full command line stay
  std::vector<std::string> added;  // after them
  ToolOutcome outcome;
};

TEST_F(PackTool, CommandLineMistakes) {
  const std::string help = "; brevlo-pack --help shows the usage\n";
  const std::size_t all = command().size();
  const MistakeCase cases[] = {
      {"no arguments", 0, {}, {2, "", kUsageLine + "\n"}},
      {"--help", 0, {"--help"}, {0, help_text(), ""}},
      {"unknown argument", all, {"--verbose"},
       {2, "", "brevlo-pack: unknown argument --verbose" + help}},
      {"option without its value", all, {"--icon"},
       {2, "", "brevlo-pack: --icon needs a value" + help}},
      {"option given twice", all, {"--stub", "again.exe"},
       {2, "", "brevlo-pack: --stub given twice" + help}},
      {"missing --out", 6, {}, {2, "", "brevlo-pack: missing --out" + help}},
  };
  for (const MistakeCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args = command();
    args.resize(c.kept);
    args.insert(args.end(), c.added.begin(), c.added.end());
    EXPECT_EQ(run(args), c.outcome);
    EXPECT_FALSE(fs::exists(dir_ / "Ostrevan.exe"));
  }
}

}  // namespace
}  // namespace brevlo::pack
