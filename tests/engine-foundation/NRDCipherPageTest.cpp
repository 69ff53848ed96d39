// The page-cipher choice: key and vector setup of the eight algorithms, the 4056-byte page round trip,
// reuse of one key setup across pages, and committed ciphertext digests as a regression fixture.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "engine/foundation/NRDCipherPage.h"
#include "tests/engine-foundation/NRDCipherTestUtil.h"

using namespace nrd;
using nrd_test::ToHex;

namespace {

constexpr int kPage = 4056;

std::vector<std::uint8_t> Page(int seed) {
  std::vector<std::uint8_t> page(kPage);
  std::uint32_t x = 2463534242u + static_cast<std::uint32_t>(seed);
  for (auto& b : page) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x);
  }
  return page;
}

const TNRDCryptoAlgorithm kAll[] = {craRijndael_128, craRijndael_256, craDES_Single, craDES_Triple,
                                    craBlowfish,     craTwofish_128,  craTwofish_256, craSquare};

}  // namespace

TEST(NRDCipherPage, AlgorithmTable) {
  struct Row {
    TNRDCryptoAlgorithm algorithm;
    TCipherClass cipher;
    THashClass hash;
    int keyBytes;
    int block;
    const char* name;
  } rows[] = {
      {craRijndael_128, TCipher_Rijndael::Class(), THash_RipeMD128::Class(), 16, 16, "Rijndael_128"},
      {craRijndael_256, TCipher_Rijndael::Class(), THash_RipeMD256::Class(), 32, 16, "Rijndael_256"},
      {craDES_Single, TCipher_1DES::Class(), THash_RipeMD128::Class(), 8, 8, "DES_Single"},
      {craDES_Triple, TCipher_3TDES::Class(), THash_RipeMD128::Class(), 16, 24, "DES_Triple"},
      {craBlowfish, TCipher_Blowfish::Class(), THash_RipeMD256::Class(), 32, 8, "Blowfish"},
      {craTwofish_128, TCipher_Twofish::Class(), THash_RipeMD128::Class(), 16, 16, "Twofish_128"},
      {craTwofish_256, TCipher_Twofish::Class(), THash_RipeMD256::Class(), 32, 16, "Twofish_256"},
      {craSquare, TCipher_Square::Class(), THash_RipeMD128::Class(), 16, 16, "Square"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_STREQ(CryptoAlgorithmNames[r.algorithm], r.name);
    EXPECT_EQ(CryptoCipherClass(r.algorithm), r.cipher);
    EXPECT_EQ(CryptoHashClass(r.algorithm), r.hash);
    EXPECT_EQ(std::min(r.hash->DigestKeySize, r.cipher->Context.KeySize), r.keyBytes);
    EXPECT_EQ(r.cipher->Context.BufSize, r.block);
  }
}

TEST(NRDCipherPage, KeyIsTheDigestAndVectorIsAllFF) {
  // Rijndael_128 with a three-byte password, rebuilt by hand from its parts.
  const std::string password = "abc";
  const std::string digest = THash::CalcString(THash_RipeMD128::Class(), password, nullptr, 1);
  std::uint8_t ff[16];
  std::memset(ff, 0xFF, sizeof(ff));
  auto manual = TCipher::Create<TCipher_Rijndael>();
  manual->Init(digest.data(), 16, ff);
  EXPECT_EQ(manual->Rounds(), 10);
  auto page = Page(1);
  auto expected = page;
  manual->EncodeBuffer(expected.data(), expected.data(), kPage);
  ASSERT_TRUE(EncryptPageData(craRijndael_128, page.data(), kPage, password));
  EXPECT_EQ(ToHex(page), ToHex(expected));
  // 253 full blocks and an 8-byte tail: a change in the tail stays in the tail.
  auto changed = Page(1);
  changed[kPage - 1] ^= 0x80;
  ASSERT_TRUE(EncryptPageData(craRijndael_128, changed.data(), kPage, password));
  EXPECT_EQ(std::memcmp(changed.data(), page.data(), kPage - 1), 0);
  EXPECT_EQ(changed[kPage - 1], page[kPage - 1] ^ 0x80);
}

TEST(NRDCipherPage, TripleDesPageIsWholeBlocks) {
  // 4056 = 169 x 24: the end of the page is a full block, not a tail coded byte by byte, so a change in
  // its middle part alters the first two 8-byte parts of that block (the parts that exchange bytes).
  auto page = Page(2), changed = Page(2);
  changed[kPage - 12] ^= 1;
  ASSERT_TRUE(EncryptPageData(craDES_Triple, page.data(), kPage, "pw"));
  ASSERT_TRUE(EncryptPageData(craDES_Triple, changed.data(), kPage, "pw"));
  EXPECT_EQ(std::memcmp(changed.data(), page.data(), kPage - 24), 0);
  EXPECT_NE(std::memcmp(changed.data() + kPage - 24, page.data() + kPage - 24, 8), 0);
  EXPECT_NE(std::memcmp(changed.data() + kPage - 16, page.data() + kPage - 16, 8), 0);
  EXPECT_EQ(std::memcmp(changed.data() + kPage - 8, page.data() + kPage - 8, 8), 0);
}

TEST(NRDCipherPage, EveryAlgorithmRoundTripsAndReusesItsKeySetup) {
  for (TNRDCryptoAlgorithm algorithm : kAll) {
    SCOPED_TRACE(CryptoAlgorithmNames[algorithm]);
    for (const std::string& password : {std::string(), std::string("abc"), std::string(70, 'p')}) {
      TNRDPageCipher reused(algorithm, password);
      for (int n = 0; n < 3; ++n) {
        auto page = Page(n), fresh = Page(n);
        const auto original = page;
        reused.EncryptPage(page.data(), kPage);
        ASSERT_TRUE(EncryptPageData(algorithm, fresh.data(), kPage, password));
        EXPECT_EQ(page, fresh);
        EXPECT_NE(page, original);
        reused.DecryptPage(page.data(), kPage);
        EXPECT_EQ(page, original);
        ASSERT_TRUE(DecryptPageData(algorithm, fresh.data(), kPage, password));
        EXPECT_EQ(fresh, original);
      }
    }
  }
}

TEST(NRDCipherPage, UnknownAlgorithmFailsInsteadOfPassingDataThrough) {
  auto page = Page(3);
  const auto original = page;
  const auto bad = static_cast<TNRDCryptoAlgorithm>(8);
  EXPECT_FALSE(EncryptPageData(bad, page.data(), kPage, "pw"));
  EXPECT_FALSE(DecryptPageData(bad, page.data(), kPage, "pw"));
  EXPECT_EQ(page, original);
  EXPECT_THROW(TNRDPageCipher(bad, "pw"), ECipherException);
  EXPECT_THROW(CryptoCipherClass(static_cast<TNRDCryptoAlgorithm>(255)), ECipherException);
}

TEST(NRDCipherPage, CiphertextDigestsMatchTheCommittedFixture) {
  // One RIPEMD-256 digest per algorithm of page 0 enciphered with the password "Trevolan".
  std::ifstream in(std::string(TREVOLAN_SOURCE_DIR) + "/tests/data/engine-cipher/page-digests.txt");
  ASSERT_TRUE(in.good());
  std::map<std::string, std::string> expected;
  std::string name, digest;
  while (in >> name >> digest) expected[name] = digest;
  for (TNRDCryptoAlgorithm algorithm : kAll) {
    auto page = Page(0);
    ASSERT_TRUE(EncryptPageData(algorithm, page.data(), kPage, "Trevolan"));
    const std::string got =
        ToHex(THash::CalcBuffer(THash_RipeMD256::Class(), page.data(), kPage, nullptr, 1));
    EXPECT_EQ(got, expected[CryptoAlgorithmNames[algorithm]]) << CryptoAlgorithmNames[algorithm] << " " << got;
  }
}
