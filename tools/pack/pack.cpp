#include "pack/pack.hpp"

#include <algorithm>

#include "core/config/config.hpp"
#include "pack/digest.hpp"
#include "pack/ico.hpp"
#include "pack/resources.hpp"
#include "pack/splash.hpp"
#include "pack/version_info.hpp"
#include "platform/text.hpp"

namespace brevlo::pack {
namespace {

constexpr std::uint32_t kPayloadCharacteristics = kScnCntInitializedData | kScnMemRead;

// Zeros for the padding after each section's data (less than FileAlignment, at most 64 KiB).
const std::array<std::uint8_t, 65536> kZeros{};

std::unexpected<Refusal> refuse(Refusal::Input input, std::string reason) {
  return std::unexpected(Refusal{input, std::move(reason)});
}

std::u16string utf16(std::string_view text) { return utf16_from_wtf8(text); }

// The stub's version resources with the branding's strings and numbers.
std::expected<void, Refusal> brand_version(ResourceSet& set, const Branding& branding) {
  bool found = false;
  for (Resource& resource : set) {
    if (resource.type != ResourceId(std::uint32_t{kRtVersion})) continue;
    found = true;
    auto info = read_version_info(resource.data);
    if (!info) return refuse(Refusal::Input::Stub, info.error());
    if (branding.product_name) info->product_name = utf16(*branding.product_name);
    if (branding.file_description) info->file_description = utf16(*branding.file_description);
    if (branding.version) {
      const auto& p = branding.version->parts;
      info->file_version = info->product_version = utf16(branding.version->text);
      info->fixed.dwFileVersionMS = info->fixed.dwProductVersionMS =
          (std::uint32_t{p[0]} << 16) | p[1];
      info->fixed.dwFileVersionLS = info->fixed.dwProductVersionLS =
          (std::uint32_t{p[2]} << 16) | p[3];
    }
    auto written = write_version_info(*info);
    if (!written) {
      return refuse(Refusal::Input::Output,
                    "the version strings do not fit in a version resource (65,535 bytes)");
    }
    resource.data = std::move(*written);
  }
  if (!found) return refuse(Refusal::Input::Stub, "it has no version resource to change");
  return std::expected<void, Refusal>();
}

Refusal::Input input_of(StubRefusal::Kind kind) {
  switch (kind) {
    case StubRefusal::Kind::NotAStub: return Refusal::Input::NotAStub;
    case StubRefusal::Kind::CannotLayOut: return Refusal::Input::Stub;
    case StubRefusal::Kind::TooLarge: break;
  }
  return Refusal::Input::Output;
}

}  // namespace

std::optional<std::string> installer_fault(Bytes installer) {
  if (installer.size() < sizeof(DosHeader)) {
    return "only " + std::to_string(installer.size()) + " bytes";
  }
  const auto dos = *read_at<DosHeader>(installer, 0);
  if (dos.e_magic != kDosMagic) return "no MZ header";
  const auto signature = read_at<std::uint32_t>(installer, dos.e_lfanew);
  if (!signature) return "no PE header";
  if (*signature != kPeSignature) return "no PE signature";
  return std::nullopt;
}

std::vector<std::uint8_t> PackedLauncher::bytes() const {
  std::vector<std::uint8_t> out;
  out.reserve(layout.file_size);
  for (Bytes piece : pieces) out.insert(out.end(), piece.begin(), piece.end());
  return out;
}

std::expected<PackedLauncher, Refusal> pack(Bytes stub_bytes, Bytes config, Bytes installer,
                                            const Branding& branding,
                                            const PackOptions& options) {
  const auto game = parse_game_config(
      std::span(reinterpret_cast<const char*>(config.data()), config.size()));
  if (!game) {
    return refuse(Refusal::Input::Config, std::string(kGameConfigStopContext) + ": " +
                                              debug_form(game.error()));
  }
  if (auto fault = installer_fault(installer)) return refuse(Refusal::Input::Installer, *fault);
  const auto stub = read_stub(stub_bytes);
  if (!stub) return refuse(input_of(stub.error().kind), stub.error().reason);

  auto resources = read_resources(
      stub->optional_header.DataDirectory[kDirResource],
      [&](std::uint32_t rva, std::uint32_t size) { return stub->at_rva(rva, size); });
  if (!resources) return refuse(Refusal::Input::Stub, resources.error());
  std::vector<std::uint8_t> packed_splash;
  if (branding.icon) {
    const auto images = read_ico(*branding.icon);
    if (!images) return refuse(Refusal::Input::Icon, images.error());
    replace_icons(*resources, *images);
  }
  if (branding.splash) {
    auto section = splash_section(*branding.splash);
    if (!section) return refuse(Refusal::Input::Splash, section.error());
    packed_splash = std::move(*section);
  }
  if (branding.product_name || branding.file_description || branding.version) {
    if (auto branded = brand_version(*resources, branding); !branded) {
      return std::unexpected(branded.error());
    }
  }

  // The tail, in order, with its contents.
  std::vector<TailSection> tail;
  std::vector<Bytes> contents;
  const auto add = [&](std::string_view name, std::uint32_t characteristics, Bytes content) {
    if (content.empty()) return;
    tail.push_back({name, characteristics, content.size()});
    contents.push_back(content);
  };
  const auto tail_section = [&](std::string_view name) -> const SectionHeader* {
    for (std::size_t i = stub->kept; i < stub->sections.size(); ++i) {
      if (section_name(stub->sections[i]) == name) return &stub->sections[i];
    }
    return nullptr;
  };
  PackedLauncher packed;
  packed.splash_section = std::move(packed_splash);
  add(kConfigSectionName, kPayloadCharacteristics, config);
  add(kImageSectionName, kPayloadCharacteristics, installer);
  // The launcher takes its dialog's title from the version resource only when it was branded:
  // now, or in the packed launcher given as the stub, whose resources are kept.
  PackOptions recorded = options;
  recorded.branded_name = branding.product_name.has_value();
  if (const SectionHeader* old = tail_section(kOptionsSectionName); old && !recorded.branded_name) {
    if (const auto bytes = stub->at_rva(old->VirtualAddress, old->VirtualSize)) {
      const auto old_options = decode_pack_options(*bytes);
      recorded.branded_name = old_options && old_options->branded_name;
    }
  }
  recorded.splash = branding.splash.has_value();
  recorded.image_digest = image_digest(installer);
  const auto options_bytes = encode_pack_options(recorded);
  packed.options_section.assign(options_bytes.begin(), options_bytes.end());
  add(kOptionsSectionName, kPayloadCharacteristics, packed.options_section);
  add(kSplashSectionName, kPayloadCharacteristics, packed.splash_section);
  const SectionHeader* old_resources = tail_section(kResourceSectionName);
  const std::size_t resource_size = resource_section_size(*resources);
  if (resource_size != 0) {
    tail.push_back({kResourceSectionName,
                    old_resources ? old_resources->Characteristics : kPayloadCharacteristics,
                    resource_size});
    contents.push_back({});  // filled in once its address is known
  }
  if (const SectionHeader* reloc = tail_section(kRelocSectionName)) {
    const std::uint32_t size = std::min(reloc->VirtualSize != 0 ? reloc->VirtualSize
                                                                : reloc->SizeOfRawData,
                                        reloc->SizeOfRawData);
    add(kRelocSectionName, reloc->Characteristics,
        stub->bytes.subspan(reloc->PointerToRawData, size));
  }

  auto layout = lay_out(*stub, tail);
  if (!layout) return refuse(input_of(layout.error().kind), layout.error().reason);
  packed.layout = std::move(*layout);
  for (std::size_t i = 0; i < tail.size(); ++i) {
    if (tail[i].name == kResourceSectionName) {
      const SectionHeader& header = packed.layout.sections[stub->kept + i];
      packed.resource_section = write_resource_section(*resources, header.VirtualAddress);
      contents[i] = packed.resource_section;
    }
  }

  // The file: headers, the stub's kept data as it lies, then each tail section padded.
  const std::uint32_t size_of_headers = stub->optional_header.SizeOfHeaders;
  packed.headers = write_headers(*stub, packed.layout, 0);
  packed.pieces.push_back(packed.headers);
  packed.pieces.push_back(stub->bytes.subspan(size_of_headers,
                                              stub->kept_file_end - size_of_headers));
  std::uint64_t written = stub->kept_file_end;
  for (std::size_t i = 0; i < tail.size(); ++i) {
    const SectionHeader& header = packed.layout.sections[stub->kept + i];
    packed.pieces.push_back(Bytes(kZeros).first(header.PointerToRawData - written));
    packed.pieces.push_back(contents[i]);
    packed.pieces.push_back(Bytes(kZeros).first(header.SizeOfRawData - contents[i].size()));
    written = std::uint64_t{header.PointerToRawData} + header.SizeOfRawData;
  }
  std::erase_if(packed.pieces, [](Bytes piece) { return piece.empty(); });
  packed.checksum = pe_checksum(packed.pieces);
  packed.headers = write_headers(*stub, packed.layout, packed.checksum);
  packed.pieces.front() = packed.headers;
  return packed;
}

}  // namespace brevlo::pack
