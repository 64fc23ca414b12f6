#pragma once
// The loop every "write all of it" shares: hand over what remains until nothing does.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>

#include "platform/error.hpp"

namespace brevlo {

// Calls write(remaining bytes) -> Result<std::size_t> until every byte is out. Stops at the first
// failure, or at a write that takes no byte, which fails as ErrorKind::WriteZero with zero_text. done is set to how many bytes went out, whatever the outcome.
template <class Write>
[[nodiscard]] Result<void> write_every_byte(
    std::span<const std::uint8_t> bytes, Write&& write, std::size_t& done,
    StaticText zero_text = "failed to write whole buffer") {
  done = 0;
  while (done < bytes.size()) {
    const Result<std::size_t> written = write(bytes.subspan(done));
    if (!written) return std::unexpected(written.error());
    if (*written == 0) return std::unexpected(Error::fixed(ErrorKind::WriteZero, zero_text));
    done += std::min(*written, bytes.size() - done);
  }
  return Result<void>();
}

// The same without the count.
template <class Write>
[[nodiscard]] Result<void> write_every_byte(std::span<const std::uint8_t> bytes, Write&& write) {
  std::size_t done = 0;
  return write_every_byte(bytes, std::forward<Write>(write), done);
}

}  // namespace brevlo
