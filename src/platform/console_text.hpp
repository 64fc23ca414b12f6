#pragma once
// The console text path: UTF-8 bytes written to a console that takes UTF-16 text. A console whose
// output code page is not UTF-8 would show raw UTF-8 bytes as mojibake, so the text goes through
// WriteConsoleW instead. Everything here is plain logic over the one console call, so it runs the
// same on any platform; nothing allocates.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/error.hpp"

namespace brevlo {

// At most this many bytes (and so at most this many UTF-16 units) go to the console per write.
inline constexpr std::size_t kConsoleWriteLimit = 4096;

// The start of a UTF-8 sequence that an earlier write ended in the middle of (count 0 to 3).
struct Utf8CarryOver {
  std::array<std::uint8_t, 4> bytes{};
  std::uint8_t count = 0;
};

// The one console call of the text path (WriteConsoleW on Windows): writes UTF-16 units and tells
// how many the console took, or fails with the system error.
class ConsoleSink {
 public:
  [[nodiscard]] virtual Result<std::size_t> write_units(std::span<const char16_t> units) = 0;

 protected:
  ~ConsoleSink() = default;
};

// One device write of bytes to a console: gives how many bytes of `bytes` count as written (1
// while a character split across writes is being gathered in carry), or fails with
// "Windows stdio in console mode does not support writing non-UTF-8 byte sequences" when the
// bytes are not UTF-8, or with the console's own error. No character is ever split between two
// console calls.
[[nodiscard]] Result<std::size_t> write_console_text(Utf8CarryOver& carry,
                                                     std::span<const std::uint8_t> bytes,
                                                     ConsoleSink& console);

}  // namespace brevlo
