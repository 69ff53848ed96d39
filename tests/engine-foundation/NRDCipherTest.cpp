// The cipher framework: the eight chaining modes checked against their equations with a toy block
// cipher (E = D = xor with a constant), key setup from a password, the initialised state, Done, and
// protection chains over buffers, strings, streams and files.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "engine/foundation/NRDCipher.h"
#include "tests/engine-foundation/NRDCipherTestUtil.h"

using namespace nrd;
using nrd_test::Hex;
using nrd_test::ToHex;

namespace {

constexpr int kBs = 4;
using Block = std::array<std::uint8_t, kBs>;
constexpr Block kToyKey = {0x11, 0x22, 0x33, 0x44};

class ToyCipher : public TCipher {
 public:
  explicit ToyCipher(std::shared_ptr<TProtection> p = nullptr) : TCipher({kBs, 4, 4}, std::move(p)) {}
  const char* ClassName() const override { return "ToyCipher"; }
  void EncodeBlock(void* data) override { Xor(data); }
  void DecodeBlock(void* data) override { Xor(data); }
  void Init(const void*, int size, const void* iVector) override {
    BeginInit(size);
    FinishInit(iVector);
  }

 private:
  static void Xor(void* data) {
    auto* p = static_cast<std::uint8_t*>(data);
    for (int i = 0; i < kBs; ++i) p[i] ^= kToyKey[static_cast<std::size_t>(i)];
  }
};

Block E(Block b) {
  for (int i = 0; i < kBs; ++i) b[static_cast<std::size_t>(i)] ^= kToyKey[static_cast<std::size_t>(i)];
  return b;
}
Block X(const Block& a, const Block& b) {
  Block r;
  for (int i = 0; i < kBs; ++i) r[static_cast<std::size_t>(i)] = a[static_cast<std::size_t>(i)] ^ b[static_cast<std::size_t>(i)];
  return r;
}
Block At(const std::vector<std::uint8_t>& v, std::size_t at) {
  Block b{};
  for (int i = 0; i < kBs; ++i) b[static_cast<std::size_t>(i)] = v[at + static_cast<std::size_t>(i)];
  return b;
}
void Put(std::vector<std::uint8_t>& v, std::size_t at, const Block& b, int n = kBs) {
  for (int i = 0; i < n; ++i) v[at + static_cast<std::size_t>(i)] = b[static_cast<std::size_t>(i)];
}

// The equations of each mode, written out block by block. Returns the output; `f` is the register.
std::vector<std::uint8_t> Reference(TCipherMode mode, bool encode, const std::vector<std::uint8_t>& in, Block& f) {
  std::vector<std::uint8_t> out(in.size(), 0xEE);  // MAC modes leave the output untouched
  const std::size_t full = in.size() / kBs * kBs;
  auto finalPart = [&](bool writes) {
    if (full == in.size()) return;
    const Block b = E(f);
    if (writes)
      for (std::size_t i = full; i < in.size(); ++i) out[i] = in[i] ^ b[i - full];
    f = X(b, f);
  };
  auto byteWise = [&](int kind) {  // 0 CFB, 1 OFB, 2 CFB-MAC
    for (std::size_t i = 0; i < in.size(); ++i) {
      const Block b = E(f);
      const std::uint8_t o = in[i] ^ b[0];
      for (int k = 0; k + 1 < kBs; ++k) f[static_cast<std::size_t>(k)] = f[static_cast<std::size_t>(k + 1)];
      if (kind == 0) f[kBs - 1] = encode ? o : in[i];
      if (kind == 1) f[kBs - 1] = b[0];
      if (kind == 2) f[kBs - 1] = o;
      if (kind != 2) out[i] = o;
    }
  };
  switch (mode) {
    case cmCTS:
      for (std::size_t at = 0; at < full; at += kBs) {
        const Block s = At(in, at);
        if (encode) {
          const Block o = E(X(s, f));
          f = X(o, f);
          Put(out, at, o);
        } else {
          Put(out, at, X(E(s), f));
          f = X(s, f);
        }
      }
      finalPart(true);
      break;
    case cmCBC:
      for (std::size_t at = 0; at < full; at += kBs) {
        const Block s = At(in, at);
        if (encode) {
          f = E(X(s, f));
          Put(out, at, f);
        } else {
          Put(out, at, X(E(s), f));
          f = s;
        }
      }
      finalPart(true);
      break;
    case cmCFB: byteWise(0); break;
    case cmOFB: byteWise(1); break;
    case cmCFBMAC: byteWise(2); break;
    case cmECB:
      for (std::size_t at = 0; at < full; at += kBs) Put(out, at, E(At(in, at)));
      if (full < in.size()) {
        const Block b = E(f);
        for (std::size_t i = full; i < in.size(); ++i) out[i] = in[i] ^ b[i - full];
      }
      break;
    case cmCTSMAC:
      for (std::size_t at = 0; at < full; at += kBs) f = X(E(X(At(in, at), f)), f);
      finalPart(false);
      break;
    case cmCBCMAC:
      for (std::size_t at = 0; at < full; at += kBs) f = E(X(At(in, at), f));
      finalPart(false);
      break;
  }
  return out;
}

std::shared_ptr<ToyCipher> Toy(TCipherMode mode, const Block& vector = {1, 2, 3, 4}) {
  auto cipher = std::make_shared<ToyCipher>();
  cipher->Init(nullptr, 0, vector.data());
  cipher->SetMode(mode);
  return cipher;
}

std::vector<std::uint8_t> Data(std::size_t n, int seed = 1) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i * 29 + static_cast<std::size_t>(seed) * 7);
  return v;
}

