// Rijndael with 128-bit blocks (AES): table-driven rounds, the encryption round keys in the first
// half of the schedule area and those of the equivalent inverse cipher in the second half.
#include <cstring>

#include "engine/foundation/NRDCipher.h"

namespace nrd {

namespace {

struct AesTables {
  std::uint8_t S[256];
  std::uint8_t Si[256];
  std::uint32_t Te[4][256];
  std::uint32_t Td[4][256];

  static std::uint8_t Mul(std::uint8_t a, std::uint8_t b) {
    std::uint8_t r = 0;
    while (b != 0) {
      if (b & 1) r ^= a;
      a = static_cast<std::uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1B : 0));
      b >>= 1;
    }
    return r;
  }

  AesTables() {
    // S-box: multiplicative inverse in GF(2^8) followed by the affine map.
    for (int x = 0; x < 256; ++x) {
      std::uint8_t inv = 0;
      if (x != 0)
        for (int y = 1; y < 256; ++y)
          if (Mul(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y)) == 1) {
            inv = static_cast<std::uint8_t>(y);
            break;
          }
      std::uint8_t s = inv;
      for (int k = 1; k <= 4; ++k) s ^= static_cast<std::uint8_t>((inv << k) | (inv >> (8 - k)));
      s ^= 0x63;
      S[x] = s;
      Si[s] = static_cast<std::uint8_t>(x);
    }
    for (int x = 0; x < 256; ++x) {
      const std::uint8_t s = S[x];
      const std::uint32_t te = (std::uint32_t{Mul(s, 2)} << 24) | (std::uint32_t{s} << 16) |
                               (std::uint32_t{s} << 8) | Mul(s, 3);
      const std::uint8_t si = Si[x];
      const std::uint32_t td = (std::uint32_t{Mul(si, 14)} << 24) | (std::uint32_t{Mul(si, 9)} << 16) |
                               (std::uint32_t{Mul(si, 13)} << 8) | Mul(si, 11);
      for (int k = 0; k < 4; ++k) {
        Te[k][x] = (te >> (8 * k)) | (te << ((32 - 8 * k) & 31));
        Td[k][x] = (td >> (8 * k)) | (td << ((32 - 8 * k) & 31));
        if (k == 0) {
          Te[0][x] = te;
          Td[0][x] = td;
        }
      }
    }
  }
};

const AesTables& Tables() {
  static const AesTables tables;
  return tables;
}

