// Twofish: 16 rounds on four little-endian words. The schedule area holds the 40 round subkeys
// followed by the four key-dependent S-boxes already multiplied by the MDS matrix (4 x 256 words),
// so the g function is four lookups.
#include <cstring>

#include "engine/foundation/NRDCipher.h"

namespace nrd {

namespace {

constexpr std::uint8_t kQ0T[4][16] = {{8, 1, 7, 13, 6, 15, 3, 2, 0, 11, 5, 9, 14, 12, 10, 4},
                                      {14, 12, 11, 8, 1, 2, 3, 5, 15, 4, 10, 6, 7, 0, 9, 13},
                                      {11, 10, 5, 14, 6, 13, 9, 0, 12, 8, 15, 3, 2, 4, 7, 1},
                                      {13, 7, 15, 4, 1, 2, 6, 14, 9, 11, 3, 0, 8, 5, 12, 10}};
constexpr std::uint8_t kQ1T[4][16] = {{2, 8, 11, 13, 15, 7, 6, 14, 3, 1, 9, 4, 0, 10, 12, 5},
                                      {1, 14, 2, 11, 4, 12, 3, 7, 6, 13, 10, 5, 15, 9, 0, 8},
                                      {4, 12, 7, 5, 1, 6, 9, 10, 0, 14, 13, 8, 2, 11, 3, 15},
                                      {11, 9, 5, 1, 12, 3, 13, 14, 6, 4, 7, 15, 2, 0, 8, 10}};
constexpr std::uint8_t kMDS[4][4] = {
    {0x01, 0xEF, 0x5B, 0x5B}, {0x5B, 0xEF, 0xEF, 0x01}, {0xEF, 0x5B, 0x01, 0xEF}, {0xEF, 0x01, 0xEF, 0x5B}};
constexpr std::uint8_t kRS[4][8] = {{0x01, 0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E},
                                    {0xA4, 0x56, 0x82, 0xF3, 0x1E, 0xC6, 0x68, 0xE5},
                                    {0x02, 0xA1, 0xFC, 0xC1, 0x47, 0xAE, 0x3D, 0x19},
                                    {0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E, 0x03}};

std::uint8_t GfMul(std::uint8_t a, std::uint8_t b, unsigned poly) {
  unsigned r = 0, x = a;
  while (b != 0) {
    if (b & 1) r ^= x;
    x <<= 1;
    if (x & 0x100) x ^= poly;
    b >>= 1;
  }
  return static_cast<std::uint8_t>(r);
}

inline std::uint8_t Ror4(std::uint8_t x) { return static_cast<std::uint8_t>(((x >> 1) | (x << 3)) & 15); }

struct TwofishTables {
  std::uint8_t Q0[256];
  std::uint8_t Q1[256];
  std::uint8_t Mul[4][4][256];  // MDS[i][j] * x

  static std::uint8_t MakeQ(const std::uint8_t (&t)[4][16], int x) {
    std::uint8_t a = static_cast<std::uint8_t>(x >> 4), b = static_cast<std::uint8_t>(x & 15);
    std::uint8_t a1 = a ^ b, b1 = static_cast<std::uint8_t>((a ^ Ror4(b) ^ (8 * a)) & 15);
    a = t[0][a1];
    b = t[1][b1];
    a1 = a ^ b;
    b1 = static_cast<std::uint8_t>((a ^ Ror4(b) ^ (8 * a)) & 15);
    a = t[2][a1];
    b = t[3][b1];
    return static_cast<std::uint8_t>(16 * b + a);
  }

  TwofishTables() {
    for (int x = 0; x < 256; ++x) {
      Q0[x] = MakeQ(kQ0T, x);
      Q1[x] = MakeQ(kQ1T, x);
      for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) Mul[i][j][x] = GfMul(static_cast<std::uint8_t>(x), kMDS[i][j], 0x169);
    }
  }

