// Known answers of the block ciphers from their standards and designers' papers, and the key framing
// of each cipher class (rounds by key length, zero padding, the triple-DES key split).
#include <gtest/gtest.h>

#include <cstring>

#include "engine/foundation/NRDCipher.h"
#include "tests/engine-foundation/NRDCipherTestUtil.h"

using namespace nrd;
using nrd_test::Hex;
using nrd_test::ToHex;

namespace {

struct BlockCase {
  const char* name;
  TCipherClass cls;
  const char* key;
  const char* plain;
  const char* cipher;
};

const BlockCase kBlockCases[] = {
    // AES, FIPS-197 appendix C.
    {"AES-128", TCipher_Rijndael::Class(), "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"AES-192", TCipher_Rijndael::Class(), "000102030405060708090a0b0c0d0e0f1011121314151617",
     "00112233445566778899aabbccddeeff", "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {"AES-256", TCipher_Rijndael::Class(), "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
    // DES: the classic worked example and NIST variable-plaintext / variable-key entries.
    {"DES worked", TCipher_1DES::Class(), "133457799bbcdff1", "0123456789abcdef", "85e813540f0ab405"},
    {"DES VPT 1", TCipher_1DES::Class(), "0101010101010101", "8000000000000000", "95f8a5e5dd31d900"},
    {"DES VPT 2", TCipher_1DES::Class(), "0101010101010101", "4000000000000000", "dd7f121ca5015619"},
    {"DES VK 1", TCipher_1DES::Class(), "8001010101010101", "0000000000000000", "95a8d72813daa94d"},
    {"DES zero", TCipher_1DES::Class(), "0e329232ea6d0d73", "8787878787878787", "0000000000000000"},
    // Blowfish, its author's vectors.
    {"BF zero", TCipher_Blowfish::Class(), "0000000000000000", "0000000000000000", "4ef997456198dd78"},
    {"BF ones", TCipher_Blowfish::Class(), "ffffffffffffffff", "ffffffffffffffff", "51866fd5b85ecb8a"},
    {"BF 3000", TCipher_Blowfish::Class(), "3000000000000000", "1000000000000001", "7d856f9a613063f2"},
    {"BF 1 byte", TCipher_Blowfish::Class(), "f0", "fedcba9876543210", "f9ad597c49db005e"},
    {"BF 8 bytes", TCipher_Blowfish::Class(), "f0e1d2c3b4a59687", "fedcba9876543210", "e87a244e2cc85e82"},
    {"BF 24 bytes", TCipher_Blowfish::Class(), "f0e1d2c3b4a5968778695a4b3c2d1e0f0011223344556677",
     "fedcba9876543210", "05044b62fa52d080"},
    // Twofish, the designers' tables.
    {"Twofish-128", TCipher_Twofish::Class(), "00000000000000000000000000000000", "00000000000000000000000000000000",
     "9f589f5cf6122c32b6bfec2f2ae8c35a"},
    {"Twofish-192", TCipher_Twofish::Class(), "0123456789abcdeffedcba98765432100011223344556677",
     "00000000000000000000000000000000", "cfd1d2e5a9be9cdf501f13b892bd2248"},
    {"Twofish-256", TCipher_Twofish::Class(), "0123456789abcdeffedcba987654321000112233445566778899aabbccddeeff",
     "00000000000000000000000000000000", "37527be0052334b89f0cfccae87cfa20"},
    // Square, its designers' reference vector.
    {"Square", TCipher_Square::Class(), "000102030405060708090a0b0c0d0e0f", "000102030405060708090a0b0c0d0e0f",
     "7c3491d94994e70f0ec2e7a5ccb5a14f"},
};

std::shared_ptr<TCipher> Keyed(TCipherClass cls, const std::vector<std::uint8_t>& key) {
  auto cipher = cls->Create({}, nullptr);
  cipher->Init(key.data(), static_cast<int>(key.size()), nullptr);
  return cipher;
}

}  // namespace

TEST(NRDCipherBlock, PublishedVectors) {
  for (const BlockCase& c : kBlockCases) {
    SCOPED_TRACE(c.name);
    auto cipher = Keyed(c.cls, Hex(c.key));
    std::vector<std::uint8_t> block = Hex(c.plain);
    ASSERT_EQ(static_cast<int>(block.size()), cipher->BufSize());
    cipher->EncodeBlock(block.data());
    EXPECT_EQ(ToHex(block), c.cipher);
    cipher->DecodeBlock(block.data());
    EXPECT_EQ(ToHex(block), c.plain);
  }
}

TEST(NRDCipherBlock, BlowfishTextKeys) {
  auto cipher = Keyed(TCipher_Blowfish::Class(),
                      std::vector<std::uint8_t>({'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm',
                                                 'n', 'o', 'p', 'q', 'r', 's', 't', 'u', 'v', 'w', 'x', 'y', 'z'}));
  std::uint8_t block[8] = {'B', 'L', 'O', 'W', 'F', 'I', 'S', 'H'};
  cipher->EncodeBlock(block);
  EXPECT_EQ(ToHex(block, 8), "324ed0fef413a203");
}

TEST(NRDCipherBlock, RijndaelRoundsFollowKeyLength) {
  // 20 bytes: 12 rounds on the key padded with four zero bytes, i.e. AES-192 with that key.
  const auto key20 = Hex("000102030405060708090a0b0c0d0e0f10111213");
  auto padded = key20;
  padded.resize(24, 0);
  auto a = Keyed(TCipher_Rijndael::Class(), key20);
  auto b = Keyed(TCipher_Rijndael::Class(), padded);
  EXPECT_EQ(static_cast<TCipher_Rijndael&>(*a).Rounds(), 12);
  EXPECT_EQ(static_cast<TCipher_Rijndael&>(*Keyed(TCipher_Rijndael::Class(), Hex("00"))).Rounds(), 10);
  EXPECT_EQ(static_cast<TCipher_Rijndael&>(*Keyed(TCipher_Rijndael::Class(), Hex(std::string(50, 'a')))).Rounds(),
            14);
  std::uint8_t x[16] = {1, 2, 3}, y[16] = {1, 2, 3};
  a->EncodeBlock(x);
  b->EncodeBlock(y);
  EXPECT_EQ(ToHex(x, 16), ToHex(y, 16));
  // A key longer than KeySize is cut to KeySize.
  auto longKey = Hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1fffee");
  std::vector<std::uint8_t> block = Hex("00112233445566778899aabbccddeeff");
  Keyed(TCipher_Rijndael::Class(), longKey)->EncodeBlock(block.data());
  EXPECT_EQ(ToHex(block), "8ea2b7ca516745bfeafc49904b496089");
}

TEST(NRDCipherBlock, TripleDesKeySplit) {
  // A 16-byte key gives K3 = eight zero bytes, not K1.
  const auto k1 = Hex("0123456789abcdef"), k2 = Hex("fedcba9876543210");
  auto key16 = k1;
  key16.insert(key16.end(), k2.begin(), k2.end());
  auto triple = Keyed(TCipher_3DES::Class(), key16);
  auto d1 = Keyed(TCipher_1DES::Class(), k1);
  auto d2 = Keyed(TCipher_1DES::Class(), k2);
  auto d3 = Keyed(TCipher_1DES::Class(), Hex("0000000000000000"));
  std::vector<std::uint8_t> a = Hex("4e6f772069732074"), b = a;
  triple->EncodeBlock(a.data());
  d1->EncodeBlock(b.data());
  d2->DecodeBlock(b.data());
  d3->EncodeBlock(b.data());
  EXPECT_EQ(ToHex(a), ToHex(b));
  triple->DecodeBlock(a.data());
  EXPECT_EQ(ToHex(a), "4e6f772069732074");
  // Three equal keys reduce to single DES.
  auto same = Keyed(TCipher_3DES::Class(), Hex("133457799bbcdff1133457799bbcdff1133457799bbcdff1"));
  std::vector<std::uint8_t> c = Hex("0123456789abcdef");
  same->EncodeBlock(c.data());
  EXPECT_EQ(ToHex(c), "85e813540f0ab405");
}

TEST(NRDCipherBlock, TripleDes24ByteBlocks) {
  const auto key = Hex("0123456789abcdef23456789abcdef01456789abcdef0123");
  auto wide = Keyed(TCipher_3TDES::Class(), key);
  EXPECT_EQ(wide->BufSize(), 24);
  auto d1 = Keyed(TCipher_1DES::Class(), Hex("0123456789abcdef"));
  auto d2 = Keyed(TCipher_1DES::Class(), Hex("23456789abcdef01"));
  auto d3 = Keyed(TCipher_1DES::Class(), Hex("456789abcdef0123"));
  std::vector<std::uint8_t> plain(24);
  for (int i = 0; i < 24; ++i) plain[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 11 + 3);
  // Reference built from single DES: only bytes 4-7 and 8-11 trade places between the passes.
  auto exchange = [](std::vector<std::uint8_t>& v) {
    for (int i = 0; i < 4; ++i) std::swap(v[static_cast<std::size_t>(4 + i)], v[static_cast<std::size_t>(8 + i)]);
  };
  std::vector<std::uint8_t> expect = plain;
  for (int i = 0; i < 3; ++i) d1->EncodeBlock(expect.data() + 8 * i);
  exchange(expect);
  for (int i = 0; i < 3; ++i) d2->DecodeBlock(expect.data() + 8 * i);
  exchange(expect);
  for (int i = 0; i < 3; ++i) d3->EncodeBlock(expect.data() + 8 * i);
  std::vector<std::uint8_t> got = plain;
  wide->EncodeBlock(got.data());
  EXPECT_EQ(ToHex(got), ToHex(expect));
  // Only the first two parts exchange bytes: a change in the middle part reaches the first part,
  // while the last part never mixes with the others.
  std::vector<std::uint8_t> changed = plain;
  changed[12] ^= 1;
  wide->EncodeBlock(changed.data());
  EXPECT_NE(std::memcmp(changed.data(), got.data(), 8), 0);
  EXPECT_NE(std::memcmp(changed.data() + 8, got.data() + 8, 8), 0);
  EXPECT_EQ(std::memcmp(changed.data() + 16, got.data() + 16, 8), 0);
  wide->DecodeBlock(got.data());
  EXPECT_EQ(ToHex(got), ToHex(plain));
}

TEST(NRDCipherBlock, ShortKeysAreZeroPadded) {
  struct Case {
    TCipherClass cls;
    int padTo;
  } cases[] = {{TCipher_1DES::Class(), 8}, {TCipher_Twofish::Class(), 16}, {TCipher_Twofish::Class(), 24},
               {TCipher_Square::Class(), 16}, {TCipher_3DES::Class(), 24}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cls->ClassName);
    std::vector<std::uint8_t> shortKey = Hex("a1b2c3d4e5");
    if (c.padTo == 24) shortKey = Hex("a1b2c3d4e5f60718293a4b5c6d7e8f90a1b2c3");
    std::vector<std::uint8_t> padded = shortKey;
    padded.resize(static_cast<std::size_t>(c.padTo), 0);
    auto a = Keyed(c.cls, shortKey);
    auto b = Keyed(c.cls, padded);
    std::vector<std::uint8_t> x(static_cast<std::size_t>(a->BufSize()), 0x5A), y = x;
    a->EncodeBlock(x.data());
    b->EncodeBlock(y.data());
    EXPECT_EQ(ToHex(x), ToHex(y));
  }
}

