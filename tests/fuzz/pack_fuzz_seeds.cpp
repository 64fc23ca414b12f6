// Writes the seed corpora of the pack tool's fuzz targets into DIR/<reader>/: sample stubs and the
// launchers packed from them (plain, and branded with an icon, version strings and both options),
// their icon and version resources. The fuzz script adds the build's own stub and launcher and a
// signed launcher's signature when it has them.
// Usage: brevlo_pack_fuzz_seeds DIR
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "../common/pe_samples.hpp"
#include "pack/pack.hpp"

namespace {

using namespace brevlo::pack;
using namespace brevlo::pack::sample;
namespace fs = std::filesystem;

bool put(const fs::path& path, const ByteVec& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: brevlo_pack_fuzz_seeds DIR\n", stderr);
    return 2;
  }
  const fs::path dir = argv[1];
  const ByteVec stub = build_image(standard_stub());
  const ByteVec config = bytes_of(kConfig);
  const ByteVec installer = installer_image();
  const ByteVec icon = make_ico({{16, 32, dib_image(16, 100, 1)}, {0, 32, png_image()}});
  Branding branding;
  branding.icon = Bytes(icon);
  branding.product_name = "Ostrevan 奥斯特万";
  branding.file_description = "Ostrevan";
  branding.version = Version{"2.5", {2, 5, 0, 0}};
  const auto plain = pack(stub, config, installer, {});
  const auto branded = pack(stub, config, installer, branding, {true, true, false, {}});
  if (!plain || !branded) {
    std::fputs("brevlo_pack_fuzz_seeds: the sample stub does not pack\n", stderr);
    return 1;
  }
  const bool written = put(dir / "stub" / "sample-stub.exe", stub) &&
                       put(dir / "stub" / "sample-launcher.exe", branded->bytes()) &&
                       put(dir / "inspect" / "plain.exe", plain->bytes()) &&
                       put(dir / "inspect" / "branded.exe", branded->bytes()) &&
                       put(dir / "icon" / "two-images.ico", icon) &&
                       put(dir / "version" / "windres.bin", kWindresVersion);
  if (!written) {
    std::fputs("brevlo_pack_fuzz_seeds: cannot write the seeds\n", stderr);
    return 1;
  }
  return 0;
}
