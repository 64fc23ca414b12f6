#include "core/payload.hpp"

#include <algorithm>
#include <cstring>

namespace brevlo {
namespace {

constexpr std::size_t kFlagsAt = 16;
constexpr std::size_t kReservedAt = 20;
constexpr std::size_t kDigestAt = 24;

void put_u32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t get_u32(const std::uint8_t* at) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= std::uint32_t{at[i]} << (8 * i);
  return value;
}

}  // namespace

std::array<std::uint8_t, kOptionsSize> encode_pack_options(const PackOptions& options) {
  std::array<std::uint8_t, kOptionsSize> bytes{};
  std::memcpy(bytes.data(), kOptionsMark, sizeof kOptionsMark);
  put_u32(bytes.data() + kFlagsAt, (options.failure_dialog ? kFailureDialogFlag : 0) |
                                       (options.support_log ? kSupportLogFlag : 0) |
                                       (options.branded_name ? kBrandedNameFlag : 0) |
                                       (options.splash ? kSplashFlag : 0));
  std::ranges::copy(options.image_digest, bytes.begin() + kDigestAt);
  return bytes;
}

std::optional<PackOptions> decode_pack_options(std::span<const std::uint8_t> section) {
  if (section.size() != kOptionsSize) return std::nullopt;
  if (std::memcmp(section.data(), kOptionsMark, sizeof kOptionsMark) != 0) return std::nullopt;
  const std::uint32_t flags = get_u32(section.data() + kFlagsAt);
  constexpr std::uint32_t kKnown = kFailureDialogFlag | kSupportLogFlag | kBrandedNameFlag | kSplashFlag;
  if ((flags & ~kKnown) != 0) return std::nullopt;
  if (get_u32(section.data() + kReservedAt) != 0) return std::nullopt;
  PackOptions options;
  options.failure_dialog = (flags & kFailureDialogFlag) != 0;
  options.support_log = (flags & kSupportLogFlag) != 0;
  options.branded_name = (flags & kBrandedNameFlag) != 0;
  options.splash = (flags & kSplashFlag) != 0;
  std::copy_n(section.begin() + kDigestAt, options.image_digest.size(),
              options.image_digest.begin());
  return options;
}

}  // namespace brevlo
