// Every refusal of pack's inputs with its exact reason.
#include "pack_test_support.hpp"

namespace brevlo::pack {
namespace pack_test {
namespace {

// Refusals: one line naming the input and the rule it breaks.

struct RefusalCase {
  const char* name;
  std::function<void(Inputs&)> change;
  PackError want;
};




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

}  // namespace
}  // namespace pack_test
}  // namespace brevlo::pack
