// The digests inspect computes and the options section's reader.
#include "pack_test_support.hpp"

namespace brevlo::pack {
namespace pack_test {
namespace {

struct DigestRow {
  DigestAlgorithm algorithm;
  std::string_view name, oid, empty, abc;
};

const DigestRow kDigestRows[] = {
    {DigestAlgorithm::Sha1, "sha1", "1.3.14.3.2.26", "da39a3ee5e6b4b0d3255bfef95601890afd80709",
     "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {DigestAlgorithm::Sha256, "sha256", "2.16.840.1.101.3.4.2.1",
     "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
     "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {DigestAlgorithm::Sha384, "sha384", "2.16.840.1.101.3.4.2.2",
     "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51ad2f14898b95b",
     "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
    {DigestAlgorithm::Sha512, "sha512", "2.16.840.1.101.3.4.2.3",
     "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e",
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
};

class Digests : public ::testing::TestWithParam<DigestRow> {};

TEST_P(Digests, KnownAnswersWholeAndInPieces) {
  const DigestRow& row = GetParam();
  const std::uint8_t a[] = {'a'}, bc[] = {'b', 'c'};
  EXPECT_EQ(digest_name(row.algorithm), row.name);
  EXPECT_EQ(digest_from_oid(row.oid), row.algorithm);
  const auto empty = digest_of(row.algorithm, {});
  ASSERT_TRUE(empty.has_value()) << empty.error();
  EXPECT_EQ(hex_digits(*empty), row.empty);
  const Bytes pieces[] = {a, {}, bc};
  const auto abc = digest_of(row.algorithm, pieces);
  ASSERT_TRUE(abc.has_value()) << abc.error();
  EXPECT_EQ(hex_digits(*abc), row.abc);
}

INSTANTIATE_TEST_SUITE_P(Algorithms, Digests, ::testing::ValuesIn(kDigestRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DigestOid, Md5IsNotTaken) {
  EXPECT_EQ(digest_from_oid("1.2.840.113549.2.5"), std::nullopt);
}

// 1000 bytes of i * 7.
ByteVec long_input() {
  ByteVec bytes(1000);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
  return bytes;
}

struct ImageDigestRow {
  const char* name;
  ByteVec input;
  std::vector<std::size_t> cuts;  // where the input is split for the hasher
  std::string_view want;
};

const ImageDigestRow kImageDigestRows[] = {
    {"Empty", {}, {}, "99aa06d3014798d86001c324468d497f"},
    {"Abc", {'a', 'b', 'c'}, {1, 1}, "06b05ab6733a618578af5f94892f3950"},
    // Past the hasher's 256-byte internal buffer, split inside and across stripes.
    {"PastTheBuffer", long_input(), {1, 255, 256, 300, 999}, "abee229cdadad76d10ad30264426c830"},
};

class ImageDigestAnswer : public ::testing::TestWithParam<ImageDigestRow> {};

TEST_P(ImageDigestAnswer, WholeAndInPieces) {
  const ImageDigestRow& row = GetParam();
  EXPECT_EQ(hex_digits(image_digest(row.input)), row.want);
  ImageHasher hasher;
  std::size_t from = 0;
  for (const std::size_t cut : row.cuts) {
    hasher.update(Bytes(row.input).subspan(from, cut - from));
    from = cut;
  }
  hasher.update(Bytes(row.input).subspan(from));
  EXPECT_EQ(hex_digits(hasher.finish()), row.want);
}

INSTANTIATE_TEST_SUITE_P(Rows, ImageDigestAnswer, ::testing::ValuesIn(kImageDigestRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PackOptionsSection, RoundTripsWithEachFlagOnItsOwnBit) {
  PackOptions options;
  options.support_log = true;
  options.image_digest.fill(0xA5);
  const auto good = encode_pack_options(options);
  EXPECT_EQ(decode_pack_options(good), options);
  // Each flag has its own bit and comes back alone.
  for (const auto& [flag, field] : {std::pair{kFailureDialogFlag, &PackOptions::failure_dialog},
                                   std::pair{kSupportLogFlag, &PackOptions::support_log},
                                   std::pair{kBrandedNameFlag, &PackOptions::branded_name},
                                   std::pair{kSplashFlag, &PackOptions::splash}}) {
    PackOptions one;
    one.*field = true;
    const auto bytes = encode_pack_options(one);
    EXPECT_EQ(bytes[16] | bytes[17] << 8 | bytes[18] << 16 | bytes[19] << 24, flag);
    EXPECT_EQ(decode_pack_options(bytes), one);
  }
}

struct OptionsDamage {
  const char* name;
  std::function<void(ByteVec&)> damage;
};

const OptionsDamage kOptionsDamages[] = {
    {"Empty", [](ByteVec& b) { b.clear(); }},
    {"OneByteShort", [](ByteVec& b) { b.pop_back(); }},
    {"OneByteLong", [](ByteVec& b) { b.push_back(0); }},
    {"TheFirstVersionsMark", [](ByteVec& b) { b[12] = '1'; }},
    {"TheMarksLastByte", [](ByteVec& b) { b[15] = '?'; }},
    {"UnknownFlag", [](ByteVec& b) { b[16] |= 16; }},
    {"HighFlag", [](ByteVec& b) { b[19] = 0x80; }},
    {"ReservedWord", [](ByteVec& b) { b[23] = 1; }},
};

class PackOptionsSectionDamaged : public ::testing::TestWithParam<OptionsDamage> {};

TEST_P(PackOptionsSectionDamaged, IsNotRead) {
  PackOptions options;
  options.support_log = true;
  options.image_digest.fill(0xA5);
  const auto good = encode_pack_options(options);
  ByteVec bytes(good.begin(), good.end());
  GetParam().damage(bytes);
  EXPECT_EQ(decode_pack_options(bytes), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Rows, PackOptionsSectionDamaged, ::testing::ValuesIn(kOptionsDamages),
                         [](const auto& info) { return std::string(info.param.name); });


}  // namespace
}  // namespace pack_test
}  // namespace brevlo::pack
