#pragma once
// The images of a .ico file, and the icon resources made of them.

#include <cstdint>
#include <string>
#include <vector>

#include "pack/pack_error.hpp"
#include "pack/pe_format.hpp"
#include "pack/resources.hpp"

namespace brevlo::pack {

// One image of an icon file: its directory entry and its bytes (a view into the file).
struct IconImage {
  IconDirEntry entry;
  Bytes data;
};

// Reads a .ico: header reserved 0 and type 1, at least one image, every image inside the file and
// either a PNG or a bitmap with a BITMAPINFOHEADER, the images together no larger than the file.
// The refusal says which rule it breaks.
[[nodiscard]] PackResult<std::vector<IconImage>> read_ico(Bytes file);

// Replaces every icon and group icon of set with the images (RT_ICON 1..n) and one group icon
// (RT_GROUP_ICON 1) listing them, all in language 1033.
void replace_icons(ResourceSet& set, const std::vector<IconImage>& images);

}  // namespace brevlo::pack
