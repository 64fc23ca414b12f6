#include "pack/inspect.hpp"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <functional>
#include <variant>

#include "core/config/config.hpp"
#include "core/splash_image.hpp"
#include "pack/digest.hpp"
#include "pack/pe_headers.hpp"
#include "pack/pe_layout.hpp"
#include "pack/resources.hpp"
#include "pack/signature.hpp"
#include "pack/version_info.hpp"
#include "platform/debug_form.hpp"
#include "platform/hex_digit.hpp"
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
// The largest certificate table entry read: Authenticode signatures, even with a timestamp and a
// chain, are tens of kilobytes.
constexpr std::uint32_t kMaxCertificateEntry = 4u << 20;

std::unexpected<PackError> wrong(std::string reason) {
  return pack_error(PackErrorKind::Launcher, std::move(reason));
}

// The certificate table's single PKCS #7 entry at dir (file offset and size), or why not.
PackResult<Bytes> certificate_entry(Bytes file, DataDirectory dir) {
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
  if (entry->dwLength > kMaxCertificateEntry) {
    return wrong("the certificate table's entry is larger than " +
                 std::to_string(kMaxCertificateEntry) + " bytes");
  }
  return file.subspan(dir.VirtualAddress + sizeof(WinCertificate),
                      entry->dwLength - sizeof(WinCertificate));
}

// The section's content, the first VirtualSize bytes of its file data.
PackResult<Bytes> section_content(Bytes file, const SectionHeader& section) {
  if (section.VirtualSize > section.SizeOfRawData ||
      !fits(section.PointerToRawData, section.SizeOfRawData, file.size())) {
    return wrong("sections out of place: section " + std::string(section_name(section)) +
                 " does not lie whole in the file");
  }
  return file.subspan(section.PointerToRawData, section.VirtualSize);
}

std::string utf8(const std::u16string& text) { return wtf8_from_utf16(text); }

