// Branding a launcher: its icon, version strings and splash image; the version and resource
// readers and writers they use.
#include "pack_test_support.hpp"

namespace brevlo::pack {
namespace pack_test {
namespace {

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

const std::string kSplashMark = "627265766c6f2d73706c6173682f3100";  // "brevlo-splash/1"

struct SplashRow {
  const char* name;
  const ByteVec& png;
  std::string section;  // hexadecimal
};

const SplashRow kSplashRows[] = {
    {"TruecolourWithAlpha", kPngRgba,
     kSplashMark + "0200000002000000" "0000ffff" "00800080" "00000000" "1e140aff"},
    {"Palette", kPngPalette, kSplashMark + "0200000001000000" "030201ff" "3264c8ff"},
};

class PackSplash : public ::testing::TestWithParam<SplashRow> {};

TEST_P(PackSplash, PixelsArePremultipliedBgraInTheirSectionAfterTheOptions) {
  const SplashRow& row = GetParam();
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
                                              ".brvimg", ".brvopt", ".brvspl", ".rsrc", ".reloc"}));
  EXPECT_EQ(section, from_hex(row.section));
  const auto facts = inspect_launcher(out);
  ASSERT_TRUE(facts.has_value()) << facts.error();
  EXPECT_TRUE(facts->options.splash);
  ByteVec damaged = out;
  damaged[section_at + 16] = 3;  // a width that does not match the pixels
  const auto refused = inspect_launcher(damaged);
  EXPECT_EQ(refused ? std::string("accepted") : refused.error().text,
            "the .brvspl section is damaged");
  // Packed again as a stub, the launcher loses its splash unless it is given again.
  in.stub = out;
  in.splash.reset();
  EXPECT_EQ(packed_bytes(in), packed_bytes(Inputs{}));
}

INSTANTIATE_TEST_SUITE_P(Rows, PackSplash, ::testing::ValuesIn(kSplashRows),
                         [](const auto& info) { return std::string(info.param.name); });

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

using VersionParts = std::array<std::uint16_t, 4>;

struct VersionCase {
  const char* name;
  std::string_view text;
  std::optional<VersionParts> parts;
};

const VersionCase kVersionCases[] = {
    {"One", "1", VersionParts{1, 0, 0, 0}},
    {"Three", "1.2.3", VersionParts{1, 2, 3, 0}},
    {"FourWithLeadingZeros", "65535.0.007.65535", VersionParts{65535, 0, 7, 65535}},
    {"Empty", "", std::nullopt},
    {"TrailingDot", "1.", std::nullopt},
    {"LeadingDot", ".1", std::nullopt},
    {"EmptyPart", "1..2", std::nullopt},
    {"FiveParts", "1.2.3.4.5", std::nullopt},
    {"Over65535", "65536", std::nullopt},
    {"Huge", "99999999999999999999", std::nullopt},
    {"Minus", "-1", std::nullopt},
    {"Plus", "+1", std::nullopt},
    {"LeadingSpace", " 1", std::nullopt},
    {"Comma", "1,2", std::nullopt},
    {"TrailingLetter", "1.2a", std::nullopt},
};

class VersionText : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionText, IsOneToFourNumbersUpTo65535) {
  EXPECT_EQ(parse_version(GetParam().text), GetParam().parts) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Rows, VersionText, ::testing::ValuesIn(kVersionCases),
                         [](const auto& info) { return std::string(info.param.name); });

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

}  // namespace
}  // namespace pack_test
}  // namespace brevlo::pack
