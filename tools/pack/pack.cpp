#include "pack/pack.hpp"

#include <algorithm>
#include <cstring>

#include "core/config/config.hpp"
#include "pack/ico.hpp"
#include "pack/pe_headers.hpp"
#include "pack/splash.hpp"
#include "pack/version_info.hpp"
#include "platform/text.hpp"

namespace brevlo::pack {
namespace {

constexpr std::uint32_t kPayloadCharacteristics = kScnCntInitializedData | kScnMemRead;


std::u16string utf16(std::string_view text) { return utf16_from_wtf8(text); }

// The stub's version resources with the branding's strings and numbers.
PackResult<void> brand_version(ResourceSet& set, const Branding& branding) {
  bool found = false;
  for (Resource& resource : set) {
    if (resource.type != ResourceId(std::uint32_t{kRtVersion})) continue;
    found = true;
    auto info = read_version_info(resource.data);
    if (!info) return as_kind(PackErrorKind::Stub, info.error());
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
      return pack_error(PackErrorKind::Output,
                        "the version strings do not fit in a version resource (65,535 bytes)");
    }
    resource.data = std::move(*written);
  }
  if (!found) return pack_error(PackErrorKind::Stub, "it has no version resource to change");
  return {};
}

// The document as the launcher reads it, and the installer: at most 2 GiB, a Windows executable.
PackResult<void> check_payload(Bytes config, Bytes installer) {
  const auto game = parse_game_config(
      std::span(reinterpret_cast<const char*>(config.data()), config.size()));
  if (!game) {
    return pack_error(PackErrorKind::Config, std::string(kGameConfigStopContext) + ": " +
                                                 debug_form(game.error()));
  }
  if (installer.size() > kMaxInstallerSize) {
    return pack_error(PackErrorKind::InstallerSize,
                      std::to_string(installer.size()) + " bytes, more than the " +
                      std::to_string(kMaxInstallerSize) + " (2 GiB) an installer may have");
  }
  if (auto fault = installer_fault(installer)) {
    return pack_error(PackErrorKind::Installer, *fault);
  }
  return {};
}

// The stub's resources with the branding's icon and version strings.
PackResult<ResourceSet> branded_resources(const Stub& stub, const Branding& branding) {
  auto resources = read_resources(
      stub.optional_header.DataDirectory[kDirResource],
      [&](std::uint32_t rva, std::uint32_t size) { return stub.at_rva(rva, size); },
      stub.bytes.size());
  if (!resources) return as_kind(PackErrorKind::Stub, resources.error());
  if (branding.icon) {
    const auto images = read_ico(*branding.icon);
    if (!images) return as_kind(PackErrorKind::Icon, images.error());
    replace_icons(*resources, *images);
  }
  if (branding.product_name || branding.file_description || branding.version) {
    if (auto branded = brand_version(*resources, branding); !branded) {
      return std::unexpected(branded.error());
    }
  }
  return std::move(*resources);
}

// The stub's section of that name in its movable tail, if it has one.
const SectionHeader* tail_section(const Stub& stub, std::string_view name) {
  for (std::size_t i = stub.kept; i < stub.sections.size(); ++i) {
    if (section_name(stub.sections[i]) == name) return &stub.sections[i];
  }
  return nullptr;
}

// The options to record. The launcher takes its dialog's title from the version resource only
// when it was branded: now, or in the packed launcher given as the stub, whose resources are kept.
PackOptions recorded_options(const Stub& stub, const Branding& branding,
                             const PackOptions& options) {
  PackOptions recorded = options;
  recorded.branded_name = branding.product_name.has_value();
  if (const SectionHeader* old = tail_section(stub, kOptionsSectionName);
      old && !recorded.branded_name) {
    if (const auto bytes = stub.at_rva(old->VirtualAddress, old->VirtualSize)) {
      const auto old_options = decode_pack_options(*bytes);
      recorded.branded_name = old_options && old_options->branded_name;
    }
  }
  recorded.splash = branding.splash.has_value();
  recorded.image_digest = {};
  return recorded;
}

// A tail section and what fills it.
struct TailContent {
  TailSection section;
  Piece::Role role = Piece::Role::Data;
  Bytes bytes;  // Data and Installer roles
};

// The tail in order, empty sections left out; .rsrc is filled once its address is known.
std::vector<TailContent> tail_contents(const Stub& stub, Bytes config, Bytes installer,
                                       Bytes splash, const ResourceSet& resources) {
  std::vector<TailContent> tail;
  const auto add = [&](std::string_view name, std::uint32_t characteristics, std::uint64_t size,
                       Piece::Role role, Bytes bytes) {
    if (size != 0) tail.push_back({{name, characteristics, size}, role, bytes});
  };
  add(kConfigSectionName, kPayloadCharacteristics, config.size(), Piece::Role::Data, config);
  add(kImageSectionName, kPayloadCharacteristics, installer.size(), Piece::Role::Installer,
      installer);
  add(kOptionsSectionName, kPayloadCharacteristics, kOptionsSize, Piece::Role::Options, {});
  add(kSplashSectionName, kPayloadCharacteristics, splash.size(), Piece::Role::Data, splash);
  const SectionHeader* old_resources = tail_section(stub, kResourceSectionName);
  add(kResourceSectionName,
      old_resources ? old_resources->Characteristics : kPayloadCharacteristics,
      resource_section_size(resources), Piece::Role::Data, {});
  if (const SectionHeader* reloc = tail_section(stub, kRelocSectionName)) {
    const std::uint32_t size = std::min(reloc->VirtualSize != 0 ? reloc->VirtualSize
                                                                : reloc->SizeOfRawData,
                                        reloc->SizeOfRawData);
    add(kRelocSectionName, reloc->Characteristics, size, Piece::Role::Data,
        stub.bytes.subspan(reloc->PointerToRawData, size));
  }
  return tail;
}

}  // namespace

