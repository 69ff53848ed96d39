// Known answers of MD4, RIPEMD-128 and RIPEMD-256 from their published test suites, and the
// hash framing (padding across block edges, the class functions, chains).
#include <gtest/gtest.h>

#include "engine/foundation/NRDCipher.h"
#include "tests/engine-foundation/NRDCipherTestUtil.h"

using namespace nrd;
using nrd_test::ToHex;

namespace {

std::string Digest(THashClass cls, const std::string& data) {
  auto hash = cls->Create(nullptr);
  hash->Init();
  hash->Calc(data.data(), static_cast<std::int64_t>(data.size()));
  hash->Done();
  return ToHex(hash->DigestKey(), static_cast<std::size_t>(hash->DigestKeySize()));
}

struct HashCase {
  const char* input;
  const char* md4;
  const char* ripemd128;
  const char* ripemd256;
};

const std::string kDigits = "1234567890";

const HashCase kCases[] = {
    {"", "31d6cfe0d16ae931b73c59d7e0c089c0", "cdf26213a150dc3ecb610f18f6b38b46",
     "02ba4c4e5f8ecd1877fc52d64d30e37a2d9774fb1e5d026380ae0168e3c5522d"},
    {"a", "bde52cb31de33e46245e05fbdbd6fb24", "86be7afa339d0fc7cfc785e72f578d33",
     "f9333e45d857f5d90a91bab70a1eba0cfb1be4b0783c9acfcd883a9134692925"},
    {"abc", "a448017aaf21d8525fc10ae87aa6729d", "c14a12199c66e4ba84636b0f69144c77",
     "afbd6e228b9d8cbbcef5ca2d03e6dba10ac0bc7dcbe4680e1e42d2e975459b65"},
    {"message digest", "d9130a8164549fe818874806e1c7014b", "9e327b3d6e523062afc1132d7df9d1b8",
     "87e971759a1ce47a514d5c914c392c9018c7c46bc14465554afcdf54a5070c0e"},
    {"abcdefghijklmnopqrstuvwxyz", "d79e1c308aa5bbcdeea8ed63df412da9", "fd2aa607f71dc8f510714922b371834e",
     "649d3034751ea216776bf9a18acc81bc7896118a5197968782dd1fd97d8d5133"},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", nullptr, "a1aa0689d0fafa2ddc22e88b49133a06",
     "3843045583aac6c8c8d9128573e7a9809afb2a0f34ccc36ea9e72f16f6368e3f"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "043f8582f241db351ce627e153e7f0e4",
     "d1e959eb179c911faea4624c60c5c702", "5740a408ac16b720b84424ae931cbb1fe363d1d0bf4017f1a89f7ea6de77a0b8"},
};

}  // namespace

TEST(NRDCipherHash, PublishedVectors) {
  for (const HashCase& c : kCases) {
    SCOPED_TRACE(c.input);
    if (c.md4 != nullptr) {
      EXPECT_EQ(Digest(THash_MD4::Class(), c.input), c.md4);
    }
    EXPECT_EQ(Digest(THash_RipeMD128::Class(), c.input), c.ripemd128);
    EXPECT_EQ(Digest(THash_RipeMD256::Class(), c.input), c.ripemd256);
  }
}

TEST(NRDCipherHash, EightTimesDigits) {
  std::string eight;
  for (int i = 0; i < 8; ++i) eight += kDigits;
  EXPECT_EQ(Digest(THash_MD4::Class(), eight), "e33b4ddc9c38f2199c3e7b164fcc0536");
  EXPECT_EQ(Digest(THash_RipeMD128::Class(), eight), "3f45ef194732c2dbb2c4a2c769795fa3");
  EXPECT_EQ(Digest(THash_RipeMD256::Class(), eight),
            "06fdcc7a409548aaf91368c06a6275b553e3f099bf0ea4edfd6778df89a890dd");
}

