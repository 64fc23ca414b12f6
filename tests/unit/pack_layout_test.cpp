// brevlo-pack over synthetic stubs: the layout of a packed launcher, its checksum, repacking.
#include "pack_test_support.hpp"

namespace brevlo::pack {
namespace pack_test {
namespace {

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

// Sizes the format's 32-bit fields can hold, and one byte past them. A size of kRoom + n is n
// bytes past the room the stub leaves up to the last aligned page below 4 GiB.
constexpr std::uint64_t kRoom = std::uint64_t{1} << 40;

struct SizeRow {
  const char* name;
  std::vector<std::pair<std::string_view, std::uint64_t>> tail;  // section name, size
  bool fits;
};

const SizeRow kSizeRows[] = {
    {"Installer2GiB", {{".brvimg", std::uint64_t{1} << 31}}, true},
    {"InstallerFillingTheRoom", {{".brvimg", kRoom}}, true},
    {"InstallerOneBytePastTheRoom", {{".brvimg", kRoom + 1}}, false},
    {"Installer2GiBAndResources2GiB",
     {{".brvimg", std::uint64_t{1} << 31}, {".rsrc", std::uint64_t{1} << 31}}, false},
};

class PackLayoutSize : public ::testing::TestWithParam<SizeRow> {};

TEST_P(PackLayoutSize, FitsTheFormatsSizesOrIsRefused) {
  const ByteVec image = build_image(standard_stub());
  const auto stub = read_stub(image);
  ASSERT_TRUE(stub.has_value()) << stub.error().text;
  const std::uint64_t room = 0xFFFFF000 - stub->kept_virtual_end;  // up to the last aligned page
  std::vector<TailSection> tail;
  for (const auto& [name, size] : GetParam().tail) {
    tail.push_back({name, name == ".rsrc" ? kData : kReadOnlyData,
                    size >= kRoom ? room + (size - kRoom) : size});
  }
  const auto layout = lay_out(*stub, tail);
  EXPECT_EQ(layout.has_value(), GetParam().fits);
  if (!layout) {
    EXPECT_EQ(layout.error(), (PackError{PackErrorKind::Output,
                                         "the packed launcher would be larger than 4 GiB"}));
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, PackLayoutSize, ::testing::ValuesIn(kSizeRows),
                         [](const auto& info) { return std::string(info.param.name); });

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

}  // namespace
}  // namespace pack_test
}  // namespace brevlo::pack
