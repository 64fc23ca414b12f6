#pragma once
// What an Authenticode signature (a PKCS #7 SignedData blob from a certificate table) states,
// decoded by the platform's own library: OpenSSL on Linux, CryptoAPI on Windows. Nothing here
// checks the chain of trust.

#include <string>
#include <vector>

#include "pack/digest.hpp"
#include "pack/pack_error.hpp"

namespace brevlo::pack {

// The first signer and the file digest the signature covers.
struct SignedDigest {
  std::string signer;            // the signer certificate's subject, most specific part first
  std::string signer_digest;     // the signer's digest algorithm, dotted OID
  std::string file_digest_oid;   // SpcIndirectDataContent's digest algorithm, dotted OID
  std::vector<std::uint8_t> file_digest;
};

// Decodes signed_data (DER); the reason when it is not an Authenticode SignedData with a signer
// whose certificate it carries.
[[nodiscard]] PackResult<SignedDigest> read_signed_digest(Bytes signed_data);

}  // namespace brevlo::pack
