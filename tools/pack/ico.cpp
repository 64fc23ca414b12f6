#include "pack/ico.hpp"

#include <algorithm>
#include <array>

namespace brevlo::pack {
namespace {

constexpr std::array<std::uint8_t, 8> kPngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::uint32_t kBitmapInfoHeaderSize = 40;

bool is_png(Bytes image) {
  return image.size() >= kPngSignature.size() &&
         std::equal(kPngSignature.begin(), kPngSignature.end(), image.begin());
}

bool is_dib(Bytes image) {
  const auto header_size = read_at<std::uint32_t>(image, 0);
  return header_size && *header_size == kBitmapInfoHeaderSize &&
         image.size() >= kBitmapInfoHeaderSize;
}

}  // namespace

PackResult<std::vector<IconImage>> read_ico(Bytes file) {
  const auto dir = read_at<IconDir>(file, 0);
  if (!dir) return pack_error(PackErrorKind::Malformed, "only " + std::to_string(file.size()) + " bytes");
  if (dir->idReserved != 0) {
    return pack_error(PackErrorKind::Malformed, "its header's reserved field is " + std::to_string(dir->idReserved) +
                           ", not 0");
  }
  if (dir->idType != 1) {
    return pack_error(PackErrorKind::Malformed, "its header's type is " + std::to_string(dir->idType) +
                           ", not 1 (icon)");
  }
  if (dir->idCount == 0) return pack_error(PackErrorKind::Malformed, "it holds no image");
  std::vector<IconImage> images;
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < dir->idCount; ++i) {
    const std::string which =
        "image " + std::to_string(i + 1) + " of " + std::to_string(dir->idCount);
    const auto entry = read_at<IconDirEntry>(file, sizeof(IconDir) + i * sizeof(IconDirEntry));
    if (!entry) return pack_error(PackErrorKind::Malformed, "its directory of " + std::to_string(dir->idCount) +
                                       " images is cut short");
    if (entry->dwBytesInRes == 0 ||
        !fits(entry->dwImageOffset, entry->dwBytesInRes, file.size())) {
      return pack_error(PackErrorKind::Malformed, which + " (" + std::to_string(entry->dwBytesInRes) + " bytes at " +
                             std::to_string(entry->dwImageOffset) + ") lies outside the file");
    }
    const Bytes data = file.subspan(entry->dwImageOffset, entry->dwBytesInRes);
    if (!is_png(data) && !is_dib(data)) {
      return pack_error(PackErrorKind::Malformed, which + " is neither a PNG nor a bitmap with a BITMAPINFOHEADER");
    }
    images.push_back({*entry, data});
    total += data.size();
  }
  // Images of an icon file do not share their bytes: no more of them than the file holds.
  if (total > file.size()) {
    return pack_error(PackErrorKind::Malformed, "its " + std::to_string(dir->idCount) + " images total " +
                           std::to_string(total) + " bytes, more than the file's " +
                           std::to_string(file.size()));
  }
  return images;
}

void replace_icons(ResourceSet& set, const std::vector<IconImage>& images) {
  remove_type(set, kRtIcon);
  remove_type(set, kRtGroupIcon);
  std::vector<std::uint8_t> group;
  append(group, IconDir{0, 1, static_cast<std::uint16_t>(images.size())});
  for (std::size_t i = 0; i < images.size(); ++i) {
    const IconDirEntry& e = images[i].entry;
    const auto id = static_cast<std::uint16_t>(i + 1);
    append(group, GroupIconDirEntry{e.bWidth, e.bHeight, e.bColorCount, e.bReserved, e.wPlanes,
                                    e.wBitCount, e.dwBytesInRes, id});
    put_resource(set, Resource{std::uint32_t{kRtIcon}, std::uint32_t{id},
                               std::uint32_t{kLangEnglishUs}, 0, images[i].data});
  }
  put_resource(set, Resource{std::uint32_t{kRtGroupIcon}, std::uint32_t{1},
                             std::uint32_t{kLangEnglishUs}, 0, std::move(group)});
}

}  // namespace brevlo::pack
