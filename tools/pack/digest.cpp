#include "pack/digest.hpp"

#include "platform/hex_digit.hpp"

namespace brevlo::pack {

std::string_view digest_name(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::Sha1: return "sha1";
    case DigestAlgorithm::Sha256: return "sha256";
    case DigestAlgorithm::Sha384: return "sha384";
    case DigestAlgorithm::Sha512: return "sha512";
  }
  return "";
}

std::optional<DigestAlgorithm> digest_from_oid(std::string_view oid) {
  if (oid == "1.3.14.3.2.26") return DigestAlgorithm::Sha1;
  if (oid == "2.16.840.1.101.3.4.2.1") return DigestAlgorithm::Sha256;
  if (oid == "2.16.840.1.101.3.4.2.2") return DigestAlgorithm::Sha384;
  if (oid == "2.16.840.1.101.3.4.2.3") return DigestAlgorithm::Sha512;
  return std::nullopt;
}

std::string hex_digits(Bytes bytes) {
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const std::uint8_t byte : bytes) {
    text += hex_digit(byte >> 4);
    text += hex_digit(byte);
  }
  return text;
}

}  // namespace brevlo::pack
