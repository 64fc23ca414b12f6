#pragma once
// What the pack tool's suites share: synthetic inputs, PE header edits, files in a scratch folder
// and the PackTool fixture that runs the command on them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "../common/pe_samples.hpp"
#include "pack/digest.hpp"
#include "pack/ico.hpp"
#include "pack/inspect.hpp"
#include "pack/pack.hpp"
#include "pack/options.hpp"
#include "pack/pack_tool.hpp"
#include "pack/resources.hpp"
#include "pack/version_info.hpp"
#include "platform/error.hpp"
#include "platform/text.hpp"

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace brevlo::pack {

// An error as a failing expectation shows it.
inline void PrintTo(const PackError& error, std::ostream* out) {
  *out << "kind " << static_cast<int>(error.kind) << ": " << error.text;
}
inline std::ostream& operator<<(std::ostream& out, const PackError& error) {
  PrintTo(error, &out);
  return out;
}

namespace pack_test {

namespace fs = std::filesystem;
using namespace sample;

inline std::uint32_t optional_offset(const ByteVec& image) {
  return read_at<DosHeader>(image, 0)->e_lfanew + 4 + sizeof(FileHeader);
}

inline OptionalHeader64 optional_header(const ByteVec& image) {
  return *read_at<OptionalHeader64>(image, optional_offset(image));
}

inline std::vector<SectionHeader> section_table(const ByteVec& image) {
  const auto fh = *read_at<FileHeader>(image, optional_offset(image) - sizeof(FileHeader));
  std::vector<SectionHeader> table;
  for (std::size_t i = 0; i < fh.NumberOfSections; ++i) {
    table.push_back(*read_at<SectionHeader>(
        image, optional_offset(image) + sizeof(OptionalHeader64) + i * sizeof(SectionHeader)));
  }
  return table;
}

inline void edit_optional(ByteVec& image, const std::function<void(OptionalHeader64&)>& edit) {
  OptionalHeader64 oh = optional_header(image);
  edit(oh);
  write_at(image, optional_offset(image), oh);
}

inline void edit_section(ByteVec& image, std::string_view name,
                  const std::function<void(SectionHeader&)>& edit) {
  const auto table = section_table(image);
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (section_name(table[i]) != name) continue;
    SectionHeader header = table[i];
    edit(header);
    write_at(image, optional_offset(image) + sizeof(OptionalHeader64) + i * sizeof(SectionHeader),
             header);
  }
}

// The textbook checksum: 16-bit words added one at a time with the carry folded back in.
inline std::uint32_t reference_checksum(ByteVec image) {
  const std::uint32_t field = optional_offset(image) + offsetof(OptionalHeader64, CheckSum);
  write_at(image, field, std::uint32_t{0});
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < image.size(); i += 2) {
    sum += image[i] | (i + 1 < image.size() ? image[i + 1] << 8 : 0);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return ((sum & 0xFFFF) + (sum >> 16)) + static_cast<std::uint32_t>(image.size());
}

// PNG files made with Python's zlib: 2x2 truecolour with alpha (red, half-transparent green,
// transparent blue, opaque 0A141E), 2x1 palette (010203, C86432), 1x1 greyscale, an IHDR of 2049x1,
// and a 1x1 image whose IDAT (with its right CRC) is not a zlib stream.
inline const ByteVec kPngRgba = from_hex(
    "89504e470d0a1a0a0000000d494844520000000200000002080600000072b60d24000000164944415478da63f8cf"
    "c0f01f081b1840349788dc7f00378005b88871a6150000000049454e44ae426082");
inline const ByteVec kPngPalette = from_hex(
    "89504e470d0a1a0a0000000d4948445200000002000000010803000000c3fc8fb800000006504c5445010203c864"
    "3250b4ae3f0000000b4944415478da6360600400000400022cde48ad0000000049454e44ae426082");
inline const ByteVec kPngGrey = from_hex(
    "89504e470d0a1a0a0000000d49484452000000010000000108000000003a7e9b550000000a4944415478da636800"
    "0000820081da45083b0000000049454e44ae426082");
inline const ByteVec kPngTooWide = from_hex(
    "89504e470d0a1a0a0000000d49484452000008010000000108020000002ab4b29b0000001c4944415478daedc101"
    "0d000000c2a0f74f6d0f07140000000000f068180400011c8aadef0000000049454e44ae426082");
inline const ByteVec kPngNotZlib = from_hex(
    "89504e470d0a1a0a0000000d4948445200000001000000010802000000907753de0000000d494441546e6f74207a"
    "6c69622064617461192f116f0000000049454e44ae426082");

struct Inputs {
  ByteVec stub = build_image(standard_stub());
  ByteVec config = bytes_of(kConfig);
  ByteVec installer = installer_image();
  std::optional<ByteVec> icon;
  std::optional<ByteVec> splash;
  Branding branding;
  PackOptions options;
};

inline PackResult<PackedLauncher> pack_inputs(const Inputs& in) {
  Branding branding = in.branding;
  if (in.icon) branding.icon = Bytes(*in.icon);
  if (in.splash) branding.splash = Bytes(*in.splash);
  return pack(in.stub, in.config, in.installer, branding, in.options);
}

inline ByteVec packed_bytes(const Inputs& in) {
  auto packed = pack_inputs(in);
  EXPECT_TRUE(packed.has_value()) << (packed ? "" : packed.error().text);
  return packed ? packed->bytes() : ByteVec{};
}

// The image's resources, each with a copy of its data (the reader gives views of the image).
inline PackResult<ResourceSet> resources_of(const ByteVec& image) {
  auto stub = read_stub(image);
  if (!stub) return std::unexpected(stub.error());
  auto set = read_resources(optional_header(image).DataDirectory[kDirResource],
                            [&](std::uint32_t rva, std::uint32_t size) {
                              return stub->at_rva(rva, size);
                            },
                            image.size());
  if (set) {
    for (Resource& resource : *set) resource.data = ByteVec(resource.data.begin(), resource.data.end());
  }
  return set;
}

inline const Resource* find(const ResourceSet& set, std::uint32_t type, std::uint32_t name) {
  for (const Resource& r : set) {
    if (r.type == ResourceId(type) && r.name == ResourceId(name)) return &r;
  }
  return nullptr;
}

inline void put(ByteVec& image, std::size_t offset, std::uint32_t value) { write_at(image, offset, value); }

// A resource section at rva with one type of `names` names, each with `languages` language
// entries, each with a data entry of its own, all naming the same `size` bytes at the section's
// end.
inline ByteVec shared_data_resources(std::uint32_t rva, std::uint32_t names, std::uint32_t languages,
                              std::uint32_t size) {
  ByteVec out;
  const auto table = [&](std::uint32_t entries) {
    append(out, ResourceDirectory{0, 0, 0, 0, 0, static_cast<std::uint16_t>(entries)});
  };
  constexpr std::uint32_t kTable = 0x80000000;
  const std::uint32_t language_tables_at = 24 + 16 + 8 * names;
  const std::uint32_t entries_at = language_tables_at + names * (16 + 8 * languages);
  const std::uint32_t data_at = entries_at + 16 * names * languages;
  table(1);
  append(out, ResourceDirectoryEntry{10, kTable | 24});
  table(names);
  for (std::uint32_t n = 0; n < names; ++n) {
    append(out, ResourceDirectoryEntry{n + 1, kTable | (language_tables_at + n * (16 + 8 * languages))});
  }
  for (std::uint32_t n = 0; n < names; ++n) {
    table(languages);
    for (std::uint32_t i = 0; i < languages; ++i) {
      append(out, ResourceDirectoryEntry{i, entries_at + 16 * (n * languages + i)});
    }
  }
  for (std::uint32_t i = 0; i < names * languages; ++i) {
    append(out, ResourceDataEntry{rva + data_at, size, 0, 0});
  }
  out.resize(out.size() + size, 0x5A);
  return out;
}

inline std::string utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

inline fs::path from_utf8(std::string_view text) { return fs::path(std::u8string(text.begin(), text.end())); }

inline void write_file(const fs::path& path, const ByteVec& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

inline ByteVec read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<std::string> folder_listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(utf8(entry.path().filename()));
  std::sort(names.begin(), names.end());
  return names;
}

// The reason the system gives for a missing file or folder, as the tool words it.
inline std::string missing_reason(bool folder) {
#ifdef _WIN32
  return display_form(Error::os(folder ? 3 : 2));
#else
  (void)folder;
  return "No such file or directory";
#endif
}

// A scratch folder of this process's own, so that test runs of other build trees on the same
// machine do not meet in it.
inline fs::path scratch_root() {
#ifdef _WIN32
  const int pid = _getpid();
#else
  const int pid = static_cast<int>(getpid());
#endif
  return fs::temp_directory_path() / ("brevlo_pack_test_" + std::to_string(pid));
}

class PackTool : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = scratch_root();
    fs::remove_all(root_);
    dir_ = root_ / from_utf8("Été 2026");
    fs::create_directories(dir_);
    write_file(dir_ / "stub.exe", inputs_.stub);
    write_file(dir_ / "game.json", inputs_.config);
    write_file(dir_ / "setup.exe", inputs_.installer);
  }
  void TearDown() override { fs::remove_all(root_); }

  std::string path(std::string_view name) const { return utf8(dir_ / from_utf8(name)); }

  std::vector<std::string> command(std::string_view out = "Ostrevan.exe") const {
    return {"--stub", path("stub.exe"), "--config", path("game.json"), "--installer",
            path("setup.exe"), "--out", path(out)};
  }

  ToolOutcome run(std::vector<std::string> args) const { return run_pack_tool(args); }

  static ToolOutcome refused(int status, const std::string& line) { return {status, "", line + "\n"}; }

  fs::path root_, dir_;
  Inputs inputs_;
};

}  // namespace pack_test
}  // namespace brevlo::pack
