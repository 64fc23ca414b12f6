#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <climits>

#include "pack/signature.hpp"
#include "platform/unique_resource.hpp"

namespace brevlo::pack {
namespace {

// OpenSSL's objects, each freed with its own function.
template <auto Free>
struct FreeWith {
  void operator()(auto* object) const noexcept { Free(object); }
};
void free_any_sequence(ASN1_SEQUENCE_ANY* s) { sk_ASN1_TYPE_pop_free(s, ASN1_TYPE_free); }
using UniquePkcs7 = UniqueResource<PKCS7*, FreeWith<PKCS7_free>>;
using UniqueX509Sig = UniqueResource<X509_SIG*, FreeWith<X509_SIG_free>>;
using UniqueBio = UniqueResource<BIO*, FreeWith<BIO_free_all>>;
using UniqueSequence = UniqueResource<ASN1_SEQUENCE_ANY*, FreeWith<free_any_sequence>>;

constexpr const char* kSpcIndirectData = "1.3.6.1.4.1.311.2.1.4";

std::string oid_text(const ASN1_OBJECT* object) {
  char text[128];
  const int length = OBJ_obj2txt(text, sizeof text, object, 1);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof text) return "";
  return text;
}

std::string subject_text(X509* certificate) {
  const UniqueBio bio(BIO_new(BIO_s_mem()));
  if (!bio) return "";
  // Most specific part first, ", " between parts, UTF-8 as it is: what Windows shows.
  const unsigned long flags = XN_FLAG_SEP_CPLUS_SPC | XN_FLAG_DN_REV | XN_FLAG_FN_SN |
                              ASN1_STRFLGS_UTF8_CONVERT | ASN1_STRFLGS_ESC_CTRL;
  if (X509_NAME_print_ex(bio.get(), X509_get_subject_name(certificate), 0, flags) < 0) return "";
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : "";
}

}  // namespace

PackResult<SignedDigest> read_signed_digest(Bytes signed_data) {
  if (signed_data.size() > LONG_MAX) return pack_error(PackErrorKind::Malformed, "the signature is too large");
  const unsigned char* p = signed_data.data();
  const UniquePkcs7 pkcs7(d2i_PKCS7(nullptr, &p, static_cast<long>(signed_data.size())));
  if (!pkcs7 || !PKCS7_type_is_signed(pkcs7.get()) || pkcs7.get()->d.sign == nullptr ||
      pkcs7.get()->d.sign->contents == nullptr) {
    return pack_error(PackErrorKind::Malformed, "the signature is not PKCS #7 SignedData");
  }
  PKCS7* contents = pkcs7.get()->d.sign->contents;
  if (oid_text(contents->type) != kSpcIndirectData || contents->d.other == nullptr ||
      contents->d.other->type != V_ASN1_SEQUENCE) {
    return pack_error(PackErrorKind::Malformed, "the signature does not sign Authenticode indirect data");
  }
  // SpcIndirectDataContent ::= SEQUENCE { data SpcAttributeTypeAndOptionalValue,
  //                                       messageDigest DigestInfo }
  const ASN1_STRING* indirect = contents->d.other->value.sequence;
  const unsigned char* q = ASN1_STRING_get0_data(indirect);
  const UniqueSequence fields(d2i_ASN1_SEQUENCE_ANY(nullptr, &q, ASN1_STRING_length(indirect)));
  if (!fields || sk_ASN1_TYPE_num(fields.get()) != 2 ||
      sk_ASN1_TYPE_value(fields.get(), 1)->type != V_ASN1_SEQUENCE) {
    return pack_error(PackErrorKind::Malformed, "its indirect data is not an SpcIndirectDataContent");
  }
  const ASN1_STRING* digest_info = sk_ASN1_TYPE_value(fields.get(), 1)->value.sequence;
  const unsigned char* r = ASN1_STRING_get0_data(digest_info);
  const UniqueX509Sig sig(d2i_X509_SIG(nullptr, &r, ASN1_STRING_length(digest_info)));
  if (!sig) return pack_error(PackErrorKind::Malformed, "its indirect data holds no DigestInfo");
  const X509_ALGOR* algorithm = nullptr;
  const ASN1_OCTET_STRING* digest = nullptr;
  X509_SIG_get0(sig.get(), &algorithm, &digest);
  const ASN1_OBJECT* algorithm_oid = nullptr;
  X509_ALGOR_get0(&algorithm_oid, nullptr, nullptr, algorithm);

  STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(pkcs7.get());
  if (signers == nullptr || sk_PKCS7_SIGNER_INFO_num(signers) < 1) {
    return pack_error(PackErrorKind::Malformed, "the signature has no signer");
  }
  PKCS7_SIGNER_INFO* signer = sk_PKCS7_SIGNER_INFO_value(signers, 0);
  X509* certificate = X509_find_by_issuer_and_serial(pkcs7.get()->d.sign->cert,
                                                     signer->issuer_and_serial->issuer,
                                                     signer->issuer_and_serial->serial);
  if (certificate == nullptr) return pack_error(PackErrorKind::Malformed, "the signature lacks its signer's certificate");

  SignedDigest out;
  out.signer = subject_text(certificate);
  out.signer_digest = oid_text(signer->digest_alg->algorithm);
  out.file_digest_oid = oid_text(algorithm_oid);
  const unsigned char* bytes = ASN1_STRING_get0_data(digest);
  out.file_digest.assign(bytes, bytes + ASN1_STRING_length(digest));
  return out;
}

}  // namespace brevlo::pack
