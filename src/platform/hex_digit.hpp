#pragma once
// Hexadecimal digits, for the forms that print bytes, hashes and codes.

namespace brevlo {

enum class HexCase { Lower, Upper };

// The digit of value's low four bits: 0-9, then a-f (Lower) or A-F (Upper).
constexpr char hex_digit(unsigned value, HexCase letters = HexCase::Lower) noexcept {
  value &= 0xF;
  if (value < 10) return static_cast<char>('0' + value);
  return static_cast<char>((letters == HexCase::Lower ? 'a' : 'A') + (value - 10));
}

}  // namespace brevlo