inline std::uint32_t LoadBE(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

inline void StoreBE(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

constexpr int kKeyWords = 60;  // 15 round keys of 4 words per direction

std::shared_ptr<TCipher> CreateRijndael(std::string_view password, std::shared_ptr<TProtection> p) {
  return TCipher::Create<TCipher_Rijndael>(password, std::move(p));
}

}  // namespace

TCipherClass TCipher_Rijndael::Class() {
  static const TCipherClassInfo info{"TCipher_Rijndael", Context(), &CreateRijndael};
  return &info;
}

void TCipher_Rijndael::TestVector() const { throw Exception("TCipher_Rijndael.TestVector not implemented 20"); }

void TCipher_Rijndael::Init(const void* key, int size, const void* iVector) {
  BeginInit(size);
  const AesTables& t = Tables();
  FRounds = size <= 16 ? 10 : size <= 24 ? 12 : 14;
  const int nk = FRounds - 6;
  std::uint8_t k[32] = {};
  if (size > 0) std::memcpy(k, key, static_cast<std::size_t>(size));
  std::uint32_t* ek = UserWords();
  std::uint32_t* dk = ek + kKeyWords;
  const int total = 4 * (FRounds + 1);
  for (int i = 0; i < nk; ++i) ek[i] = LoadBE(k + 4 * i);
  std::uint8_t rcon = 1;
  for (int i = nk; i < total; ++i) {
    std::uint32_t w = ek[i - 1];
    if (i % nk == 0) {
      w = (w << 8) | (w >> 24);
      w = (std::uint32_t{t.S[w >> 24]} << 24) | (std::uint32_t{t.S[(w >> 16) & 0xFF]} << 16) |
          (std::uint32_t{t.S[(w >> 8) & 0xFF]} << 8) | t.S[w & 0xFF];
      w ^= std::uint32_t{rcon} << 24;
      rcon = AesTables::Mul(rcon, 2);
    } else if (nk > 6 && i % nk == 4) {
      w = (std::uint32_t{t.S[w >> 24]} << 24) | (std::uint32_t{t.S[(w >> 16) & 0xFF]} << 16) |
          (std::uint32_t{t.S[(w >> 8) & 0xFF]} << 8) | t.S[w & 0xFF];
    }
    ek[i] = ek[i - nk] ^ w;
  }
  // Inverse cipher keys: reversed round order, InvMixColumns on the inner rounds.
  for (int r = 0; r <= FRounds; ++r) {
    for (int c = 0; c < 4; ++c) {
      const std::uint32_t w = ek[4 * (FRounds - r) + c];
      if (r == 0 || r == FRounds) {
        dk[4 * r + c] = w;
      } else {
        dk[4 * r + c] = t.Td[0][t.S[w >> 24]] ^ t.Td[1][t.S[(w >> 16) & 0xFF]] ^ t.Td[2][t.S[(w >> 8) & 0xFF]] ^
                        t.Td[3][t.S[w & 0xFF]];
      }
    }
  }
  std::memset(k, 0, sizeof(k));
  FinishInit(iVector);
}

void TCipher_Rijndael::EncodeBlock(void* data) {
  const AesTables& t = Tables();
  auto* p = static_cast<std::uint8_t*>(data);
  const std::uint32_t* rk = UserWords();
  std::uint32_t s0 = LoadBE(p) ^ rk[0], s1 = LoadBE(p + 4) ^ rk[1], s2 = LoadBE(p + 8) ^ rk[2],
                s3 = LoadBE(p + 12) ^ rk[3];
  for (int r = 1; r < FRounds; ++r) {
    rk += 4;
    const std::uint32_t t0 = t.Te[0][s0 >> 24] ^ t.Te[1][(s1 >> 16) & 0xFF] ^ t.Te[2][(s2 >> 8) & 0xFF] ^
                             t.Te[3][s3 & 0xFF] ^ rk[0];
    const std::uint32_t t1 = t.Te[0][s1 >> 24] ^ t.Te[1][(s2 >> 16) & 0xFF] ^ t.Te[2][(s3 >> 8) & 0xFF] ^
                             t.Te[3][s0 & 0xFF] ^ rk[1];
    const std::uint32_t t2 = t.Te[0][s2 >> 24] ^ t.Te[1][(s3 >> 16) & 0xFF] ^ t.Te[2][(s0 >> 8) & 0xFF] ^
                             t.Te[3][s1 & 0xFF] ^ rk[2];
    const std::uint32_t t3 = t.Te[0][s3 >> 24] ^ t.Te[1][(s0 >> 16) & 0xFF] ^ t.Te[2][(s1 >> 8) & 0xFF] ^
                             t.Te[3][s2 & 0xFF] ^ rk[3];
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
  }
  rk += 4;
  auto last = [&](std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t k) {
    return ((std::uint32_t{t.S[a >> 24]} << 24) | (std::uint32_t{t.S[(b >> 16) & 0xFF]} << 16) |
            (std::uint32_t{t.S[(c >> 8) & 0xFF]} << 8) | t.S[d & 0xFF]) ^
           k;
  };
  StoreBE(p, last(s0, s1, s2, s3, rk[0]));
  StoreBE(p + 4, last(s1, s2, s3, s0, rk[1]));
  StoreBE(p + 8, last(s2, s3, s0, s1, rk[2]));
  StoreBE(p + 12, last(s3, s0, s1, s2, rk[3]));
}

void TCipher_Rijndael::DecodeBlock(void* data) {
  const AesTables& t = Tables();
  auto* p = static_cast<std::uint8_t*>(data);
  const std::uint32_t* rk = UserWords() + kKeyWords;
  std::uint32_t s0 = LoadBE(p) ^ rk[0], s1 = LoadBE(p + 4) ^ rk[1], s2 = LoadBE(p + 8) ^ rk[2],
                s3 = LoadBE(p + 12) ^ rk[3];
  for (int r = 1; r < FRounds; ++r) {
    rk += 4;
    const std::uint32_t t0 = t.Td[0][s0 >> 24] ^ t.Td[1][(s3 >> 16) & 0xFF] ^ t.Td[2][(s2 >> 8) & 0xFF] ^
                             t.Td[3][s1 & 0xFF] ^ rk[0];
    const std::uint32_t t1 = t.Td[0][s1 >> 24] ^ t.Td[1][(s0 >> 16) & 0xFF] ^ t.Td[2][(s3 >> 8) & 0xFF] ^
                             t.Td[3][s2 & 0xFF] ^ rk[1];
    const std::uint32_t t2 = t.Td[0][s2 >> 24] ^ t.Td[1][(s1 >> 16) & 0xFF] ^ t.Td[2][(s0 >> 8) & 0xFF] ^
                             t.Td[3][s3 & 0xFF] ^ rk[2];
    const std::uint32_t t3 = t.Td[0][s3 >> 24] ^ t.Td[1][(s2 >> 16) & 0xFF] ^ t.Td[2][(s1 >> 8) & 0xFF] ^
                             t.Td[3][s0 & 0xFF] ^ rk[3];
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
  }
  rk += 4;
  auto last = [&](std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t k) {
    return ((std::uint32_t{t.Si[a >> 24]} << 24) | (std::uint32_t{t.Si[(b >> 16) & 0xFF]} << 16) |
            (std::uint32_t{t.Si[(c >> 8) & 0xFF]} << 8) | t.Si[d & 0xFF]) ^
           k;
  };
  StoreBE(p, last(s0, s3, s2, s1, rk[0]));
  StoreBE(p + 4, last(s1, s0, s3, s2, rk[1]));
  StoreBE(p + 8, last(s2, s1, s0, s3, rk[2]));
  StoreBE(p + 12, last(s3, s2, s1, s0, rk[3]));
}

}  // namespace nrd