// The group icon's image sizes, "WxH" each (a 0 in the directory means 256).
PackResult<std::vector<std::string>> icon_sizes(const ResourceSet& resources) {
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

// The sections inspect reads, and where the last section's data ends.
struct LauncherSections {
  Bytes config, image, options;
  std::optional<Bytes> splash;
  std::uint64_t end = 0;
};

// The payload sections, whole in the file, and the stub's version from its mark.
PackResult<LauncherSections> find_sections(Bytes file, const Stub& stub,
                                                           LauncherFacts& facts) {
  const SectionHeader* config = nullptr;
  const SectionHeader* image = nullptr;
  const SectionHeader* options = nullptr;
  const SectionHeader* splash = nullptr;
  LauncherSections found;
  found.end = stub.optional_header.SizeOfHeaders;
  for (const SectionHeader& section : stub.sections) {
    const std::string_view name = section_name(section);
    if (name == kConfigSectionName) config = &section;
    if (name == kImageSectionName) image = &section;
    if (name == kOptionsSectionName) options = &section;
    if (name == kSplashSectionName) splash = &section;
    if (section.SizeOfRawData != 0) {
      found.end = std::max<std::uint64_t>(
          found.end, std::uint64_t{section.PointerToRawData} + section.SizeOfRawData);
    }
    if (name == kStubMarkSection) {
      // The mark's file data, which the stub reader found inside the file; memory past it, if
      // the section is larger there, holds zeros.
      const Bytes mark = file.subspan(
          section.PointerToRawData,
          std::min(section.VirtualSize != 0 ? section.VirtualSize : section.SizeOfRawData,
                   section.SizeOfRawData));
      const auto text = mark.subspan(std::min(mark.size(), kStubMagic.size()));
      const auto end = std::find(text.begin(), text.end(), std::uint8_t{0});
      facts.stub_version.assign(text.begin(), end);
    }
  }
  if (config == nullptr || image == nullptr || options == nullptr) {
    return wrong("not a packed launcher: it lacks a .brvcfg, .brvimg or .brvopt section "
                 "(a bare stub?)");
  }
  for (const auto& [header, bytes] : {std::pair{config, &found.config},
                                      std::pair{image, &found.image},
                                      std::pair{options, &found.options}}) {
    const auto content = section_content(file, *header);
    if (!content) return std::unexpected(content.error());
    *bytes = *content;
  }
  if (splash != nullptr) {
    const auto content = section_content(file, *splash);
    if (!content) return std::unexpected(content.error());
    found.splash = *content;
  }
  return found;
}

// What follows the sections: nothing, or the certificate table, 8-byte aligned, to the end.
PackResult<void> check_file_end(Bytes file, DataDirectory certificates,
                                                std::uint64_t sections_end) {
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
  return {};
}

// The document's names and the game's path.
PackResult<void> read_document(Bytes config, LauncherFacts& facts) {
  const auto game = parse_game_config(
      std::span(reinterpret_cast<const char*>(config.data()), config.size()));
  if (!game) {
    return wrong("game.json does not parse: " + std::string(kGameConfigStopContext) + ": " +
                 debug_form(game.error()));
  }
  facts.main_binary_name = game->mainBinaryName;
  facts.product_name = game->productName;
  facts.game_path = "%LOCALAPPDATA%\\" + game->productName + "\\" + game->mainBinaryName + ".exe";
  return {};
}

// The icon and version strings, as far as they can be read: what Explorer cannot read does not
// keep the launcher from running. A resource directory that cannot be read at all is refused.
PackResult<void> read_branding(const Stub& stub, LauncherFacts& facts) {
  const DataDirectory dir = stub.optional_header.DataDirectory[kDirResource];
  auto resources = dir.Size == 0
                       ? PackResult<ResourceSet>(ResourceSet{})
                       : read_resources(dir,
                                        [&](std::uint32_t rva, std::uint32_t size) {
                                          return stub.at_rva(rva, size);
                                        },
                                        stub.bytes.size());
  if (!resources) return wrong("its resources are malformed: " + resources.error().text);
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
  return {};
}

// The installer's size, digests and certificate table, and the options recorded with it; a
// damaged options section or a digest that differs is a problem.
PackResult<void> check_installer(const LauncherSections& sections,
                                                 const WindowDone& done, LauncherFacts& facts,
                                                 std::vector<std::string>& problems) {
  facts.installer_size = sections.image.size();
  const Bytes image_pieces[] = {sections.image};
  const auto sha256 = digest_of(DigestAlgorithm::Sha256, image_pieces, done);
  if (!sha256) return wrong("cannot compute a digest: " + sha256.error().text);
  facts.installer_sha256 = hex_digits(*sha256);
  ImageHasher hasher;
  for (Bytes rest = sections.image; !rest.empty();) {
    const Bytes window = rest.first(std::min(rest.size(), kWindow));
    hasher.update(window);
    if (done) done(window);
    rest = rest.subspan(window.size());
  }
  const ImageDigest checked = hasher.finish();
  facts.installer_xxh3 = hex_digits(checked);
  facts.installer_signature = certificate_table_state(sections.image);
  if (const auto decoded = decode_pack_options(sections.options)) {
    facts.options = *decoded;
    if (decoded->image_digest != checked) {
      problems.push_back("installer digest mismatch: recorded " +
                         hex_digits(decoded->image_digest) + ", the image's is " +
                         facts.installer_xxh3);
    }
  } else {
    problems.push_back("the .brvopt section is damaged");
  }
  return {};
}

// The splash image's facts, when the launcher has one; a damaged section, or a splash option and
// section that disagree, is noted as a problem (nothing here keeps the other facts from being read).
void read_splash(const LauncherSections& sections, LauncherFacts& facts,
                 std::vector<std::string>& problems) {
  if (sections.splash) {
    if (const auto image = decode_splash_image(*sections.splash)) {
      facts.splash = SplashFacts{image->width, image->height, sections.splash->size()};
    } else {
      problems.push_back("the .brvspl section is damaged");
    }
  }
  if (facts.options.splash != sections.splash.has_value()) {
    problems.push_back(facts.options.splash
                           ? "the splash option is set but there is no .brvspl section"
                           : "a .brvspl section without the splash option");
  }
}

// The launcher's own signature: decoded, and its file digest compared with the file's.
PackResult<void> check_signature(Bytes file, const Stub& stub,
                                                 DataDirectory certificates,
                                                 const WindowDone& done, LauncherFacts& facts,
                                                 std::vector<std::string>& problems) {
  if (certificates.Size == 0) return {};
  const auto entry = certificate_entry(file, certificates);
  if (!entry) return wrong("signature: " + entry.error().text);
  const auto signed_digest = read_signed_digest(*entry);
  if (!signed_digest) return wrong("signature: " + signed_digest.error().text);
  const auto algorithm = digest_from_oid(signed_digest->file_digest_oid);
  if (!algorithm) {
    return wrong("signature: unknown digest algorithm " + signed_digest->file_digest_oid);
  }
  // The Authenticode digest: the file without the checksum field, the certificate table's
  // directory entry and the certificate table.
  const std::size_t checksum_at = stub.optional_header_offset + offsetof(OptionalHeader64, CheckSum);
  const std::size_t entry_at = stub.optional_header_offset +
                               offsetof(OptionalHeader64, DataDirectory) +
                               kDirSecurity * sizeof(DataDirectory);
  const Bytes pieces[] = {file.subspan(0, checksum_at),
                          file.subspan(checksum_at + 4, entry_at - checksum_at - 4),
                          file.subspan(entry_at + sizeof(DataDirectory),
                                       certificates.VirtualAddress - entry_at -
                                           sizeof(DataDirectory))};
  const auto file_digest = digest_of(*algorithm, pieces, done);
  if (!file_digest) return wrong("cannot compute a digest: " + file_digest.error().text);
  if (*file_digest != signed_digest->file_digest) {
    problems.push_back("the signature no longer covers the file's bytes (its " +
                       std::string(digest_name(*algorithm)) + " digest does not match)");
  }
  const auto signer_algorithm = digest_from_oid(signed_digest->signer_digest);
  facts.signature = SignatureFacts{
      signed_digest->signer, signer_algorithm ? std::string(digest_name(*signer_algorithm))
                                              : signed_digest->signer_digest};
  return {};
}

// ---------------------------------------------------------------------------------------------
// The facts as rows, each with its name in the text form and its place in the JSON form.

// A value as both forms show it.
struct Missing {
  std::string_view word;  // the text form's word for it ("none", "absent"); JSON has null
};
using Value = std::variant<std::string, std::uint64_t, bool, std::vector<std::string>, Missing>;

// One row. A row with an object but no key stands for the object itself: the text form's line
// about it (when it has a name there), and in JSON the object's start, or null when Missing.
struct Fact {
  std::string_view text;    // empty: no line in the text form
  std::string_view object;  // the JSON object holding the key; empty: the top level
  std::string_view key;
  Value value;
};

std::vector<Fact> fact_rows(const LauncherFacts& facts) {
  std::vector<Fact> rows;
  const auto row = [&](std::string_view text, std::string_view object, std::string_view key,
                       Value value) { rows.push_back({text, object, key, std::move(value)}); };
  const auto text_or_none = [](const std::string& text) -> Value {
    if (text.empty()) return Missing{"none"};
    return text;
  };
  row("stub-version", "", "stubVersion", text_or_none(facts.stub_version));
  row("main-binary-name", "", "mainBinaryName", facts.main_binary_name);
  row("product-name", "", "productName", facts.product_name);
  row("game-path", "", "gamePath", facts.game_path);
  row("installer-size", "installer", "size", facts.installer_size);
  row("installer-sha256", "installer", "sha256", facts.installer_sha256);
  row("installer-xxh3", "installer", "xxh3", facts.installer_xxh3);
  row("installer-signature", "installer", "signature", facts.installer_signature);
  row("icon-sizes", "", "iconSizes", facts.icon_sizes);
  if (facts.file_version) {
    row("", "version", "", true);
    row("version-file-description", "version", "fileDescription", *facts.file_description);
    row("version-product-name", "version", "productName", *facts.version_product_name);
    row("version-product-version", "version", "productVersion", *facts.product_version);
    row("version-file-version", "version", "fileVersion", *facts.file_version);
  } else {
    row("version", "version", "", Missing{"none"});
  }
  row("option-failure-dialog", "options", "failureDialog", facts.options.failure_dialog);
  row("option-support-log", "options", "supportLog", facts.options.support_log);
  if (facts.splash) {
    row("splash", "splash", "",
        std::to_string(facts.splash->width) + "x" + std::to_string(facts.splash->height) + ", " +
            std::to_string(facts.splash->bytes) + " bytes");
    row("", "splash", "width", std::uint64_t{facts.splash->width});
    row("", "splash", "height", std::uint64_t{facts.splash->height});
    row("", "splash", "bytes", facts.splash->bytes);
  } else {
    row("splash", "splash", "", Missing{"none"});
  }
  if (facts.signature) {
    row("signature", "signature", "", std::string("present"));
    row("signature-signer", "signature", "signer", facts.signature->signer);
    row("signature-digest-algorithm", "signature", "digestAlgorithm",
        facts.signature->digest_algorithm);
    row("signature-digest", "signature", "digest", std::string("matches"));
    row("signature-chain", "signature", "chain", std::string("not checked"));
  } else {
    row("signature", "signature", "", Missing{"absent"});
  }
  return rows;
}

std::string escaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out += hex_digit(byte >> 4);
      out += hex_digit(byte);
    } else {
      out += c;
    }
  }
  return out;
}

