#include "platform/windows_api_win.hpp"

#include <wincrypt.h>  // after <windows.h>
#include <wintrust.h>

#include "pack/signature.hpp"
#include "platform/text.hpp"
#include "platform/unique_resource.hpp"

namespace brevlo::pack {
namespace {

struct CloseMessage {
  void operator()(HCRYPTMSG message) const noexcept { CryptMsgClose(message); }
};
struct CloseStore {
  void operator()(HCERTSTORE store) const noexcept { CertCloseStore(store, 0); }
};
struct FreeCertificate {
  void operator()(PCCERT_CONTEXT certificate) const noexcept {
    CertFreeCertificateContext(certificate);
  }
};
using UniqueMessage = UniqueResource<HCRYPTMSG, CloseMessage>;
using UniqueStore = UniqueResource<HCERTSTORE, CloseStore>;
using UniqueCertificate = UniqueResource<PCCERT_CONTEXT, FreeCertificate>;
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// A parameter of the message, read with the size the first call reports.
std::vector<std::uint8_t> message_param(HCRYPTMSG message, DWORD type) {
  DWORD size = 0;
  if (!CryptMsgGetParam(message, type, 0, nullptr, &size)) return {};
  std::vector<std::uint8_t> data(size);
  if (!CryptMsgGetParam(message, type, 0, data.data(), &size)) return {};
  data.resize(size);
  return data;
}

}  // namespace

PackResult<SignedDigest> read_signed_digest(Bytes signed_data) {
  if (signed_data.size() > 0xFFFFFFFFu) return pack_error(PackErrorKind::Malformed, "the signature is too large");
  const UniqueMessage message(CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
  if (!message || !CryptMsgUpdate(message.get(), signed_data.data(),
                                  static_cast<DWORD>(signed_data.size()), TRUE)) {
    return pack_error(PackErrorKind::Malformed, "the signature is not PKCS #7 SignedData");
  }
  const std::vector<std::uint8_t> type = message_param(message.get(), CMSG_INNER_CONTENT_TYPE_PARAM);
  if (type.empty() || std::string(reinterpret_cast<const char*>(type.data())) != SPC_INDIRECT_DATA_OBJID) {
    return pack_error(PackErrorKind::Malformed, "the signature does not sign Authenticode indirect data");
  }
  const std::vector<std::uint8_t> content = message_param(message.get(), CMSG_CONTENT_PARAM);
  DWORD decoded_size = 0;
  if (content.empty() ||
      !CryptDecodeObject(kEncoding, SPC_INDIRECT_DATA_CONTENT_STRUCT, content.data(),
                         static_cast<DWORD>(content.size()), 0, nullptr, &decoded_size)) {
    return pack_error(PackErrorKind::Malformed, "its indirect data is not an SpcIndirectDataContent");
  }
  std::vector<std::uint8_t> decoded(decoded_size);
  if (!CryptDecodeObject(kEncoding, SPC_INDIRECT_DATA_CONTENT_STRUCT, content.data(),
                         static_cast<DWORD>(content.size()), 0, decoded.data(), &decoded_size)) {
    return pack_error(PackErrorKind::Malformed, "its indirect data is not an SpcIndirectDataContent");
  }
  const auto* indirect = reinterpret_cast<const SPC_INDIRECT_DATA_CONTENT*>(decoded.data());

  const std::vector<std::uint8_t> signer_bytes = message_param(message.get(), CMSG_SIGNER_INFO_PARAM);
  if (signer_bytes.empty()) return pack_error(PackErrorKind::Malformed, "the signature has no signer");
  const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(signer_bytes.data());
  const UniqueStore store(CertOpenStore(CERT_STORE_PROV_MSG, kEncoding, 0, 0, message.get()));
  CERT_INFO wanted{};
  wanted.Issuer = signer->Issuer;
  wanted.SerialNumber = signer->SerialNumber;
  const UniqueCertificate certificate(
      store ? CertGetSubjectCertificateFromStore(store.get(), kEncoding, &wanted) : nullptr);
  if (!certificate) return pack_error(PackErrorKind::Malformed, "the signature lacks its signer's certificate");

  SignedDigest out;
  CERT_NAME_BLOB subject = certificate.get()->pCertInfo->Subject;
  const DWORD flags = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
  const DWORD length = CertNameToStrW(X509_ASN_ENCODING, &subject, flags, nullptr, 0);
  std::u16string name(length, u'\0');
  if (length > 1) {
    CertNameToStrW(X509_ASN_ENCODING, &subject, flags, as_wide(name), length);
    name.resize(length - 1);
    out.signer = wtf8_from_utf16(name);
  }
  out.signer_digest = signer->HashAlgorithm.pszObjId ? signer->HashAlgorithm.pszObjId : "";
  out.file_digest_oid =
      indirect->DigestAlgorithm.pszObjId ? indirect->DigestAlgorithm.pszObjId : "";
  out.file_digest.assign(indirect->Digest.pbData, indirect->Digest.pbData + indirect->Digest.cbData);
  return out;
}

}  // namespace brevlo::pack