Block Feedback(const TCipher& c) {
  Block b;
  std::copy(c.Feedback(), c.Feedback() + kBs, b.begin());
  return b;
}

const TCipherMode kAllModes[] = {cmCTS, cmCBC, cmCFB, cmOFB, cmECB, cmCTSMAC, cmCBCMAC, cmCFBMAC};

}  // namespace

TEST(NRDCipher, ModesFollowTheirEquationsAcrossCalls) {
  // Two calls in a row: the second continues from the register the first left.
  for (TCipherMode mode : kAllModes) {
    for (bool encode : {true, false}) {
      for (std::size_t len : {0u, 1u, 3u, 4u, 5u, 8u, 11u}) {
        SCOPED_TRACE(testing::Message() << "mode " << int(mode) << (encode ? " encode" : " decode") << " len " << len);
        auto cipher = Toy(mode);
        Block f = {1, 2, 3, 4};
        for (int call = 0; call < 2; ++call) {
          const auto in = Data(len, call + 1);
          std::vector<std::uint8_t> out(len, 0xEE);
          if (encode)
            cipher->EncodeBuffer(in.data(), out.data(), static_cast<int>(len));
          else
            cipher->DecodeBuffer(in.data(), out.data(), static_cast<int>(len));
          // The MAC modes code the same way in both directions.
          const bool mac = mode == cmCTSMAC || mode == cmCBCMAC || mode == cmCFBMAC;
          EXPECT_EQ(ToHex(out), ToHex(Reference(mode, encode || mac, in, f)));
          EXPECT_EQ(ToHex(Feedback(*cipher).data(), kBs), ToHex(f.data(), kBs));
        }
      }
    }
  }
}

TEST(NRDCipher, CtsIsNotCiphertextStealing) {
  // 4 + 2 bytes: the full block is O = E(S xor F); the 2-byte tail is S xor E(F') where F' = O xor F,
  // with no bytes taken from the previous block's output.
  auto cipher = Toy(cmCTS, {0, 0, 0, 0});
  const std::vector<std::uint8_t> in = {0x10, 0x20, 0x30, 0x40, 0xAA, 0xBB};
  std::vector<std::uint8_t> out(6);
  cipher->EncodeBuffer(in.data(), out.data(), 6);
  // O = in xor key = 01 02 03 04.
  // F' = O ^ 0 = 01 02 03 04; E(F') = 10 20 30 40; tail = AA^10, BB^20.
  EXPECT_EQ(ToHex(out), "01020304ba9b");
  EXPECT_EQ(ToHex(cipher->Feedback(), 4), "11223344");  // F := E(F') xor F'
}