std::optional<std::string> installer_fault(Bytes installer) {
  const auto headers = read_pe_headers(installer);
  if (headers) return std::nullopt;
  switch (headers.error()) {
    case PeFault::Short: return "only " + std::to_string(installer.size()) + " bytes";
    case PeFault::NoMz: return "no MZ header";
    case PeFault::NoPeHeader: return "no PE header";
    case PeFault::NoPeSignature: return "no PE signature";
    case PeFault::FileHeaderCut: break;  // a Windows executable as far as this check goes
  }
  return std::nullopt;
}

PackResult<void> PackedLauncher::write(LauncherSink& sink) const {
  PeChecksum checksum;
  ImageHasher installer;
  const auto put = [&](Bytes window) {
    checksum.update(window);
    return sink.write(window);
  };
  for (const Piece& piece : pieces) {
    if (piece.role == Piece::Role::Options) {
      PackOptions recorded = options;
      recorded.image_digest = installer.finish();
      if (auto done = put(encode_pack_options(recorded)); !done) return done;
      continue;
    }
    for (Bytes rest = piece.bytes; !rest.empty();) {
      const Bytes window = rest.first(std::min(rest.size(), kWindow));
      rest = rest.subspan(window.size());
      if (piece.role == Piece::Role::Installer) installer.update(window);
      if (auto done = put(window); !done) return done;
    }
  }
  std::array<std::uint8_t, 4> sum{};
  const std::uint32_t value = checksum.finish();
  std::memcpy(sum.data(), &value, sum.size());
  return sink.write_at(checksum_offset, sum);
}

std::vector<std::uint8_t> PackedLauncher::bytes() const {
  struct Memory final : LauncherSink {
    std::vector<std::uint8_t> out;
    PackResult<void> write(Bytes bytes) override {
      out.insert(out.end(), bytes.begin(), bytes.end());
      return {};
    }
    PackResult<void> write_at(std::uint64_t offset, Bytes bytes) override {
      std::copy(bytes.begin(), bytes.end(), out.begin() + static_cast<std::ptrdiff_t>(offset));
      return {};
    }
  } memory;
  memory.out.reserve(layout.file_size);
  (void)write(memory);
  return std::move(memory.out);
}

PackResult<PackedLauncher> pack(Bytes stub_bytes, Bytes config, Bytes installer,
                                            const Branding& branding,
                                            const PackOptions& options) {
  if (auto checked = check_payload(config, installer); !checked) {
    return std::unexpected(checked.error());
  }
  const auto stub = read_stub(stub_bytes);
  if (!stub) return std::unexpected(stub.error());
  auto resources = branded_resources(*stub, branding);
  if (!resources) return std::unexpected(resources.error());

  // Lay out: the tail after the kept sections, then the headers that describe it.
  PackedLauncher packed;
  if (branding.splash) {
    auto section = splash_section(*branding.splash);
    if (!section) return as_kind(PackErrorKind::Splash, section.error());
    packed.splash_section = std::move(*section);
  }
  packed.options = recorded_options(*stub, branding, options);
  const std::vector<TailContent> tail =
      tail_contents(*stub, config, installer, packed.splash_section, *resources);
  std::vector<TailSection> sections;
  for (const TailContent& content : tail) sections.push_back(content.section);
  auto layout = lay_out(*stub, sections);
  if (!layout) return std::unexpected(layout.error());
  packed.layout = std::move(*layout);
  packed.headers = write_headers(*stub, packed.layout, 0);
  packed.checksum_offset = stub->optional_header_offset + offsetof(OptionalHeader64, CheckSum);
  packed.resources = std::move(*resources);

  // The file: headers, the stub's kept data as it lies, then each tail section padded.
  const std::uint32_t size_of_headers = stub->optional_header.SizeOfHeaders;
  const auto data = [&](Bytes bytes) { packed.pieces.push_back({Piece::Role::Data, bytes}); };
  data(packed.headers);
  data(stub->bytes.subspan(size_of_headers, stub->kept_file_end - size_of_headers));
  std::uint64_t written = stub->kept_file_end;
  for (std::size_t i = 0; i < tail.size(); ++i) {
    const SectionHeader& header = packed.layout.sections[stub->kept + i];
    data(Bytes(kZeros).first(header.PointerToRawData - written));
    if (tail[i].section.name == kResourceSectionName) {
      packed.resource_section = lay_out_resource_section(packed.resources, header.VirtualAddress);
      for (const Bytes piece : packed.resource_section.pieces) data(piece);
    } else {
      packed.pieces.push_back({tail[i].role, tail[i].bytes});
    }
    data(Bytes(kZeros).first(header.SizeOfRawData - tail[i].section.size));
    written = std::uint64_t{header.PointerToRawData} + header.SizeOfRawData;
  }
  std::erase_if(packed.pieces, [](const Piece& piece) {
    return piece.role != Piece::Role::Options && piece.bytes.empty();
  });
  return packed;
}

}  // namespace brevlo::pack
