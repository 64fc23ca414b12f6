#include "pack/resources.hpp"

#include <algorithm>
#include <set>

namespace brevlo::pack {
namespace {

constexpr std::uint32_t kHighBit = 0x80000000;
constexpr int kLevels = 3;  // type, name, language

struct TreeReader {
  Bytes directory;
  const RvaBytes& at_rva;
  std::set<std::uint64_t> seen;
  ResourceSet found;
  std::uint64_t entries = 0;     // over all tables
  std::uint64_t name_units = 0;  // in the keys of every resource found
  std::uint64_t data_total = 0;
};

std::uint64_t units_of(const ResourceId& id) {
  const auto* name = std::get_if<std::u16string>(&id);
  return name ? name->size() : 0;
}

std::unexpected<PackError> malformed(const std::string& what) {
  return pack_error(PackErrorKind::Malformed, "its resource directory " + what);
}

PackResult<ResourceId> read_key(const TreeReader& reader, std::uint32_t field) {
  if (!(field & kHighBit)) return ResourceId(field);
  const std::uint64_t offset = field & ~kHighBit;
  const auto length = read_at<std::uint16_t>(reader.directory, offset);
  if (!length || !fits(offset + 2, std::uint64_t{*length} * 2, reader.directory.size())) {
    return malformed("has a name at offset " + hex(offset) + " beyond its end");
  }
  std::u16string name(*length, u'\0');
  std::memcpy(name.data(), reader.directory.data() + offset + 2, name.size() * 2);
  return ResourceId(std::move(name));
}

PackResult<void> read_table(TreeReader& reader, std::uint64_t offset, int level,
                                            Resource& path) {
  if (!reader.seen.insert(offset).second) {
    return malformed("reaches offset " + hex(offset) + " twice");
  }
  const auto table = read_at<ResourceDirectory>(reader.directory, offset);
  const std::uint64_t count = table ? std::uint64_t{table->NumberOfNamedEntries} +
                                          table->NumberOfIdEntries
                                    : 0;
  if (!table || !fits(offset + sizeof(ResourceDirectory), count * sizeof(ResourceDirectoryEntry),
                      reader.directory.size())) {
    return malformed("has a table at offset " + hex(offset) + " beyond its end");
  }
  reader.entries += count;
  if (reader.entries > kMaxResourceEntries) {
    return malformed("has more than " + std::to_string(kMaxResourceEntries) + " entries");
  }
  for (std::uint64_t i = 0; i < count; ++i) {
    const auto entry = *read_at<ResourceDirectoryEntry>(
        reader.directory, offset + sizeof(ResourceDirectory) + i * sizeof(ResourceDirectoryEntry));
    auto key = read_key(reader, entry.Name);
    if (!key) return std::unexpected(key.error());
    (level == 0 ? path.type : level == 1 ? path.name : path.language) = std::move(*key);
    const bool is_table = entry.OffsetToData & kHighBit;
    const std::uint64_t target = entry.OffsetToData & ~kHighBit;
    if (level + 1 < kLevels) {
      if (!is_table) return malformed("has data where type, name and language tables belong");
      if (auto read = read_table(reader, target, level + 1, path); !read) return read;
      continue;
    }
    if (is_table) return malformed("nests deeper than type, name and language");
    if (!reader.seen.insert(target).second) {
      return malformed("reaches offset " + hex(target) + " twice");
    }
    const auto data_entry = read_at<ResourceDataEntry>(reader.directory, target);
    if (!data_entry) {
      return malformed("has a data entry at offset " + hex(target) + " beyond its end");
    }
    const auto data = reader.at_rva(data_entry->OffsetToData, data_entry->Size);
    if (!data) {
      return pack_error(PackErrorKind::Malformed, "its resource data at RVA " + hex(data_entry->OffsetToData) + " (" +
                             hex(data_entry->Size) + " bytes) lies outside the file");
    }
    reader.name_units += units_of(path.type) + units_of(path.name) + units_of(path.language);
    if (reader.name_units > kMaxResourceNameUnits) {
      return malformed("names its resources with more than " +
                       std::to_string(kMaxResourceNameUnits) + " characters in all");
    }
    reader.data_total += data->size();
    Resource leaf = path;
    leaf.code_page = data_entry->CodePage;
    leaf.data = *data;
    reader.found.push_back(std::move(leaf));
  }
  return {};
}

bool key_less(const Resource& a, const Resource& b) {
  return std::tie(a.type, a.name, a.language) < std::tie(b.type, b.name, b.language);
}

bool same_key(const Resource& a, const Resource& b) {
  return a.type == b.type && a.name == b.name && a.language == b.language;
}

// Where each part of the section goes. Tables follow the loader's order within each level.
struct SectionPlan {
  struct Table {
    int level = 0;
    std::uint64_t offset = 0;
    std::vector<ResourceId> keys;          // sorted
    std::vector<std::uint64_t> children;   // offsets of subtables, or of data entries
    std::vector<std::uint64_t> name_offsets;
  };
  std::vector<Table> tables;               // level by level
  std::vector<std::uint64_t> data_entries; // per resource
  std::vector<std::uint64_t> data;         // per resource
  std::uint64_t size = 0;
};

std::size_t table_size(std::size_t entries) {
  return sizeof(ResourceDirectory) + entries * sizeof(ResourceDirectoryEntry);
}

// Level 1: one table of types; level 2: a table of names per type; level 3: a table of
// languages per (type, name). Each table lists the indexes of set it spans.
std::vector<SectionPlan::Table> plan_tables(const ResourceSet& set) {
  std::vector<SectionPlan::Table> tables;
  struct Span {
    std::size_t begin, end;
  };
  std::vector<std::vector<Span>> levels(kLevels);
  levels[0].push_back({0, set.size()});
  for (int level = 0; level < kLevels; ++level) {
    for (const Span& span : levels[level]) {
      SectionPlan::Table table;
      table.level = level;
      for (std::size_t i = span.begin; i < span.end;) {
        const auto key_of = [&](std::size_t k) -> const ResourceId& {
          return level == 0 ? set[k].type : level == 1 ? set[k].name : set[k].language;
        };
        std::size_t j = i + 1;
        while (j < span.end && key_of(j) == key_of(i)) ++j;
        table.keys.push_back(key_of(i));
        if (level + 1 < kLevels) levels[level + 1].push_back({i, j});
        i = j;
      }
      tables.push_back(std::move(table));
    }
  }
  return tables;
}

// Where everything lies: the tables, the names, the data entries (8-byte aligned), then each
// resource's data (8-byte aligned); plan.size is where the last data ends.
void place_section_parts(const ResourceSet& set, SectionPlan& plan) {
  std::uint64_t offset = 0;
  for (SectionPlan::Table& table : plan.tables) {
    table.offset = offset;
    offset += table_size(table.keys.size());
  }
  for (SectionPlan::Table& table : plan.tables) {
    for (const ResourceId& key : table.keys) {
      if (const auto* name = std::get_if<std::u16string>(&key)) {
        table.name_offsets.push_back(offset);
        offset += 2 + 2 * name->size();
      } else {
        table.name_offsets.push_back(0);
      }
    }
  }
  offset = align_up(offset, 8);
  for (std::size_t i = 0; i < set.size(); ++i) {
    plan.data_entries.push_back(offset);
    offset += sizeof(ResourceDataEntry);
  }
  for (const Resource& resource : set) {
    offset = align_up(offset, 8);
    plan.data.push_back(offset);
    offset += resource.data.size();
  }
  plan.size = offset;
}

// Tables are listed level by level in key order, so each key of a type or name table points at
// the next table not yet pointed at, and each key of a language table at the next data entry.
void link_tables(SectionPlan& plan) {
  std::size_t next_table = 1;
  std::size_t next_leaf = 0;
  for (SectionPlan::Table& table : plan.tables) {
    for (std::size_t k = 0; k < table.keys.size(); ++k) {
      if (table.level + 1 < kLevels) {
        table.children.push_back(plan.tables[next_table++].offset | kHighBit);
      } else {
        table.children.push_back(plan.data_entries[next_leaf++]);
      }
    }
  }
}

SectionPlan plan_section(const ResourceSet& set) {
  SectionPlan plan;
  plan.tables = plan_tables(set);
  place_section_parts(set, plan);
  link_tables(plan);
  return plan;
}

}  // namespace

PackResult<ResourceSet> read_resources(DataDirectory dir, const RvaBytes& at_rva,
                                                       std::uint64_t data_limit) {
  if (dir.Size == 0) return ResourceSet();
  const auto directory = at_rva(dir.VirtualAddress, dir.Size);
  if (!directory) {
    return pack_error(PackErrorKind::Malformed, "its resource directory (RVA " + hex(dir.VirtualAddress) + ", " +
                           hex(dir.Size) + " bytes) lies outside the file");
  }
  TreeReader reader{*directory, at_rva, {}, {}};
  Resource path;
  if (auto read = read_table(reader, 0, 0, path); !read) return std::unexpected(read.error());
  if (reader.data_total > data_limit) {
    return malformed("names " + std::to_string(reader.data_total) +
                     " bytes of resource data, more than the file's " +
                     std::to_string(data_limit));
  }
  ResourceSet set = std::move(reader.found);
  std::stable_sort(set.begin(), set.end(), key_less);
  if (std::adjacent_find(set.begin(), set.end(), same_key) != set.end()) {
    return malformed("lists one resource twice");
  }
  return set;
}

void put_resource(ResourceSet& set, Resource resource) {
  const auto at = std::lower_bound(set.begin(), set.end(), resource, key_less);
  if (at != set.end() && same_key(*at, resource)) {
    *at = std::move(resource);
  } else {
    set.insert(at, std::move(resource));
  }
}

void remove_type(ResourceSet& set, std::uint32_t type) {
  std::erase_if(set, [&](const Resource& r) { return r.type == ResourceId(type); });
}

std::uint64_t resource_section_size(const ResourceSet& set) {
  return set.empty() ? 0 : plan_section(set).size;
}

ResourceSection lay_out_resource_section(const ResourceSet& set, std::uint32_t section_rva) {
  ResourceSection section;
  if (set.empty()) return section;
  const SectionPlan plan = plan_section(set);
  std::vector<std::uint8_t>& out = section.head;
  out.assign(plan.data_entries.empty() ? 0 : plan.data_entries.back() + sizeof(ResourceDataEntry),
             0);
  for (const SectionPlan::Table& table : plan.tables) {
    ResourceDirectory head{};
    for (const ResourceId& key : table.keys) {
      if (std::holds_alternative<std::u16string>(key)) {
        ++head.NumberOfNamedEntries;
      } else {
        ++head.NumberOfIdEntries;
      }
    }
    write_at(out, table.offset, head);
    for (std::size_t k = 0; k < table.keys.size(); ++k) {
      ResourceDirectoryEntry entry{};
      if (const auto* name = std::get_if<std::u16string>(&table.keys[k])) {
        entry.Name = static_cast<std::uint32_t>(table.name_offsets[k]) | kHighBit;
        write_at(out, table.name_offsets[k], static_cast<std::uint16_t>(name->size()));
        std::memcpy(out.data() + table.name_offsets[k] + 2, name->data(), name->size() * 2);
      } else {
        entry.Name = std::get<std::uint32_t>(table.keys[k]);
      }
      entry.OffsetToData = static_cast<std::uint32_t>(table.children[k]);
      write_at(out, table.offset + sizeof(ResourceDirectory) + k * sizeof(entry), entry);
    }
  }
  section.pieces.push_back(out);
  std::uint64_t end = out.size();
  for (std::size_t i = 0; i < set.size(); ++i) {
    const ResourceDataEntry entry{static_cast<std::uint32_t>(section_rva + plan.data[i]),
                                  static_cast<std::uint32_t>(set[i].data.size()),
                                  set[i].code_page, 0};
    write_at(out, plan.data_entries[i], entry);
    section.pieces.push_back(Bytes(kZeros).first(plan.data[i] - end));
    section.pieces.push_back(set[i].data);
    end = plan.data[i] + set[i].data.size();
  }
  std::erase_if(section.pieces, [](Bytes piece) { return piece.empty(); });
  return section;
}

std::vector<std::uint8_t> write_resource_section(const ResourceSet& set,
                                                 std::uint32_t section_rva) {
  std::vector<std::uint8_t> out;
  for (const Bytes piece : lay_out_resource_section(set, section_rva).pieces) {
    out.insert(out.end(), piece.begin(), piece.end());
  }
  return out;
}

}  // namespace brevlo::pack