  // MDS column j applied to byte y: the word of (MDS[0][j] y, MDS[1][j] y, ...), low byte first.
  std::uint32_t Column(int j, std::uint8_t y) const {
    return std::uint32_t{Mul[0][j][y]} | (std::uint32_t{Mul[1][j][y]} << 8) | (std::uint32_t{Mul[2][j][y]} << 16) |
           (std::uint32_t{Mul[3][j][y]} << 24);
  }

  // The four S-box bytes of h before the MDS step; L holds k words, list word 0 first.
  void SBytes(std::uint8_t x, const std::uint32_t* l, int k, std::uint8_t y[4]) const {
    y[0] = y[1] = y[2] = y[3] = x;
    auto b = [](std::uint32_t w, int i) { return static_cast<std::uint8_t>(w >> (8 * i)); };
    if (k == 4) {
      y[0] = Q1[y[0]] ^ b(l[3], 0);
      y[1] = Q0[y[1]] ^ b(l[3], 1);
      y[2] = Q0[y[2]] ^ b(l[3], 2);
      y[3] = Q1[y[3]] ^ b(l[3], 3);
    }
    if (k >= 3) {
      y[0] = Q1[y[0]] ^ b(l[2], 0);
      y[1] = Q1[y[1]] ^ b(l[2], 1);
      y[2] = Q0[y[2]] ^ b(l[2], 2);
      y[3] = Q0[y[3]] ^ b(l[2], 3);
    }
    y[0] = Q1[Q0[Q0[y[0]] ^ b(l[1], 0)] ^ b(l[0], 0)];
    y[1] = Q0[Q0[Q1[y[1]] ^ b(l[1], 1)] ^ b(l[0], 1)];
    y[2] = Q1[Q1[Q0[y[2]] ^ b(l[1], 2)] ^ b(l[0], 2)];
    y[3] = Q0[Q1[Q1[y[3]] ^ b(l[1], 3)] ^ b(l[0], 3)];
  }