TEST(NRDCipher, InPlaceRoundTripForEveryWritingMode) {
  for (TCipherMode mode : {cmCTS, cmCBC, cmCFB, cmOFB, cmECB}) {
    for (std::size_t len : {1u, 7u, 16u, 4056u}) {
      auto cipher = TCipher::Create<TCipher_Rijndael>("secret");
      cipher->SetMode(mode);
      auto data = Data(len);
      const auto original = data;
      cipher->EncodeBuffer(data.data(), data.data(), static_cast<int>(len));
      EXPECT_NE(data, original) << int(mode) << " " << len;
      cipher->Done();
      cipher->DecodeBuffer(data.data(), data.data(), static_cast<int>(len));
      EXPECT_EQ(data, original) << int(mode) << " " << len;
    }
  }
}

TEST(NRDCipher, MacModesLeaveDestUntouched) {
  for (TCipherMode mode : {cmCTSMAC, cmCBCMAC, cmCFBMAC}) {
    auto a = TCipher::Create<TCipher_Twofish>("k");
    auto b = TCipher::Create<TCipher_Twofish>("k");
    a->SetMode(mode);
    b->SetMode(mode);
    const auto in = Data(37);
    std::vector<std::uint8_t> outA(37, 0xEE), outB(37, 0xEE);
    a->EncodeBuffer(in.data(), outA.data(), 37);
    b->DecodeBuffer(in.data(), outB.data(), 37);
    EXPECT_EQ(outA, std::vector<std::uint8_t>(37, 0xEE));
    EXPECT_EQ(outB, std::vector<std::uint8_t>(37, 0xEE));
    EXPECT_EQ(ToHex(a->Feedback(), 16), ToHex(b->Feedback(), 16));
    EXPECT_NE(ToHex(a->Feedback(), 16), ToHex(a->Vector(), 16));
  }
}

TEST(NRDCipher, DoneRestartsFromTheVector) {
  auto cipher = TCipher::Create<TCipher_Blowfish>("pw");
  const auto in = Data(40);
  std::vector<std::uint8_t> first(40), second(40), third(40);
  cipher->EncodeBuffer(in.data(), first.data(), 40);
  cipher->EncodeBuffer(in.data(), second.data(), 40);
  EXPECT_NE(first, second);
  cipher->Done();
  cipher->EncodeBuffer(in.data(), third.data(), 40);
  EXPECT_EQ(first, third);
}

TEST(NRDCipher, UninitialisedCipherRaisesCode3) {
  auto cipher = TCipher::Create<TCipher_Rijndael>();
  std::uint8_t buf[16] = {};
  try {
    cipher->EncodeBuffer(buf, buf, 16);
    FAIL();
  } catch (const ECipherException& e) {
    EXPECT_EQ(e.ErrorCode, 3);
    EXPECT_STREQ(e.what(), "TCipher_Rijndael is not initialized call Init() or InitKey() before.");
  }
  EXPECT_THROW(cipher->DecodeBuffer(buf, buf, 16), ECipherException);
  EXPECT_THROW(cipher->CodeBuffer(buf, 16, paEncode), ECipherException);
  // A new key setup clears the state until it ends.
  cipher->InitKey("x", nullptr);
  EXPECT_TRUE(cipher->Initialized());
  cipher->Protect();
  EXPECT_FALSE(cipher->Initialized());
  EXPECT_THROW(cipher->EncodeBuffer(buf, buf, 16), ECipherException);
}

