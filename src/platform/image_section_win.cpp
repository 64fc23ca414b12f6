#include "platform/image_section_win.hpp"

#include <cstring>

#include "platform/windows_api_win.hpp"

namespace brevlo {

std::span<const std::uint8_t> own_image_section(std::string_view name) {
  if (name.size() > IMAGE_SIZEOF_SHORT_NAME) return {};
  const auto* base = reinterpret_cast<const std::uint8_t*>(GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  // The loader accepted these headers; a section is still checked against the image's size, so
  // a header that disagrees with itself gives an empty range instead of a read past the image.
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
  const DWORD image_size = nt->OptionalHeader.SizeOfImage;
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
    char padded[IMAGE_SIZEOF_SHORT_NAME] = {};
    std::memcpy(padded, name.data(), name.size());
    if (std::memcmp(section->Name, padded, IMAGE_SIZEOF_SHORT_NAME) != 0) continue;
    const DWORD start = section->VirtualAddress;
    const DWORD size = section->Misc.VirtualSize;
    if (start > image_size || size > image_size - start) return {};
    return {base + start, size};
  }
  return {};
}

}  // namespace brevlo
