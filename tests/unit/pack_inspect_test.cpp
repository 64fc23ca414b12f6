// brevlo-pack inspect: the facts of whole launchers and what it names wrong in damaged ones.
#include "pack_test_support.hpp"

namespace brevlo::pack {
namespace pack_test {
namespace {

struct FactsRow {
  const char* name;
  PackOptions options;
  std::string_view dialog_text, log_text, dialog_json, log_json;
  bool splash = false;
};

const FactsRow kFactsRows[] = {
    {"NoOptions", {}, "no", "no", "false", "false"},
    {"FailureDialog", {.failure_dialog = true}, "yes", "no", "true", "false"},
    {"SupportLog", {.support_log = true}, "no", "yes", "false", "true"},
    {"Splash", {}, "no", "no", "false", "false", true},
};

class InspectWhole : public ::testing::TestWithParam<FactsRow> {};

TEST_P(InspectWhole, FactsAsTextAndJson) {
  const FactsRow& row = GetParam();
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

INSTANTIATE_TEST_SUITE_P(Rows, InspectWhole, ::testing::ValuesIn(kFactsRows),
                         [](const auto& info) { return std::string(info.param.name); });

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

// Where the section of that name starts in the file, 0 when there is none.
std::size_t section_offset(const ByteVec& image, std::string_view name) {
  for (const SectionHeader& h : section_table(image)) {
    if (section_name(h) == name) return h.PointerToRawData;
  }
  return 0;
}

struct DamageRow {
  std::string name;
  std::function<void(ByteVec&, const Inputs&)> damage;  // on a copy of the launcher packed from in
  std::string want;
};

const DamageRow kDamages[] = {
    {"bare_stub", [](ByteVec& b, const Inputs& in) { b = in.stub; },
     "not a packed launcher: it lacks a .brvcfg, .brvimg or .brvopt section (a bare stub?)"},
    {"not_pe", [](ByteVec& b, const Inputs&) { b = bytes_of("#!/bin/sh\n"); },
     "not a brevlo launcher: no MZ header"},
    {"truncated", [](ByteVec& b, const Inputs&) { b.resize(b.size() - 0x100); },
     "sections out of place: section .reloc has data (0x200 bytes at 0x1600) beyond the end of "
     "the file"},
    {"trailing_bytes", [](ByteVec& b, const Inputs&) { b.resize(b.size() + 16); },
     "sections out of place: 16 bytes follow the last section"},
    {"image_byte_flipped",
     [](ByteVec& b, const Inputs&) { b[section_offset(b, ".brvimg") + 5] ^= 1; },
     ""},  // the digest line, made in the test from the installer
    {"config_damaged", [](ByteVec& b, const Inputs&) { b[section_offset(b, ".brvcfg")] = '['; },
     "game.json does not parse: 无法解析 game.json: Error(\"expected `,` or `]`\", line: 1, "
     "column: 18)"},
    {"options_damaged", [](ByteVec& b, const Inputs&) { b[section_offset(b, ".brvopt") + 20] = 1; },
     "the .brvopt section is damaged"},
    {"splash_flag_without_section", [](ByteVec& b, const Inputs&) { b[section_offset(b, ".brvopt") + 16] |= 8; },
     "the splash option is set but there is no .brvspl section"},
    {"signature_outside_the_file",
     [](ByteVec& b, const Inputs&) {
       edit_optional(b, [&](OptionalHeader64& oh) {
         oh.DataDirectory[kDirSecurity] = {static_cast<std::uint32_t>(b.size()), 16};
       });
     },
     "sections out of place: the certificate table does not end the file after the last "
     "section"},
    {"signature_not_pkcs7", [](ByteVec& b, const Inputs&) { append_certificate(b, 0, 16, 0, 0); },
     "signature: the certificate table's entry is not a PKCS #7 signature"},
    {"signature_revision_only", [](ByteVec& b, const Inputs&) { append_certificate(b, 0, 16, 0x0200, 1); },
     "signature: the certificate table's entry is not a PKCS #7 signature"},
    {"signature_type_only", [](ByteVec& b, const Inputs&) { append_certificate(b, 0, 16, 0x0100, 2); },
     "signature: the certificate table's entry is not a PKCS #7 signature"},
    {"signature_entry_longer_than_its_table",
     [](ByteVec& b, const Inputs&) { append_certificate(b, 0, 24, 0x0200, 2); },
     "signature: the certificate table's entry does not fit in it"},
    {"signature_entry_over_4_mib",
     [](ByteVec& b, const Inputs&) { append_certificate(b, 0, (4 << 20) + 8, 0x0200, 2, (4 << 20) + 8); },
     "signature: the certificate table's entry is larger than 4194304 bytes"},
    {"signature_not_8_byte_aligned", [](ByteVec& b, const Inputs&) { append_certificate(b, 4, 16, 0x0200, 2); },
     "sections out of place: the certificate table does not end the file after the last "
     "section"},
    {"resources_share_their_data",
     [](ByteVec& b, const Inputs&) {
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

class InspectDamaged : public ::testing::TestWithParam<DamageRow> {};

TEST_P(InspectDamaged, NamesWhatIsWrong) {
  const DamageRow& row = GetParam();
  const Inputs in;
  ByteVec bytes = packed_bytes(in);
  row.damage(bytes, in);
  const auto facts = inspect_launcher(bytes);
  ASSERT_FALSE(facts.has_value());
  if (row.name == "image_byte_flipped") {
    ByteVec image = in.installer;
    image[5] ^= 1;
    EXPECT_EQ(facts.error().text, "installer digest mismatch: recorded " +
                                      hex_digits(image_digest(in.installer)) + ", the image's is " +
                                      hex_digits(image_digest(image)));
  } else {
    EXPECT_EQ(facts.error().text, row.want);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, InspectDamaged, ::testing::ValuesIn(kDamages),
                         [](const auto& info) { return info.param.name; });

// The installer image with a PE32 or PE32+ optional header (magic at 0x58) whose security
// directory points at a 16-byte entry at 0x200.
ByteVec signed_installer(std::uint16_t magic, std::uint32_t length, std::uint16_t revision,
                         std::uint16_t type) {
  ByteVec image = installer_image();
  write_at(image, 0x58, magic);
  const std::size_t count_at = 0x58 + (magic == 0x10B ? 92 : 108);
  put(image, count_at, 16);
  write_at(image, count_at + 4 + kDirSecurity * 8, DataDirectory{0x200, 16});
  put(image, 0x200, length);
  write_at(image, 0x204, revision);
  write_at(image, 0x206, type);
  return image;
}

// A signed PE32 installer whose optional header has only 4 data directories: none for security.
ByteVec few_directories() {
  ByteVec image = signed_installer(0x10B, 16, 0x0200, 2);
  put(image, 0x58 + 92, 4);
  return image;
}

struct CertificateRow {
  const char* name;
  ByteVec image;
  std::string_view state;
};

const CertificateRow kCertificateRows[] = {
    {"Unsigned", installer_image(), "absent"},
    {"NotPe", bytes_of("MZ"), "absent"},
    {"SignedPe32", signed_installer(0x10B, 16, 0x0200, 2), "present"},
    {"SignedPe32Plus", signed_installer(0x20B, 16, 0x0200, 2), "present"},
    {"NotPkcs7Type", signed_installer(0x10B, 16, 0x0200, 1), "malformed"},
    {"OldRevision", signed_installer(0x10B, 16, 0x0100, 2), "malformed"},
    {"EntryLongerThanItsTable", signed_installer(0x20B, 24, 0x0200, 2), "malformed"},
    {"NoSecurityDirectory", few_directories(), "absent"},
};

class InstallerCertificateTable : public ::testing::TestWithParam<CertificateRow> {};

TEST_P(InstallerCertificateTable, State) {
  EXPECT_EQ(certificate_table_state(GetParam().image), GetParam().state);
}

INSTANTIATE_TEST_SUITE_P(Rows, InstallerCertificateTable, ::testing::ValuesIn(kCertificateRows),
                         [](const auto& info) { return std::string(info.param.name); });


}  // namespace
}  // namespace pack_test
}  // namespace brevlo::pack
