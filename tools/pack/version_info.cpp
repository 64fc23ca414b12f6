#include "pack/version_info.hpp"

#include <algorithm>

namespace brevlo::pack {
namespace {

constexpr std::uint16_t kTextType = 1;
constexpr std::uint16_t kBinaryType = 0;
constexpr std::u16string_view kStringTableKey = u"000004b0";

// One block of VS_VERSIONINFO: wLength, wValueLength, wType, a NUL-terminated key, padding to
// 4 bytes, the value, padding, the children.
struct Block {
  std::uint16_t value_length = 0;
  std::u16string key;
  std::uint64_t value = 0;  // offset of the value
  std::uint64_t end = 0;    // offset after the block
};

std::optional<Block> read_block(Bytes bytes, std::uint64_t offset, std::uint64_t limit) {
  const auto length = read_at<std::uint16_t>(bytes, offset);
  const auto value_length = read_at<std::uint16_t>(bytes, offset + 2);
  if (!length || !value_length || *length < 6 || !fits(offset, *length, limit)) {
    return std::nullopt;
  }
  Block block;
  block.value_length = *value_length;
  block.end = offset + *length;
  std::uint64_t at = offset + 6;
  for (;; at += 2) {
    const auto unit = read_at<std::uint16_t>(bytes, at);
    if (!unit || at + 2 > block.end) return std::nullopt;
    if (*unit == 0) break;
    block.key.push_back(static_cast<char16_t>(*unit));
  }
  block.value = align_up(at + 2, 4);
  return block;
}

// The child blocks that follow from offset to the end of their parent.
std::optional<std::vector<Block>> read_children(Bytes bytes, std::uint64_t offset,
                                                std::uint64_t end) {
  std::vector<Block> children;
  for (offset = align_up(offset, 4); offset < end; ) {
    auto child = read_block(bytes, offset, end);
    if (!child) return std::nullopt;
    offset = align_up(child->end, 4);
    children.push_back(std::move(*child));
  }
  return children;
}

bool same_text_ignoring_case(std::u16string_view a, std::u16string_view b) {
  const auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char16_t x,
                                                                               char16_t y) {
           return lower(x) == lower(y);
         });
}

// A block to write: its value bytes and its children.
struct Node {
  std::u16string_view key;
  std::uint16_t type = kTextType;
  std::uint16_t value_length = 0;
  std::vector<std::uint8_t> value;
  std::vector<Node> children;
};

std::uint64_t node_length(const Node& node) {
  std::uint64_t length = align_up(6 + 2 * (node.key.size() + 1), 4) + node.value.size();
  for (const Node& child : node.children) length = align_up(length, 4) + node_length(child);
  return length;
}

void write_node(std::vector<std::uint8_t>& out, const Node& node) {
  const std::size_t start = out.size();
  append(out, static_cast<std::uint16_t>(node_length(node)));
  append(out, node.value_length);
  append(out, node.type);
  for (char16_t unit : node.key) append(out, static_cast<std::uint16_t>(unit));
  append(out, std::uint16_t{0});
  out.resize(start + align_up(out.size() - start, 4), 0);
  out.insert(out.end(), node.value.begin(), node.value.end());
  for (const Node& child : node.children) {
    out.resize(start + align_up(out.size() - start, 4), 0);
    write_node(out, child);
  }
}

Node string_value(std::u16string_view key, const std::u16string& text) {
  Node node{key, kTextType, static_cast<std::uint16_t>(std::min<std::size_t>(text.size() + 1,
                                                                             0xFFFF)),
            {}, {}};
  for (char16_t unit : text) append(node.value, static_cast<std::uint16_t>(unit));
  append(node.value, std::uint16_t{0});
  return node;
}

}  // namespace

