#include "core/join_path.hpp"

#include <cstddef>
#include <vector>

namespace brevlo {
namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

bool is_ascii_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

enum class PrefixKind { None, Drive, Unc, Device, Verbatim, VerbatimUnc, VerbatimDrive };

struct Prefix {
  PrefixKind kind = PrefixKind::None;
  std::size_t length = 0;

  bool present() const { return kind != PrefixKind::None; }
  bool verbatim() const {
    return kind == PrefixKind::Verbatim || kind == PrefixKind::VerbatimUnc ||
           kind == PrefixKind::VerbatimDrive;
  }
};

// The text up to the next separator (only "\" in verbatim paths, where "/" is an ordinary
// character), and where the rest starts after that separator.
struct Split {
  std::string_view head;
  std::size_t rest = 0;
};

Split next_component(std::string_view path, std::size_t from, bool verbatim) {
  std::size_t end = from;
  while (end < path.size() && !(path[end] == '\\' || (!verbatim && path[end] == '/'))) ++end;
  return {path.substr(from, end - from), end < path.size() ? end + 1 : end};
}

Prefix parse_prefix(std::string_view path) {
  if (path.starts_with(R"(\\?\)")) {
    // Verbatim forms only know "\" as the separator.
    if (path.substr(4).starts_with(R"(UNC\)")) {
      const Split server = next_component(path, 8, true);
      const Split share = next_component(path, server.rest, true);
      std::size_t length = 8 + server.head.size();
      if (!share.head.empty()) length += 1 + share.head.size();
      return {PrefixKind::VerbatimUnc, length};
    }
    if (path.size() >= 6 && is_ascii_letter(path[4]) && path[5] == ':' &&
        (path.size() == 6 || path[6] == '\\')) {
      return {PrefixKind::VerbatimDrive, 6};
    }
    return {PrefixKind::Verbatim, 4 + next_component(path, 4, true).head.size()};
  }
  if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) {
    if (path.size() >= 4 && path[2] == '.' && is_separator(path[3])) {
      return {PrefixKind::Device, 4 + next_component(path, 4, false).head.size()};
    }
    const Split server = next_component(path, 2, false);
    const Split share = next_component(path, server.rest, false);
    if (!server.head.empty() && !share.head.empty()) {
      return {PrefixKind::Unc, 2 + server.head.size() + 1 + share.head.size()};
    }
    return {};
  }
  if (path.size() >= 2 && is_ascii_letter(path[0]) && path[1] == ':') {
    return {PrefixKind::Drive, 2};
  }
  return {};
}

// Whether the character right after the prefix is a separator (either kind, also in verbatim
// paths).
bool has_physical_root(std::string_view path, const Prefix& prefix) {
  return path.size() > prefix.length && is_separator(path[prefix.length]);
}

bool has_root(std::string_view path) {
  const Prefix prefix = parse_prefix(path);
  if (prefix.present() && prefix.kind != PrefixKind::Drive) return true;
  return has_physical_root(path, prefix);
}

enum class PartKind { Prefix, Root, Current, Parent, Name };

struct Part {
  PartKind kind;
  std::string_view text;
};

// The parts of a path after its prefix and root: empty parts vanish; "." is kept as a part only
// in verbatim paths (where it is a real name to the file system) and at the very start of a
// relative path.
void append_body_parts(std::vector<Part>& parts, std::string_view body, bool verbatim,
                       bool leading_current) {
  std::size_t start = 0;
  for (bool first = true;; first = false) {
    const Split split = next_component(body, start, verbatim);
    const std::string_view head = split.head;
    if (head == "..") {
      parts.push_back({PartKind::Parent, head});
    } else if (head == ".") {
      if (verbatim || (first && leading_current)) parts.push_back({PartKind::Current, head});
    } else if (!head.empty()) {
      parts.push_back({PartKind::Name, head});
    }
    if (start + head.size() >= body.size()) break;  // no separator after this part
    start = split.rest;
  }
}

std::vector<Part> parts_of(std::string_view path) {
  std::vector<Part> parts;
  const Prefix prefix = parse_prefix(path);
  std::size_t body = prefix.length;
  if (prefix.present()) parts.push_back({PartKind::Prefix, path.substr(0, prefix.length)});
  const bool root = has_physical_root(path, prefix);
  if (root) {
    parts.push_back({PartKind::Root, "\\"});
    ++body;
  }
  append_body_parts(parts, path.substr(body), prefix.verbatim(), !prefix.present() && !root);
  return parts;
}

// A verbatim base is not normalised by the system, so "." and ".." of the component are resolved
// here and the parts are written with "\" only.
std::string join_verbatim(std::string_view base, std::string_view component) {
  std::vector<Part> parts = parts_of(base);
  for (const Part& part : parts_of(component)) {
    switch (part.kind) {
      case PartKind::Root:
        parts.resize(1);  // back to the base's prefix
        parts.push_back(part);
        break;
      case PartKind::Current:
        break;
      case PartKind::Parent:
        if (!parts.empty() && parts.back().kind == PartKind::Name) parts.pop_back();
        break;
      default:
        parts.push_back(part);
        break;
    }
  }
  std::string joined;
  bool need_separator = false;
  for (const Part& part : parts) {
    if (need_separator && part.kind != PartKind::Root) joined += '\\';
    joined += part.text;
    // A verbatim prefix is never a bare drive, so a separator always follows it.
    need_separator = part.kind != PartKind::Root;
  }
  return joined;
}

}  // namespace

std::string join_path(std::string_view base, std::string_view component) {
  const Prefix base_prefix = parse_prefix(base);
  bool need_separator = !base.empty() && !is_separator(base.back());
  if (base_prefix.kind == PrefixKind::Drive && base_prefix.length == base.size()) {
    need_separator = false;  // "D:" + "x" is "D:x", relative to D:'s current directory
  }

  if (parse_prefix(component).present()) return std::string(component);
  if (base_prefix.verbatim() && !component.empty()) return join_verbatim(base, component);

  std::string joined(base);
  if (has_root(component)) {
    joined.resize(base_prefix.length);
  } else if (need_separator) {
    joined += '\\';
  }
  joined += component;
  return joined;
}

std::string application_path_under(std::string_view local_app_data, const GameConfig& config) {
  const std::string product_folder = join_path(local_app_data, config.productName);
  return join_path(product_folder, config.mainBinaryName + ".exe");
}

}  // namespace brevlo