std::string text_form(const Value& value) {
  struct Visitor {
    std::string operator()(const std::string& text) const { return escaped(text); }
    std::string operator()(std::uint64_t number) const { return std::to_string(number); }
    std::string operator()(bool flag) const { return flag ? "yes" : "no"; }
    std::string operator()(const std::vector<std::string>& list) const {
      std::string joined;
      for (const std::string& item : list) {
        if (!joined.empty()) joined += ' ';
        joined += escaped(item);
      }
      return joined.empty() ? "none" : joined;
    }
    std::string operator()(const Missing& missing) const { return std::string(missing.word); }
  };
  return std::visit(Visitor{}, value);
}

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

void put_text(JsonWriter& out, std::string_view text) {
  out.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}

void put_json(JsonWriter& out, const Value& value) {
  struct Visitor {
    JsonWriter& out;
    void operator()(const std::string& text) const { put_text(out, text); }
    void operator()(std::uint64_t number) const { out.Uint64(number); }
    void operator()(bool flag) const { out.Bool(flag); }
    void operator()(const std::vector<std::string>& list) const {
      out.StartArray();
      for (const std::string& item : list) put_text(out, item);
      out.EndArray();
    }
    void operator()(const Missing&) const { out.Null(); }
  };
  std::visit(Visitor{out}, value);
}

}  // namespace

