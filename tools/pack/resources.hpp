#pragma once
// The resource tree of an executable (type, then name, then language, then data) as a sorted
// list, read from a stub with every offset checked, and written anew as a .rsrc section.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "pack/pack_error.hpp"
#include "pack/pe_format.hpp"

namespace brevlo::pack {

// One level's key: a name or a number. Ordered as the loader searches a directory: every name
// before every number, names by UTF-16 code units, numbers ascending.
using ResourceId = std::variant<std::u16string, std::uint32_t>;

// A resource's bytes: a view of the file they were read from (which must outlive it), or bytes
// of its own, shared between copies.
class ResourceData {
 public:
  ResourceData() = default;
  ResourceData(Bytes view) : view_(view) {}
  ResourceData(std::vector<std::uint8_t> owned)
      : owned_(std::make_shared<const std::vector<std::uint8_t>>(std::move(owned))),
        view_(*owned_) {}

  const std::uint8_t* data() const { return view_.data(); }
  std::size_t size() const { return view_.size(); }
  const std::uint8_t* begin() const { return view_.data(); }
  const std::uint8_t* end() const { return view_.data() + view_.size(); }
  operator Bytes() const { return view_; }
  friend bool operator==(const ResourceData& a, const ResourceData& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }

 private:
  std::shared_ptr<const std::vector<std::uint8_t>> owned_;
  Bytes view_;
};

// One leaf of the tree.
struct Resource {
  ResourceId type;
  ResourceId name;
  ResourceId language;
  std::uint32_t code_page = 0;
  ResourceData data;
};

// Resources sorted by (type, name, language), each key once.
using ResourceSet = std::vector<Resource>;

// Gives the bytes at [rva, rva + size) of the image, or nothing when they are not in its file.
using RvaBytes = std::function<std::optional<Bytes>(std::uint32_t rva, std::uint32_t size)>;

// The most entries a resource directory may have over all its tables, and the most characters
// of names its resources may carry: bounds on what reading the tree makes.
inline constexpr std::uint64_t kMaxResourceEntries = 131072;
inline constexpr std::uint64_t kMaxResourceNameUnits = 1048576;

// Reads the tree whose root is the resource data directory dir; each resource's data is a view
// of the file. Refuses (with the reason) a directory outside the file, tables, names or data
// entries that leave it, a tree deeper or shallower than three levels, a table or data entry
// reached twice, data outside the file, a key given twice, more entries or name characters than
// the bounds above, and resources whose data adds up to more than data_limit bytes (the file's
// size: resources of a file do not share their bytes).
[[nodiscard]] PackResult<ResourceSet> read_resources(DataDirectory dir,
                                                                     const RvaBytes& at_rva,
                                                                     std::uint64_t data_limit);

// Puts resource into the set in its sorted place, replacing one with the same key.
void put_resource(ResourceSet& set, Resource resource);

// Removes every resource of the given numeric type.
void remove_type(ResourceSet& set, std::uint32_t type);

// The size of the section write_resource_section makes of set.
std::uint64_t resource_section_size(const ResourceSet& set);

// The .rsrc section of set at section_rva, breadth-first: the directory tables level by level,
// the name strings, the data entries (each holding its data's RVA), then the data, every data
// entry and data block 8-byte aligned. The head (tables, names, data entries) is made here; the
// data is given where it lies. Pieces point into head and into set, which must outlive them.
struct ResourceSection {
  std::vector<std::uint8_t> head;
  std::vector<Bytes> pieces;  // the whole section in order, head first
};
ResourceSection lay_out_resource_section(const ResourceSet& set, std::uint32_t section_rva);

// The same section in one buffer.
std::vector<std::uint8_t> write_resource_section(const ResourceSet& set,
                                                 std::uint32_t section_rva);

}  // namespace brevlo::pack