TEST(NRDCipherHash, MillionA) {
  // Fed in uneven pieces so that the block buffer is filled across calls.
  const std::string piece(997, 'a');
  for (THashClass cls : {THash_RipeMD128::Class(), THash_RipeMD256::Class()}) {
    auto hash = cls->Create(nullptr);
    hash->Init();
    int left = 1000000;
    while (left > 0) {
      const int n = std::min<int>(left, static_cast<int>(piece.size()));
      hash->Calc(piece.data(), n);
      left -= n;
    }
    hash->Done();
    const std::string got = ToHex(hash->DigestKey(), static_cast<std::size_t>(hash->DigestKeySize()));
    if (cls == THash_RipeMD128::Class())
      EXPECT_EQ(got, "4a7f5723f954eba1216c9d8f6320431f");
    else
      EXPECT_EQ(got, "ac953744e10e31514c150d4d8d7b677342e33399788296e43ae4850ce4f97978");
  }
}

TEST(NRDCipherHash, PaddingAtBlockEdgesMatchesBytewiseFeeding) {
  // Lengths around 55/56/64 bytes take the one- and two-block padding paths; feeding byte by byte
  // must give the same digest as one call.
  for (int len : {55, 56, 57, 63, 64, 65, 119, 120}) {
    std::string data(static_cast<std::size_t>(len), '\0');
    for (int i = 0; i < len; ++i) data[static_cast<std::size_t>(i)] = static_cast<char>(i * 7 + 1);
    auto hash = THash_RipeMD256::Class()->Create(nullptr);
    hash->Init();
    for (char ch : data) hash->Calc(&ch, 1);
    hash->Done();
    EXPECT_EQ(ToHex(hash->DigestKey(), 32), Digest(THash_RipeMD256::Class(), data)) << len;
  }
}

TEST(NRDCipherHash, ClassFunctionsFormatTheDigest) {
  // "abc" in Base64 of its RIPEMD-128 digest.
  const std::string raw = THash::CalcString(THash_RipeMD128::Class(), "abc", nullptr, 1);
  EXPECT_EQ(ToHex(raw), "c14a12199c66e4ba84636b0f69144c77");
  EXPECT_EQ(THash::CalcString(THash_RipeMD128::Class(), "abc", nullptr, 4196),
            BytesToStringFormat(raw, 4196));
  EXPECT_EQ(THash::CalcBuffer(THash_MD4::Class(), "abc", 3, nullptr, 1), StringFormatToBytes(
      BytesToStringFormat(std::string("\xa4\x48\x01\x7a\xaf\x21\xd8\x52\x5f\xc1\x0a\xe8\x7a\xa6\x72\x9d", 16), 4196),
      4196));
  TNRDMemoryStream stream;
  const std::string xs(10000, 'x');
  ASSERT_EQ(stream.Write(xs.data(), 10000), 10000);
  stream.SetPosition(123);
  EXPECT_EQ(THash::CalcStream(THash_MD4::Class(), stream, -1, nullptr, 1),
            THash::CalcString(THash_MD4::Class(), std::string(10000, 'x'), nullptr, 1));
}

TEST(NRDCipherHash, NotImplementedOperationsRaise) {
  struct Case {
    THashClass cls;
    const char* message;
  } cases[] = {{THash_MD4::Class(), "THash_MD4.TestVector not implemented 28"},
               {THash_RipeMD128::Class(), "THash_RipeMD128.TestVector not implemented 30"},
               {THash_RipeMD256::Class(), "THash_RipeMD256.TestVector not implemented 31"}};
  for (const Case& c : cases) {
    auto hash = c.cls->Create(nullptr);
    try {
      hash->TestVector();
      ADD_FAILURE() << c.message;
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
  THash base;
  EXPECT_THROW(base.DigestKey(), Exception);
  EXPECT_THROW(THash::SelfTest(), Exception);
  EXPECT_THROW(base.CodeBuffer(nullptr, 0, paWipe), Exception);
}
