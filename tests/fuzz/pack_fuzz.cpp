// libFuzzer targets for brevlo-pack's readers, one per build, chosen by BREVLO_PACK_FUZZ_READER:
// any bytes as a launcher to inspect, as a stub to pack, as a .ico, as a version resource, as a
// signature, as a splash image. Each reader must answer every input with a result or a reason; what it accepts must
// hold up when it is written out and read again.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "core/splash_image.hpp"
#include "pack/ico.hpp"
#include "pack/inspect.hpp"
#include "pack/pack.hpp"
#include "pack/resources.hpp"
#include "pack/signature.hpp"
#include "pack/splash.hpp"
#include "pack/version_info.hpp"

namespace {

using namespace brevlo::pack;

enum class Reader { Inspect, Stub, Icon, Version, Signature, Splash };
constexpr Reader kReader = Reader::BREVLO_PACK_FUZZ_READER;

void check(bool holds) {
  if (!holds) std::abort();
}

constexpr std::string_view kConfig = R"({"mainBinaryName": "Ostrevan", "productName": "Ostrevan"})";

// The smallest installer packing takes: MZ, e_lfanew 0x40, the PE signature.
constexpr std::array<std::uint8_t, 0x44> kInstaller = [] {
  std::array<std::uint8_t, 0x44> bytes{};
  bytes[0] = 'M';
  bytes[1] = 'Z';
  bytes[60] = 0x40;
  bytes[0x40] = 'P';
  bytes[0x41] = 'E';
  return bytes;
}();

void inspect(Bytes file) {
  const auto facts = inspect_launcher(file);
  if (!facts) {
    check(!facts.error().text.empty());
    return;
  }
  check(!facts_text(*facts).empty() && !facts_json(*facts).empty());
}

// A stub that packs gives a launcher that is itself a stub packing to the same bytes, and that
// inspect finds whole.
void pack_stub(Bytes stub) {
  const Bytes config(reinterpret_cast<const std::uint8_t*>(kConfig.data()), kConfig.size());
  Branding branding;
  if (!stub.empty() && (stub.back() & 1)) branding.product_name = "Ostrevan";
  const auto packed = pack(stub, config, kInstaller, branding);
  if (!packed) {
    check(!packed.error().text.empty());
    return;
  }
  const auto bytes = packed->bytes();
  const auto again = pack(bytes, config, kInstaller, {});
  check(again && again->bytes() == bytes);
  check(inspect_launcher(bytes).has_value());
}

// An icon that is read becomes resources that read back from their section.
void icon(Bytes file) {
  const auto images = read_ico(file);
  if (!images) {
    check(!images.error().text.empty());
    return;
  }
  ResourceSet set;
  replace_icons(set, *images);
  const auto section = write_resource_section(set, 0x1000);
  const auto read = read_resources(
      {0x1000, static_cast<std::uint32_t>(section.size())},
      [&](std::uint32_t rva, std::uint32_t size) -> std::optional<Bytes> {
        if (rva < 0x1000 || !fits(rva - 0x1000, size, section.size())) return std::nullopt;
        return Bytes(section).subspan(rva - 0x1000, size);
      },
      section.size());
  check(read && read->size() == set.size());
}

// A version resource that is read is written anew and reads back the same.
void version(Bytes resource) {
  const auto info = read_version_info(resource);
  if (!info) {
    check(!info.error().text.empty());
    return;
  }
  const auto written = write_version_info(*info);
  if (!written) return;  // strings too long for one resource
  const auto again = read_version_info(*written);
  check(again && again->product_name == info->product_name &&
        again->file_description == info->file_description &&
        again->product_version == info->product_version &&
        again->file_version == info->file_version);
}

void signature(Bytes blob) {
  const auto decoded = read_signed_digest(blob);
  if (!decoded) check(!decoded.error().text.empty());
}

// A PNG that is taken becomes a section the launcher reads back, its pixels all there.
void splash(Bytes png) {
  const auto section = splash_section(png);
  if (!section) {
    check(!section.error().text.empty());
    return;
  }
  const auto image = brevlo::decode_splash_image(*section);
  check(image && image->width != 0 && image->height != 0 &&
        image->pixels.size() == std::size_t{image->width} * image->height * 4);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Bytes bytes(data, size);
  switch (kReader) {
    case Reader::Inspect: inspect(bytes); break;
    case Reader::Stub: pack_stub(bytes); break;
    case Reader::Icon: icon(bytes); break;
    case Reader::Version: version(bytes); break;
    case Reader::Signature: signature(bytes); break;
    case Reader::Splash: splash(bytes); break;
  }
  return 0;
}
