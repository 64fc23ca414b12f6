#pragma once
// The resource tree of an executable (type, then name, then language, then data) as a sorted
// list, read from a stub with every offset checked, and written anew as a .rsrc section.

#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "pack/pe_format.hpp"

namespace brevlo::pack {

// One level's key: a name or a number. Ordered as the loader searches a directory: every name
// before every number, names by UTF-16 code units, numbers ascending.
using ResourceId = std::variant<std::u16string, std::uint32_t>;

// One leaf of the tree.
struct Resource {
  ResourceId type;
  ResourceId name;
  ResourceId language;
  std::uint32_t code_page = 0;
  std::vector<std::uint8_t> data;
};

// Resources sorted by (type, name, language), each key once.
using ResourceSet = std::vector<Resource>;

// Gives the bytes at [rva, rva + size) of the image, or nothing when they are not in its file.
using RvaBytes = std::function<std::optional<Bytes>(std::uint32_t rva, std::uint32_t size)>;

// Reads the tree whose root is the resource data directory dir. Refuses (with the reason) a
// directory outside the file, tables, names or data entries that leave it, a tree deeper or
// shallower than three levels, a table or data entry reached twice, data outside the file, and a
// key given twice.
[[nodiscard]] std::expected<ResourceSet, std::string> read_resources(DataDirectory dir,
                                                                     const RvaBytes& at_rva);

// Puts resource into the set in its sorted place, replacing one with the same key.
void put_resource(ResourceSet& set, Resource resource);

// Removes every resource of the given numeric type.
void remove_type(ResourceSet& set, std::uint32_t type);

// The size of the section write_resource_section makes of set.
std::size_t resource_section_size(const ResourceSet& set);

// The .rsrc section of set at section_rva, breadth-first: the directory tables level by level,
// the name strings, the data entries (each holding its data's RVA), then the data, every data
// entry and data block 8-byte aligned.
std::vector<std::uint8_t> write_resource_section(const ResourceSet& set,
                                                 std::uint32_t section_rva);

}  // namespace brevlo::pack