  // h(X, L) for a word X whose four bytes are all `x`.
  std::uint32_t H(std::uint8_t x, const std::uint32_t* l, int k) const {
    std::uint8_t y[4];
    SBytes(x, l, k, y);
    return Column(0, y[0]) ^ Column(1, y[1]) ^ Column(2, y[2]) ^ Column(3, y[3]);
  }
};

const TwofishTables& Tables() {
  static const TwofishTables tables;
  return tables;
}

inline std::uint32_t Rol(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
inline std::uint32_t Ror(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline std::uint32_t Load(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}

inline void Store(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

// g through the key-dependent tables.
inline std::uint32_t G(const std::uint32_t* sb, std::uint32_t x) {
  return sb[x & 0xFF] ^ sb[256 + ((x >> 8) & 0xFF)] ^ sb[512 + ((x >> 16) & 0xFF)] ^ sb[768 + (x >> 24)];
}

std::shared_ptr<TCipher> CreateTwofish(std::string_view password, std::shared_ptr<TProtection> p) {
  return TCipher::Create<TCipher_Twofish>(password, std::move(p));
}

}  // namespace

TCipherClass TCipher_Twofish::Class() {
  static const TCipherClassInfo info{"TCipher_Twofish", Context(), &CreateTwofish};
  return &info;
}

void TCipher_Twofish::TestVector() const { throw Exception("TCipher_Twofish.TestVector not implemented 26"); }

void TCipher_Twofish::Init(const void* key, int size, const void* iVector) {
  BeginInit(size);
  const TwofishTables& t = Tables();
  const int length = size <= 16 ? 16 : size <= 24 ? 24 : 32;
  const int k = length / 8;
  std::uint8_t m[32] = {};
  if (size > 0) std::memcpy(m, key, static_cast<std::size_t>(size));
  std::uint32_t me[4] = {}, mo[4] = {}, s[4] = {};
  for (int i = 0; i < k; ++i) {
    me[i] = Load(m + 8 * i);
    mo[i] = Load(m + 8 * i + 4);
    // Reed-Solomon code of the key's 8-byte group i; the S-box key lists them in reverse.
    std::uint32_t word = 0;
    for (int row = 0; row < 4; ++row) {
      std::uint8_t v = 0;
      for (int c = 0; c < 8; ++c) v ^= GfMul(kRS[row][c], m[8 * i + c], 0x14D);
      word |= std::uint32_t{v} << (8 * row);
    }
    s[k - 1 - i] = word;
  }
  std::uint32_t* subkeys = UserWords();
  std::uint32_t* sboxes = subkeys + 40;
  for (int i = 0; i < 20; ++i) {
    const std::uint32_t a = t.H(static_cast<std::uint8_t>(2 * i), me, k);
    const std::uint32_t b = Rol(t.H(static_cast<std::uint8_t>(2 * i + 1), mo, k), 8);
    subkeys[2 * i] = a + b;
    subkeys[2 * i + 1] = Rol(a + 2 * b, 9);
  }
  for (int x = 0; x < 256; ++x) {
    std::uint8_t y[4];
    t.SBytes(static_cast<std::uint8_t>(x), s, k, y);
    for (int j = 0; j < 4; ++j) sboxes[256 * j + x] = t.Column(j, y[j]);
  }
  std::memset(m, 0, sizeof(m));
  std::memset(me, 0, sizeof(me));
  std::memset(mo, 0, sizeof(mo));
  std::memset(s, 0, sizeof(s));
  FinishInit(iVector);
}

void TCipher_Twofish::EncodeBlock(void* data) {
  auto* p = static_cast<std::uint8_t*>(data);
  const std::uint32_t* key = UserWords();
  const std::uint32_t* sb = key + 40;
  std::uint32_t a = Load(p) ^ key[0], b = Load(p + 4) ^ key[1], c = Load(p + 8) ^ key[2], d = Load(p + 12) ^ key[3];
  for (int r = 0; r < 16; r += 2) {
    std::uint32_t t0 = G(sb, a), t1 = G(sb, Rol(b, 8));
    c = Ror(c ^ (t0 + t1 + key[8 + 2 * r]), 1);
    d = Rol(d, 1) ^ (t0 + 2 * t1 + key[9 + 2 * r]);
    t0 = G(sb, c);
    t1 = G(sb, Rol(d, 8));
    a = Ror(a ^ (t0 + t1 + key[10 + 2 * r]), 1);
    b = Rol(b, 1) ^ (t0 + 2 * t1 + key[11 + 2 * r]);
  }
  Store(p, c ^ key[4]);
  Store(p + 4, d ^ key[5]);
  Store(p + 8, a ^ key[6]);
  Store(p + 12, b ^ key[7]);
}

void TCipher_Twofish::DecodeBlock(void* data) {
  auto* p = static_cast<std::uint8_t*>(data);
  const std::uint32_t* key = UserWords();
  const std::uint32_t* sb = key + 40;
  std::uint32_t c = Load(p) ^ key[4], d = Load(p + 4) ^ key[5], a = Load(p + 8) ^ key[6], b = Load(p + 12) ^ key[7];
  for (int r = 14; r >= 0; r -= 2) {
    std::uint32_t t0 = G(sb, c), t1 = G(sb, Rol(d, 8));
    a = Rol(a, 1) ^ (t0 + t1 + key[10 + 2 * r]);
    b = Ror(b ^ (t0 + 2 * t1 + key[11 + 2 * r]), 1);
    t0 = G(sb, a);
    t1 = G(sb, Rol(b, 8));
    c = Rol(c, 1) ^ (t0 + t1 + key[8 + 2 * r]);
    d = Ror(d ^ (t0 + 2 * t1 + key[9 + 2 * r]), 1);
  }
  Store(p, a ^ key[0]);
  Store(p + 4, b ^ key[1]);
  Store(p + 8, c ^ key[2]);
  Store(p + 12, d ^ key[3]);
}

}  // namespace nrd
