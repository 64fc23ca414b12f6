#include "pack/inspect.hpp"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>

#include "core/config/config.hpp"
#include "pack/digest.hpp"
#include "pack/pe_layout.hpp"
#include "pack/resources.hpp"
#include "pack/signature.hpp"
#include "pack/version_info.hpp"
#include "platform/debug_form.hpp"
#include "platform/text.hpp"

namespace brevlo::pack {
namespace {

// WIN_CERTIFICATE: one entry of the certificate table, its length counting this header.
struct WinCertificate {
  std::uint32_t dwLength;
  std::uint16_t wRevision;
  std::uint16_t wCertificateType;
};
static_assert(sizeof(WinCertificate) == 8);
constexpr std::uint16_t kCertificateRevision2 = 0x0200;
constexpr std::uint16_t kCertificatePkcsSignedData = 0x0002;
// Where PE32 and PE32+ optional headers keep their data directories.
constexpr std::size_t kPe32DirectoriesAt = 96;
constexpr std::uint16_t kPe32Magic = 0x10B;

std::unexpected<std::string> wrong(std::string reason) { return std::unexpected(std::move(reason)); }

// The certificate table's single PKCS #7 entry at dir (file offset and size), or why not.
std::expected<Bytes, std::string> certificate_entry(Bytes file, DataDirectory dir) {
  if (!fits(dir.VirtualAddress, dir.Size, file.size())) {
    return wrong("the certificate table lies outside the file");
  }
  const auto entry = read_at<WinCertificate>(file, dir.VirtualAddress);
  if (!entry || entry->dwLength < sizeof(WinCertificate) || entry->dwLength > dir.Size) {
    return wrong("the certificate table's entry does not fit in it");
  }
  if (entry->wRevision != kCertificateRevision2 ||
      entry->wCertificateType != kCertificatePkcsSignedData) {
    return wrong("the certificate table's entry is not a PKCS #7 signature");
  }
  return file.subspan(dir.VirtualAddress + sizeof(WinCertificate),
                      entry->dwLength - sizeof(WinCertificate));
}

// The section's content, the first VirtualSize bytes of its file data.
std::expected<Bytes, std::string> section_content(Bytes file, const SectionHeader& section) {
  if (section.VirtualSize > section.SizeOfRawData ||
      !fits(section.PointerToRawData, section.SizeOfRawData, file.size())) {
    return wrong("sections out of place: section " + std::string(section_name(section)) +
                 " does not lie whole in the file");
  }
  return file.subspan(section.PointerToRawData, section.VirtualSize);
}

std::string utf8(const std::u16string& text) { return wtf8_from_utf16(text); }

// The group icon's image sizes, "WxH" each (a 0 in the directory means 256).
std::expected<std::vector<std::string>, std::string> icon_sizes(const ResourceSet& resources) {
  std::vector<std::string> sizes;
  for (const Resource& resource : resources) {
    if (resource.type != ResourceId(std::uint32_t{kRtGroupIcon})) continue;
    const auto dir = read_at<IconDir>(resource.data, 0);
    if (!dir) return wrong("its group icon is cut short");
    for (std::size_t i = 0; i < dir->idCount; ++i) {
      const auto entry =
          read_at<GroupIconDirEntry>(resource.data, sizeof(IconDir) + i * sizeof(GroupIconDirEntry));
      if (!entry) return wrong("its group icon is cut short");
      sizes.push_back(std::to_string(entry->bWidth == 0 ? 256 : entry->bWidth) + "x" +
                      std::to_string(entry->bHeight == 0 ? 256 : entry->bHeight));
    }
    break;  // the first group icon is the one Explorer shows
  }
  return sizes;
}

void put_text(rapidjson::Writer<rapidjson::StringBuffer>& out, const std::string& text) {
  out.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}

void put_optional(rapidjson::Writer<rapidjson::StringBuffer>& out,
                  const std::optional<std::string>& text) {
  if (text) {
    put_text(out, *text);
  } else {
    out.Null();
  }
}

std::string escaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out += "0123456789abcdef"[byte >> 4];
      out += "0123456789abcdef"[byte & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string certificate_table_state(Bytes image) {
  const auto dos = read_at<DosHeader>(image, 0);
  if (!dos || dos->e_magic != kDosMagic) return "absent";
  const std::uint64_t optional_at = std::uint64_t{dos->e_lfanew} + 4 + sizeof(FileHeader);
  const auto magic = read_at<std::uint16_t>(image, optional_at);
  if (!magic || (*magic != kPe32Magic && *magic != kPe32PlusMagic)) return "absent";
  const std::size_t directories_at =
      *magic == kPe32Magic ? kPe32DirectoriesAt : offsetof(OptionalHeader64, DataDirectory);
  const auto count = read_at<std::uint32_t>(image, optional_at + directories_at - 4);
  if (!count || *count <= kDirSecurity) return "absent";
  const auto dir =
      read_at<DataDirectory>(image, optional_at + directories_at + kDirSecurity * sizeof(DataDirectory));
  if (!dir || dir->Size == 0) return "absent";
  return certificate_entry(image, *dir) ? "present" : "malformed";
}

std::expected<LauncherFacts, std::string> inspect_launcher(Bytes file) {
  const auto stub = read_stub(file);
  if (!stub) {
    return wrong(stub.error().kind == StubRefusal::Kind::NotAStub
                     ? "not a brevlo launcher: " + stub.error().reason
                     : "sections out of place: " + stub.error().reason);
  }
  LauncherFacts facts;
  const SectionHeader* config = nullptr;
  const SectionHeader* image = nullptr;
  const SectionHeader* options = nullptr;
  const SectionHeader* splash = nullptr;
  std::uint64_t sections_end = stub->optional_header.SizeOfHeaders;
  for (const SectionHeader& section : stub->sections) {
    const std::string_view name = section_name(section);
    if (name == kConfigSectionName) config = &section;
    if (name == kImageSectionName) image = &section;
    if (name == kOptionsSectionName) options = &section;
    if (name == kSplashSectionName) splash = &section;
    if (section.SizeOfRawData != 0) {
      sections_end = std::max<std::uint64_t>(
          sections_end, std::uint64_t{section.PointerToRawData} + section.SizeOfRawData);
    }
    if (name == kStubMarkSection) {
      const auto mark = section_content(file, section);
      if (!mark) return wrong(mark.error());
      const auto text = mark->subspan(std::min(mark->size(), kStubMagic.size()));
      const auto end = std::find(text.begin(), text.end(), std::uint8_t{0});
      facts.stub_version.assign(text.begin(), end);
    }
  }
  if (config == nullptr || image == nullptr || options == nullptr) {
    return wrong("not a packed launcher: it lacks a .brvcfg, .brvimg or .brvopt section "
                 "(a bare stub?)");
  }
  const auto config_bytes = section_content(file, *config);
  if (!config_bytes) return wrong(config_bytes.error());
  const auto image_bytes = section_content(file, *image);
  if (!image_bytes) return wrong(image_bytes.error());
  const auto options_bytes = section_content(file, *options);
  if (!options_bytes) return wrong(options_bytes.error());

  // What follows the sections: nothing, or the certificate table, 8-byte aligned, to the end.
  const DataDirectory certificates = stub->optional_header.DataDirectory[kDirSecurity];
  if (certificates.Size == 0) {
    if (file.size() != sections_end) {
      return wrong("sections out of place: " + std::to_string(file.size() - sections_end) +
                   " bytes follow the last section");
    }
  } else if (certificates.VirtualAddress < sections_end || certificates.VirtualAddress % 8 != 0 ||
             std::uint64_t{certificates.VirtualAddress} + certificates.Size != file.size()) {
    return wrong("sections out of place: the certificate table does not end the file after the "
                 "last section");
  }

  const auto game = parse_game_config(
      std::span(reinterpret_cast<const char*>(config_bytes->data()), config_bytes->size()));
  if (!game) {
    return wrong("game.json does not parse: " + std::string(kGameConfigStopContext) + ": " +
                 debug_form(game.error()));
  }
  facts.main_binary_name = game->mainBinaryName;
  facts.product_name = game->productName;
  facts.game_path = "%LOCALAPPDATA%\\" + game->productName + "\\" + game->mainBinaryName + ".exe";

  auto resources = stub->optional_header.DataDirectory[kDirResource].Size == 0
                       ? std::expected<ResourceSet, std::string>(ResourceSet{})
                       : read_resources(stub->optional_header.DataDirectory[kDirResource],
                                        [&](std::uint32_t rva, std::uint32_t size) {
                                          return stub->at_rva(rva, size);
                                        });
  if (!resources) return wrong("its resources are malformed: " + resources.error());
  // The icon and version strings are reported as far as they can be read; what Explorer cannot
  // read does not keep the launcher from running.
  if (auto icons = icon_sizes(*resources)) facts.icon_sizes = std::move(*icons);
  for (const Resource& resource : *resources) {
    if (resource.type != ResourceId(std::uint32_t{kRtVersion})) continue;
    const auto info = read_version_info(resource.data);
    if (!info) break;
    facts.file_description = utf8(info->file_description);
    facts.version_product_name = utf8(info->product_name);
    facts.product_version = utf8(info->product_version);
    facts.file_version = utf8(info->file_version);
    break;
  }

  // What is wrong with the contents, all of it on one line.
  std::vector<std::string> problems;
  facts.installer_size = image_bytes->size();
  const Bytes image_pieces[] = {*image_bytes};
  const auto image_digest = digest_of(DigestAlgorithm::Sha256, image_pieces);
  if (!image_digest) return wrong("cannot compute a digest: " + image_digest.error());
  facts.installer_sha256 = hex_digits(*image_digest);
  const ImageDigest checked = brevlo::image_digest(*image_bytes);
  facts.installer_xxh3 = hex_digits(checked);
  facts.installer_signature = certificate_table_state(*image_bytes);
  if (const auto decoded = decode_pack_options(*options_bytes)) {
    facts.options = *decoded;
    if (decoded->image_digest != checked) {
      problems.push_back("installer digest mismatch: recorded " +
                         hex_digits(decoded->image_digest) + ", the image's is " +
                         facts.installer_xxh3);
    }
  } else {
    problems.push_back("the .brvopt section is damaged");
  }
  if (splash != nullptr) {
    const auto splash_bytes = section_content(file, *splash);
    if (!splash_bytes) return wrong(splash_bytes.error());
    if (const auto image = decode_splash_image(*splash_bytes)) {
      facts.splash = SplashFacts{image->width, image->height, splash_bytes->size()};
    } else {
      problems.push_back("the .brvspl section is damaged");
    }
  }
  if (facts.options.splash != (splash != nullptr)) {
    problems.push_back(facts.options.splash ? "the splash option is set but there is no .brvspl "
                                              "section"
                                            : "a .brvspl section without the splash option");
  }

  if (certificates.Size != 0) {
    const auto entry = certificate_entry(file, certificates);
    if (!entry) return wrong("signature: " + entry.error());
    const auto signed_digest = read_signed_digest(*entry);
    if (!signed_digest) return wrong("signature: " + signed_digest.error());
    const auto algorithm = digest_from_oid(signed_digest->file_digest_oid);
    if (!algorithm) {
      return wrong("signature: unknown digest algorithm " + signed_digest->file_digest_oid);
    }
    // The Authenticode digest: the file without the checksum field, the certificate table's
    // directory entry and the certificate table.
    const std::size_t checksum_at = stub->optional_header_offset + offsetof(OptionalHeader64, CheckSum);
    const std::size_t entry_at = stub->optional_header_offset +
                                 offsetof(OptionalHeader64, DataDirectory) +
                                 kDirSecurity * sizeof(DataDirectory);
    const Bytes pieces[] = {file.subspan(0, checksum_at),
                            file.subspan(checksum_at + 4, entry_at - checksum_at - 4),
                            file.subspan(entry_at + sizeof(DataDirectory),
                                         certificates.VirtualAddress - entry_at -
                                             sizeof(DataDirectory))};
    const auto file_digest = digest_of(*algorithm, pieces);
    if (!file_digest) return wrong("cannot compute a digest: " + file_digest.error());
    if (*file_digest != signed_digest->file_digest) {
      problems.push_back("the signature no longer covers the file's bytes (its " +
                         std::string(digest_name(*algorithm)) + " digest does not match)");
    }
    const auto signer_algorithm = digest_from_oid(signed_digest->signer_digest);
    facts.signature = SignatureFacts{
        signed_digest->signer, signer_algorithm ? std::string(digest_name(*signer_algorithm))
                                                : signed_digest->signer_digest};
  }
  if (!problems.empty()) {
    std::string line = problems.front();
    for (std::size_t i = 1; i < problems.size(); ++i) line += "; " + problems[i];
    return wrong(line);
  }
  return facts;
}

std::string facts_text(const LauncherFacts& facts) {
  std::string out;
  const auto line = [&](std::string_view name, std::string_view value) {
    out += name;
    out += ": ";
    out += escaped(value);
    out += '\n';
  };
  const auto yes_no = [](bool value) { return value ? "yes" : "no"; };
  line("stub-version", facts.stub_version.empty() ? "none" : facts.stub_version);
  line("main-binary-name", facts.main_binary_name);
  line("product-name", facts.product_name);
  line("game-path", facts.game_path);
  line("installer-size", std::to_string(facts.installer_size));
  line("installer-sha256", facts.installer_sha256);
  line("installer-xxh3", facts.installer_xxh3);
  line("installer-signature", facts.installer_signature);
  std::string icons;
  for (const std::string& size : facts.icon_sizes) icons += (icons.empty() ? "" : " ") + size;
  line("icon-sizes", icons.empty() ? "none" : icons);
  if (facts.file_version) {
    line("version-file-description", *facts.file_description);
    line("version-product-name", *facts.version_product_name);
    line("version-product-version", *facts.product_version);
    line("version-file-version", *facts.file_version);
  } else {
    line("version", "none");
  }
  line("option-failure-dialog", yes_no(facts.options.failure_dialog));
  line("option-support-log", yes_no(facts.options.support_log));
  line("splash", facts.splash ? std::to_string(facts.splash->width) + "x" +
                                    std::to_string(facts.splash->height) + ", " +
                                    std::to_string(facts.splash->bytes) + " bytes"
                              : std::string("none"));
  if (facts.signature) {
    line("signature", "present");
    line("signature-signer", facts.signature->signer);
    line("signature-digest-algorithm", facts.signature->digest_algorithm);
    line("signature-digest", "matches");
    line("signature-chain", "not checked");
  } else {
    line("signature", "absent");
  }
  return out;
}

std::string facts_json(const LauncherFacts& facts) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> out(buffer);
  out.StartObject();
  out.Key("stubVersion");
  put_optional(out, facts.stub_version.empty() ? std::nullopt
                                               : std::optional<std::string>(facts.stub_version));
  out.Key("mainBinaryName");
  put_text(out, facts.main_binary_name);
  out.Key("productName");
  put_text(out, facts.product_name);
  out.Key("gamePath");
  put_text(out, facts.game_path);
  out.Key("installer");
  out.StartObject();
  out.Key("size");
  out.Uint64(facts.installer_size);
  out.Key("sha256");
  put_text(out, facts.installer_sha256);
  out.Key("xxh3");
  put_text(out, facts.installer_xxh3);
  out.Key("signature");
  put_text(out, facts.installer_signature);
  out.EndObject();
  out.Key("iconSizes");
  out.StartArray();
  for (const std::string& size : facts.icon_sizes) put_text(out, size);
  out.EndArray();
  out.Key("version");
  if (facts.file_version) {
    out.StartObject();
    out.Key("fileDescription");
    put_text(out, *facts.file_description);
    out.Key("productName");
    put_text(out, *facts.version_product_name);
    out.Key("productVersion");
    put_text(out, *facts.product_version);
    out.Key("fileVersion");
    put_text(out, *facts.file_version);
    out.EndObject();
  } else {
    out.Null();
  }
  out.Key("options");
  out.StartObject();
  out.Key("failureDialog");
  out.Bool(facts.options.failure_dialog);
  out.Key("supportLog");
  out.Bool(facts.options.support_log);
  out.EndObject();
  out.Key("splash");
  if (facts.splash) {
    out.StartObject();
    out.Key("width");
    out.Uint(facts.splash->width);
    out.Key("height");
    out.Uint(facts.splash->height);
    out.Key("bytes");
    out.Uint64(facts.splash->bytes);
    out.EndObject();
  } else {
    out.Null();
  }
  out.Key("signature");
  if (facts.signature) {
    out.StartObject();
    out.Key("signer");
    put_text(out, facts.signature->signer);
    out.Key("digestAlgorithm");
    put_text(out, facts.signature->digest_algorithm);
    out.Key("digest");
    out.String("matches");
    out.Key("chain");
    out.String("not checked");
    out.EndObject();
  } else {
    out.Null();
  }
  out.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
}

}  // namespace brevlo::pack
