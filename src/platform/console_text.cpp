#include "platform/console_text.hpp"

#include <algorithm>

namespace brevlo {
namespace {

Error not_utf8() {
  return Error::fixed(ErrorKind::InvalidData,
                      "Windows stdio in console mode does not support writing non-UTF-8 byte "
                      "sequences");
}

bool is_continuation(std::uint8_t byte) { return (byte & 0xC0) == 0x80; }

// The length of the sequence that a first byte announces; 0 for a byte that cannot start one
// (a continuation byte, the overlong leads C0 and C1, and F5 to FF).
std::size_t announced_length(std::uint8_t first) {
  if (first < 0x80) return 1;
  if (first < 0xC2) return 0;
  if (first < 0xE0) return 2;
  if (first < 0xF0) return 3;
  if (first < 0xF5) return 4;
  return 0;
}

// The length of the valid UTF-8 sequence at the start of bytes, 0 when there is none. Overlong
// forms, encoded surrogates and code points above U+10FFFF are not valid.
std::size_t valid_sequence_at(std::span<const std::uint8_t> bytes) {
  const std::size_t length = announced_length(bytes[0]);
  if (length == 0 || length > bytes.size()) return 0;
  if (length == 1) return 1;
  std::uint8_t low = 0x80;
  std::uint8_t high = 0xBF;
  switch (bytes[0]) {
    case 0xE0: low = 0xA0; break;
    case 0xED: high = 0x9F; break;
    case 0xF0: low = 0x90; break;
    case 0xF4: high = 0x8F; break;
    default: break;
  }
  if (bytes[1] < low || bytes[1] > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (!is_continuation(bytes[i])) return 0;
  }
  return length;
}

std::size_t valid_prefix_length(std::span<const std::uint8_t> bytes) {
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const std::size_t length = valid_sequence_at(bytes.subspan(pos));
    if (length == 0) break;
    pos += length;
  }
  return pos;
}

// Converts valid UTF-8 to UTF-16; out has room for one unit per byte, which always suffices.
std::size_t to_utf16(std::span<const std::uint8_t> text, char16_t* out) {
  std::size_t count = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = announced_length(text[pos]);
    char32_t cp = length == 1 ? text[pos] : text[pos] & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) cp = (cp << 6) | (text[pos + i] & 0x3F);
    pos += length;
    if (cp < 0x10000) {
      out[count++] = static_cast<char16_t>(cp);
    } else {
      cp -= 0x10000;
      out[count++] = static_cast<char16_t>(0xD800 + (cp >> 10));
      out[count++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
  }
  return count;
}

bool is_low_surrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The UTF-8 length of units that the console took. A high surrogate counts 3 and its low half 1,
// so a whole pair counts the 4 bytes its character had.
std::size_t utf8_length(std::span<const char16_t> units) {
  std::size_t count = 0;
  for (const char16_t unit : units) {
    if (unit < 0x80) {
      count += 1;
    } else if (unit < 0x800) {
      count += 2;
    } else if (is_low_surrogate(unit)) {
      count += 1;
    } else {
      count += 3;
    }
  }
  return count;
}

// Writes valid, non-empty UTF-8 text with one console call, cut at the last character boundary
// at or before the write limit.
Result<std::size_t> write_valid_text(std::span<const std::uint8_t> text, ConsoleSink& console) {
  std::size_t length = std::min(text.size(), kConsoleWriteLimit);
  while (length < text.size() && is_continuation(text[length])) --length;
  text = text.first(length);

  std::array<char16_t, kConsoleWriteLimit> units;
  const std::size_t unit_count = to_utf16(text, units.data());
  const auto taken = console.write_units(std::span(units.data(), unit_count));
  if (!taken) return std::unexpected(taken.error());
  std::size_t written = *taken;
  if (written >= unit_count) return text.size();

  // The console took half of a surrogate pair. Its other half cannot be held back for the next
  // write without reporting bytes that were never written, so it goes out by itself now.
  if (is_low_surrogate(units[written])) {
    (void)console.write_units(std::span(units.data() + written, 1));
    ++written;
  }
  return utf8_length(std::span(units.data(), written));
}

}  // namespace

Result<std::size_t> write_console_text(Utf8CarryOver& carry, std::span<const std::uint8_t> bytes,
                                       ConsoleSink& console) {
  if (bytes.empty()) return 0;

  if (carry.count > 0) {
    if (!is_continuation(bytes[0])) {
      carry.count = 0;
      return std::unexpected(not_utf8());
    }
    carry.bytes[carry.count++] = bytes[0];
    if (carry.count < announced_length(carry.bytes[0])) return 1;
    const std::array<std::uint8_t, 4> sequence = carry.bytes;
    const std::span<const std::uint8_t> character(sequence.data(), carry.count);
    carry.count = 0;
    if (valid_sequence_at(character) != character.size()) return std::unexpected(not_utf8());
    const auto written = write_valid_text(character, console);
    if (!written) return std::unexpected(written.error());
    return 1;
  }

  const auto head = bytes.first(std::min(bytes.size(), kConsoleWriteLimit));
  const std::size_t valid = valid_prefix_length(head);
  if (valid > 0) return write_valid_text(head.first(valid), console);

  // Nothing valid at the start: either a character that the caller's next write completes, or
  // bytes that are not UTF-8 at all.
  const std::size_t announced = announced_length(bytes[0]);
  if (announced > 1 && bytes.size() < announced) {
    carry.bytes[0] = bytes[0];
    carry.count = 1;
    return 1;
  }
  return std::unexpected(not_utf8());
}

}  // namespace brevlo