std::string certificate_table_state(Bytes image) {
  const auto headers = read_pe_headers(image);
  if (!headers) return "absent";
  const auto dir = headers->directory(kDirSecurity);
  if (!dir || dir->Size == 0) return "absent";
  return certificate_entry(image, *dir) ? "present" : "malformed";
}

PackResult<LauncherFacts> inspect_launcher(Bytes file, const WindowDone& done) {
  const auto stub = read_stub(file);
  if (!stub) {
    return wrong(stub.error().kind == PackErrorKind::NotAStub
                     ? "not a brevlo launcher: " + stub.error().text
                     : "sections out of place: " + stub.error().text);
  }
  LauncherFacts facts;
  const auto sections = find_sections(file, *stub, facts);
  if (!sections) return std::unexpected(sections.error());
  const DataDirectory certificates = stub->optional_header.DataDirectory[kDirSecurity];
  std::vector<std::string> problems;  // what is wrong with the contents, all of it on one line
  for (auto step : {
           std::function([&] { return check_file_end(file, certificates, sections->end); }),
           std::function([&] { return read_document(sections->config, facts); }),
           std::function([&] { return read_branding(*stub, facts); }),
           std::function([&] { return check_installer(*sections, done, facts, problems); })}) {
    if (auto checked = step(); !checked) return std::unexpected(checked.error());
  }
  read_splash(*sections, facts, problems);
  if (auto checked = check_signature(file, *stub, certificates, done, facts, problems); !checked) {
    return std::unexpected(checked.error());
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
  for (const Fact& fact : fact_rows(facts)) {
    if (fact.text.empty()) continue;
    out += std::string(fact.text) + ": " + text_form(fact.value) + "\n";
  }
  return out;
}

std::string facts_json(const LauncherFacts& facts) {
  rapidjson::StringBuffer buffer;
  JsonWriter out(buffer);
  out.StartObject();
  std::string_view open;  // the object the last rows went into
  for (const Fact& fact : fact_rows(facts)) {
    if (fact.object != open) {
      if (!open.empty()) out.EndObject();
      open = {};
      if (!fact.object.empty()) {
        put_text(out, fact.object);
        if (fact.key.empty() && std::holds_alternative<Missing>(fact.value)) {
          out.Null();
          continue;
        }
        out.StartObject();
        open = fact.object;
      }
    }
    if (fact.key.empty()) continue;
    put_text(out, fact.key);
    put_json(out, fact.value);
  }
  if (!open.empty()) out.EndObject();
  out.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
}

}  // namespace brevlo::pack