TEST(NRDCipher, KeySetupFromPassword) {
  // The key is the RIPEMD-256 digest of the password; without a vector the vector is E(0xFF..).
  auto viaPassword = TCipher::Create<TCipher_Rijndael>("password");
  EXPECT_TRUE(viaPassword->HasHashKey());
  EXPECT_TRUE(viaPassword->Initialized());
  std::string digest = THash::CalcString(THash_RipeMD256::Class(), "password", nullptr, 1);
  auto direct = TCipher::Create<TCipher_Rijndael>();
  direct->Init(digest.data(), 32, nullptr);
  EXPECT_FALSE(direct->HasHashKey());
  EXPECT_EQ(ToHex(viaPassword->Vector(), 16), ToHex(direct->Vector(), 16));
  std::uint8_t ff[16];
  std::memset(ff, 0xFF, 16);
  direct->EncodeBlock(ff);
  EXPECT_EQ(ToHex(direct->Vector(), 16), ToHex(ff, 16));
  EXPECT_EQ(ToHex(direct->Feedback(), 16), ToHex(ff, 16));
  // The digest left in the cipher's hash is no longer the key.
  EXPECT_NE(ToHex(viaPassword->Hash()->DigestKey(), 32), ToHex(digest));
  // A given vector is copied; an empty password still gives a key.
  const Block v = {9, 8, 7, 6};
  auto toy = Toy(cmCTS, v);
  EXPECT_EQ(ToHex(toy->Vector(), 4), "09080706");
  auto empty = TCipher::Create<TCipher_Square>();
  empty->InitKey("", nullptr);
  EXPECT_TRUE(empty->Initialized());
}

TEST(NRDCipher, HashClassSelection) {
  auto cipher = TCipher::Create<TCipher_Rijndael>();
  EXPECT_EQ(cipher->HashClass(), THash_RipeMD256::Class());
  auto first = cipher->Hash();
  cipher->SetHashClass(THash_RipeMD128::Class());
  EXPECT_EQ(cipher->Hash()->DigestKeySize(), 16);
  cipher->SetHashClass(nullptr);
  EXPECT_EQ(cipher->HashClass(), THash_RipeMD256::Class());
  EXPECT_NE(cipher->Hash(), first);
}

TEST(NRDCipher, CircularChainRaises) {
  auto a = std::make_shared<TProtection>();
  auto b = std::make_shared<TProtection>(a);
  try {
    a->SetProtection(b);
    FAIL();
  } catch (const EProtection& e) {
    EXPECT_STREQ(e.what(), "Circular Protection detected, Protection Object is invalid.");
  }
  EXPECT_THROW(a->SetProtection(a), EProtection);
  EXPECT_EQ(a->Protection(), nullptr);
  EXPECT_THROW(a->Identity(), Exception);
}

TEST(NRDCipher, ChainsCodeStringsStreamsAndFiles) {
  // Two ciphers in a chain: encoding runs the inner link first, decoding the outer link first.
  auto inner = TCipher::Create<TCipher_Blowfish>("inner");
  auto outer = TCipher::Create<TCipher_Rijndael>("outer", inner);
  const std::string text = "A line of family history that spans more than one block.";
  const std::string coded = outer->CodeString(text, paEncode, 4196);
  EXPECT_NE(coded, text);
  EXPECT_EQ(outer->CodeString(coded, paDecode, 4196), text);
  EXPECT_EQ(outer->CodeString("", paEncode, 4196), "");

  // A stream larger than one piece, coded in place and back.
  std::string big(10000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31);
  TNRDMemoryStream stream;
  ASSERT_EQ(stream.Write(big.data(), static_cast<std::int32_t>(big.size())), 10000);
  auto content = [&stream] { return std::string(reinterpret_cast<const char*>(stream.Buffer()), 10000); };
  outer->CodeStream(&stream, nullptr, -1, paEncode);
  EXPECT_NE(content(), big);
  stream.SetPosition(0);
  outer->CodeStream(&stream, &stream, stream.Size(), paDecode);
  EXPECT_EQ(content(), big);

  // A hash link in calc mode digests what passes through.
  auto hash = THash_RipeMD128::Class()->Create(nullptr);
  hash->CodeStream(&stream, nullptr, -1, paCalc);
  EXPECT_EQ(ToHex(hash->DigestKey(), 16), ToHex(THash::CalcString(THash_RipeMD128::Class(), big, nullptr, 1)));

  // Files: to a separate file (cut to the coded size) and in place.
  const auto dir = std::filesystem::temp_directory_path();
  const std::string src = (dir / "nrdcipher_src.bin").string();
  const std::string dst = (dir / "nrdcipher_dst.bin").string();
  { std::ofstream(src, std::ios::binary) << big; }
  { std::ofstream(dst, std::ios::binary) << big << big; }
  outer->CodeFile(src, dst, paEncode);
  EXPECT_EQ(std::filesystem::file_size(dst), big.size());
  outer->CodeFile(dst, "", paDecode);
  std::ifstream back(dst, std::ios::binary);
  std::string restored((std::istreambuf_iterator<char>(back)), std::istreambuf_iterator<char>());
  EXPECT_EQ(restored, big);
  std::filesystem::remove(src);
  std::filesystem::remove(dst);
  EXPECT_THROW(outer->CodeFile((dir / "nrdcipher_missing.bin").string(), dst, paEncode), Exception);
}