TEST(NRDCipherBlock, RoundTripManyKeysAndBlocks) {
  for (TCipherClass cls : {TCipher_Rijndael::Class(), TCipher_Blowfish::Class(), TCipher_1DES::Class(),
                           TCipher_3DES::Class(), TCipher_3TDES::Class(), TCipher_Twofish::Class(),
                           TCipher_Square::Class()}) {
    SCOPED_TRACE(cls->ClassName);
    for (int keyLen : {1, 7, 16, 20, 24, 32, 56}) {
      std::vector<std::uint8_t> key(static_cast<std::size_t>(keyLen));
      for (int i = 0; i < keyLen; ++i) key[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 37 + keyLen);
      auto cipher = Keyed(cls, key);
      std::vector<std::uint8_t> block(static_cast<std::size_t>(cipher->BufSize()));
      for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 13 + 5);
      const auto original = block;
      cipher->EncodeBlock(block.data());
      EXPECT_NE(block, original);
      cipher->DecodeBlock(block.data());
      EXPECT_EQ(block, original);
    }
  }
}

TEST(NRDCipherBlock, ContextsAndTestVectorMessages) {
  struct Case {
    TCipherClass cls;
    TCipherContext ctx;
    const char* message;
  } cases[] = {
      {TCipher_Rijndael::Class(), {16, 32, 480}, "TCipher_Rijndael.TestVector not implemented 20"},
      {TCipher_Blowfish::Class(), {8, 56, 4168}, "TCipher_Blowfish.TestVector not implemented 21"},
      {TCipher_1DES::Class(), {8, 8, 256}, "TCipher_1DES.TestVector not implemented"},
      {TCipher_3DES::Class(), {8, 24, 768}, "TCipher_3DES.TestVector not implemented 24"},
      {TCipher_3TDES::Class(), {24, 24, 768}, "TCipher_3TDES.TestVector not implemented 25"},
      {TCipher_Twofish::Class(), {16, 32, 4256}, "TCipher_Twofish.TestVector not implemented 26"},
      {TCipher_Square::Class(), {16, 16, 288}, "TCipher_Square.TestVector not implemented 27"},
  };
  for (const Case& c : cases) {
    auto cipher = c.cls->Create({}, nullptr);
    EXPECT_EQ(cipher->BufSize(), c.ctx.BufSize) << c.message;
    EXPECT_EQ(cipher->KeySize(), c.ctx.KeySize) << c.message;
    EXPECT_EQ(cipher->UserSize(), c.ctx.UserSize) << c.message;
    try {
      cipher->TestVector();
      ADD_FAILURE() << c.message;
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}