PackResult<VersionInfo> read_version_info(Bytes resource) {
  const auto fail = [](const std::string& what) {
    return pack_error(PackErrorKind::Malformed, "its version resource " + what);
  };
  const auto root = read_block(resource, 0, resource.size());
  if (!root || root->key != u"VS_VERSION_INFO") return fail("is not a VS_VERSIONINFO block");
  VersionInfo info;
  const auto fixed = read_at<FixedFileInfo>(resource, root->value);
  if (root->value_length != sizeof(FixedFileInfo) || !fixed ||
      root->value + sizeof(FixedFileInfo) > root->end ||
      fixed->dwSignature != kFixedFileInfoSignature) {
    return fail("has no fixed part");
  }
  info.fixed = *fixed;
  const auto blocks = read_children(resource, root->value + sizeof(FixedFileInfo), root->end);
  if (!blocks) return fail("has a block that leaves its parent");
  const Block* table = nullptr;
  std::vector<Block> tables;
  for (const Block& block : *blocks) {
    if (block.key != u"StringFileInfo") continue;
    auto children = read_children(resource, block.value, block.end);
    if (!children) return fail("has a block that leaves its parent");
    tables = std::move(*children);
    break;
  }
  for (const Block& candidate : tables) {
    if (same_text_ignoring_case(candidate.key, kStringTableKey)) table = &candidate;
  }
  if (table == nullptr) return fail("has no \"000004b0\" string table");
  const auto strings = read_children(resource, table->value, table->end);
  if (!strings) return fail("has a block that leaves its parent");
  struct Wanted {
    std::u16string_view key;
    const char* name;
    std::u16string* text;
    bool found;
  };
  Wanted wanted[] = {{u"FileDescription", "FileDescription", &info.file_description, false},
                     {u"ProductName", "ProductName", &info.product_name, false},
                     {u"ProductVersion", "ProductVersion", &info.product_version, false},
                     {u"FileVersion", "FileVersion", &info.file_version, false}};
  for (const Block& string : *strings) {
    for (Wanted& w : wanted) {
      if (string.key != w.key) continue;
      w.found = true;
      w.text->clear();
      for (std::uint64_t at = string.value; at + 2 <= string.end; at += 2) {
        const auto unit = *read_at<std::uint16_t>(resource, at);
        if (unit == 0) break;
        w.text->push_back(static_cast<char16_t>(unit));
      }
    }
  }
  for (const Wanted& w : wanted) {
    if (!w.found) return fail("has no " + std::string(w.name) + " value");
  }
  return info;
}

std::optional<std::vector<std::uint8_t>> write_version_info(const VersionInfo& info) {
  Node root{u"VS_VERSION_INFO", kBinaryType, sizeof(FixedFileInfo), {}, {}};
  append(root.value, info.fixed);
  Node table{kStringTableKey, kTextType, 0, {}, {}};
  table.children.push_back(string_value(u"FileDescription", info.file_description));
  table.children.push_back(string_value(u"ProductName", info.product_name));
  table.children.push_back(string_value(u"ProductVersion", info.product_version));
  table.children.push_back(string_value(u"FileVersion", info.file_version));
  Node strings{u"StringFileInfo", kTextType, 0, {}, {}};
  strings.children.push_back(std::move(table));
  root.children.push_back(std::move(strings));
  Node translation{u"Translation", kBinaryType, 4, {}, {}};
  append(translation.value, std::uint16_t{0});       // language neutral
  append(translation.value, std::uint16_t{0x04B0});  // Unicode
  Node vars{u"VarFileInfo", kTextType, 0, {}, {}};
  vars.children.push_back(std::move(translation));
  root.children.push_back(std::move(vars));
  if (node_length(root) > 0xFFFF) return std::nullopt;
  std::vector<std::uint8_t> out;
  write_node(out, root);
  return out;
}

std::optional<std::array<std::uint16_t, 4>> parse_version(std::string_view text) {
  std::array<std::uint16_t, 4> parts{};
  std::size_t count = 0;
  std::size_t pos = 0;
  while (true) {
    if (count == parts.size()) return std::nullopt;
    std::uint32_t value = 0;
    const std::size_t start = pos;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
      value = value * 10 + static_cast<std::uint32_t>(text[pos] - '0');
      if (value > 0xFFFF) return std::nullopt;
      ++pos;
    }
    if (pos == start) return std::nullopt;
    parts[count++] = static_cast<std::uint16_t>(value);
    if (pos == text.size()) return parts;
    if (text[pos] != '.') return std::nullopt;
    ++pos;
  }
}

}  // namespace brevlo::pack