TEST(NRDCipher, HashLinksScrambleAndMaskBuffers) {
  // A hash link masks a buffer with a digest stream: decoding with the same link restores it.
  auto hash = THash_RipeMD256::Class()->Create(nullptr);
  std::vector<std::uint8_t> data = Data(100);
  const auto original = data;
  hash->CodeBuffer(data.data(), 100, paEncode);
  EXPECT_NE(data, original);
  hash->CodeBuffer(data.data(), 100, paDecode);
  EXPECT_EQ(data, original);
  // Scrambling replaces each piece by a digest: the same input scrambles the same way.
  auto a = data, b = data;
  hash->CodeBuffer(a.data(), 100, paScramble);
  hash->CodeBuffer(b.data(), 100, paScramble);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, original);
  // A fresh RIPEMD-256 object starts from its own initial words even without Init.
  auto fresh = THash_RipeMD256::Class()->Create(nullptr);
  fresh->Done();
  EXPECT_EQ(ToHex(fresh->DigestKey(), 32), "02ba4c4e5f8ecd1877fc52d64d30e37a2d9774fb1e5d026380ae0168e3c5522d");
}

TEST(NRDCipher, StreamCodingReportsProgress) {
  std::vector<std::pair<std::int64_t, std::int64_t>> reports;
  SetProgressEvent([&](const void*, std::int64_t current, std::int64_t total) { reports.emplace_back(current, total); });
  auto cipher = TCipher::Create<TCipher_Rijndael>("p");
  TNRDMemoryStream stream;
  const std::string zs(5000, 'z');
  ASSERT_EQ(stream.Write(zs.data(), 5000), 5000);
  cipher->CodeStream(&stream, nullptr, -1, paEncode);
  SetProgressEvent(nullptr);
  const std::vector<std::pair<std::int64_t, std::int64_t>> expected = {{0, 5000}, {4096, 5000}, {5000, 5000}, {0, 0}};
  EXPECT_EQ(reports, expected);
}

TEST(NRDCipher, WipeIsNotProvided) {
  auto cipher = TCipher::Create<TCipher_Rijndael>("x");
  std::uint8_t buf[4] = {};
  EXPECT_THROW(cipher->CodeBuffer(buf, 4, paWipe), Exception);
  EXPECT_THROW(TCipher::SelfTest(), Exception);
}

TEST(NRDCipher, Registry) {
  auto& list = GetCipherList();
  ASSERT_FALSE(list.empty());
  EXPECT_EQ(list[0].Text, "Rijndael=");
  EXPECT_EQ(list[0].Class, TCipher_Rijndael::Class());
  AddCipherClass(TCipher_3TDES::Class(), "  ", "wide blocks");
  EXPECT_EQ(list.back().Text, "3TDES=wide blocks");
  const std::size_t size = list.size();
  AddCipherClass(TCipher_3TDES::Class(), "Wide", "");
  EXPECT_EQ(list.size(), size);
  EXPECT_EQ(list.back().Text, "Wide=");
  AddCipherClass(nullptr, "x", "y");
  EXPECT_EQ(list.size(), size);
}
