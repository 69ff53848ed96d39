// MD4, RIPEMD-128 and RIPEMD-256: 64-byte blocks, little-endian words, Merkle-Damgard padding with a
// 64-bit bit length.
#include <cstring>

#include "engine/foundation/NRDCipher.h"

namespace nrd {

namespace {

constexpr std::uint32_t Rol(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// Message word order and rotations of the two lines, rounds 1-4.
constexpr int kRL[64] = {0, 1,  2,  3,  4,  5,  6,  7, 8, 9,  10, 11, 12, 13, 14, 15,
                         7, 4,  13, 1,  10, 6,  15, 3, 12, 0, 9,  5,  2,  14, 11, 8,
                         3, 10, 14, 4,  9,  15, 8,  1, 2, 7,  0,  6,  13, 11, 5,  12,
                         1, 9,  11, 10, 0,  8,  12, 4, 13, 3, 7,  15, 14, 5,  6,  2};
constexpr int kRR[64] = {5,  14, 7,  0, 9, 2,  11, 4,  13, 6,  15, 8,  1,  10, 3,  12,
                         6,  11, 3,  7, 0, 13, 5,  10, 14, 15, 8,  12, 4,  9,  1,  2,
                         15, 5,  1,  3, 7, 14, 6,  9,  11, 8,  12, 2,  10, 0,  4,  13,
                         8,  6,  4,  1, 3, 11, 15, 0,  5,  12, 2,  13, 9,  7,  10, 14};
constexpr int kSL[64] = {11, 14, 15, 12, 5,  8,  7,  9,  11, 13, 14, 15, 6,  7,  9,  8,
                         7,  6,  8,  13, 11, 9,  7,  15, 7,  12, 15, 9,  11, 7,  13, 12,
                         11, 13, 6,  7,  14, 9,  13, 15, 14, 8,  13, 6,  5,  12, 7,  5,
                         11, 12, 14, 15, 14, 15, 9,  8,  9,  14, 5,  6,  8,  6,  5,  12};
constexpr int kSR[64] = {8,  9,  9,  11, 13, 15, 15, 5,  7,  7,  8,  11, 14, 14, 12, 6,
                         9,  13, 15, 7,  12, 8,  9,  11, 7,  7,  12, 7,  6,  15, 13, 11,
                         9,  7,  15, 11, 8,  6,  6,  14, 12, 13, 5,  14, 13, 13, 7,  5,
                         15, 5,  8,  11, 14, 14, 6,  14, 6,  9,  12, 9,  12, 5,  15, 8};
constexpr std::uint32_t kKL[4] = {0x00000000u, 0x5A827999u, 0x6ED9EBA1u, 0x8F1BBCDCu};
constexpr std::uint32_t kKR[4] = {0x50A28BE6u, 0x5C4DD124u, 0x6D703EF3u, 0x00000000u};

inline std::uint32_t RipeF(int round, std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  switch (round) {
    case 0: return x ^ y ^ z;
    case 1: return (x & y) | (~x & z);
    case 2: return (x | ~y) ^ z;
    default: return (x & z) | (y & ~z);
  }
}

// One step of the left (line 0) or right line: a := rol(a + f(b,c,d) + X + K, s), then rotate names.
inline void RipeStep(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d,
                     const std::uint32_t* x, int j, bool right) {
  const int round = j >> 4;
  const std::uint32_t f = right ? RipeF(3 - round, b, c, d) : RipeF(round, b, c, d);
  const std::uint32_t t =
      Rol(a + f + x[right ? kRR[j] : kRL[j]] + (right ? kKR[round] : kKL[round]), right ? kSR[j] : kSL[j]);
  a = d;
  d = c;
  c = b;
  b = t;
}

std::shared_ptr<THash> CreateMD4(std::shared_ptr<TProtection> p) { return std::make_shared<THash_MD4>(std::move(p)); }
std::shared_ptr<THash> CreateRipeMD128(std::shared_ptr<TProtection> p) {
  return std::make_shared<THash_RipeMD128>(std::move(p));
}
std::shared_ptr<THash> CreateRipeMD256(std::shared_ptr<TProtection> p) {
  return std::make_shared<THash_RipeMD256>(std::move(p));
}

}  // namespace

// ---- MD4 ----

THash_MD4::THash_MD4(std::shared_ptr<TProtection> aProtection) : THash(std::move(aProtection)) { THash_MD4::Init(); }

THash_MD4::~THash_MD4() {
  std::memset(FDigest, 0, sizeof(FDigest));
  std::memset(FBuffer, 0, sizeof(FBuffer));
}

void THash_MD4::TestVector() const { throw Exception("THash_MD4.TestVector not implemented 28"); }

THashClass THash_MD4::Class() {
  static const THashClassInfo info{"THash_MD4", 16, &CreateMD4};
  return &info;
}

void THash_MD4::Init() {
  FCount = 0;
  std::memset(FBuffer, 0, sizeof(FBuffer));
  std::memset(FDigest, 0, sizeof(FDigest));
  FDigest[0] = 0x67452301u;
  FDigest[1] = 0xEFCDAB89u;
  FDigest[2] = 0x98BADCFEu;
  FDigest[3] = 0x10325476u;
}

void THash_MD4::Calc(const void* data, std::int64_t dataSize) {
  if (data == nullptr || dataSize <= 0) return;
  const auto* p = static_cast<const std::uint8_t*>(data);
  auto* buf = reinterpret_cast<std::uint8_t*>(FBuffer);
  std::size_t used = static_cast<std::size_t>(FCount & 63);
  FCount += static_cast<std::uint64_t>(dataSize);
  auto left = static_cast<std::size_t>(dataSize);
  while (left > 0) {
    const std::size_t n = std::min<std::size_t>(64 - used, left);
    std::memcpy(buf + used, p, n);
    used += n;
    p += n;
    left -= n;
    if (used == 64) {
      TransformBlock(FBuffer);
      used = 0;
    }
  }
}

void THash_MD4::Done() {
  auto* buf = reinterpret_cast<std::uint8_t*>(FBuffer);
  std::size_t used = static_cast<std::size_t>(FCount & 63);
  const std::uint64_t bits = FCount << 3;
  buf[used++] = 0x80;
  if (used > 56) {
    std::memset(buf + used, 0, 64 - used);
    TransformBlock(FBuffer);
    used = 0;
  }
  std::memset(buf + used, 0, 56 - used);
  FBuffer[14] = static_cast<std::uint32_t>(bits);
  FBuffer[15] = static_cast<std::uint32_t>(bits >> 32);
  TransformBlock(FBuffer);
  std::memset(FBuffer, 0, sizeof(FBuffer));
}

void THash_MD4::TransformBlock(const std::uint32_t* x) {
  std::uint32_t a = FDigest[0], b = FDigest[1], c = FDigest[2], d = FDigest[3];
  auto f = [](std::uint32_t x1, std::uint32_t y, std::uint32_t z) { return (x1 & y) | (~x1 & z); };
  auto g = [](std::uint32_t x1, std::uint32_t y, std::uint32_t z) { return (x1 & y) | (x1 & z) | (y & z); };
  auto h = [](std::uint32_t x1, std::uint32_t y, std::uint32_t z) { return x1 ^ y ^ z; };
  static constexpr int s1[4] = {3, 7, 11, 19};
  static constexpr int s2[4] = {3, 5, 9, 13};
  static constexpr int s3[4] = {3, 9, 11, 15};
  static constexpr int o2[4] = {0, 1, 2, 3};
  static constexpr int o3[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
  for (int i = 0; i < 16; ++i) {
    const std::uint32_t t = Rol(a + f(b, c, d) + x[i], s1[i & 3]);
    a = d; d = c; c = b; b = t;
  }
  for (int i = 0; i < 16; ++i) {
    const int k = o2[i & 3] * 4 + (i >> 2);
    const std::uint32_t t = Rol(a + g(b, c, d) + x[k] + 0x5A827999u, s2[i & 3]);
    a = d; d = c; c = b; b = t;
  }
  for (int i = 0; i < 16; ++i) {
    const std::uint32_t t = Rol(a + h(b, c, d) + x[o3[i]] + 0x6ED9EBA1u, s3[i & 3]);
    a = d; d = c; c = b; b = t;
  }
  FDigest[0] += a;
  FDigest[1] += b;
  FDigest[2] += c;
  FDigest[3] += d;
}

// ---- RIPEMD-128 ----

void THash_RipeMD128::TestVector() const { throw Exception("THash_RipeMD128.TestVector not implemented 30"); }

THashClass THash_RipeMD128::Class() {
  static const THashClassInfo info{"THash_RipeMD128", 16, &CreateRipeMD128};
  return &info;
}

void THash_RipeMD128::TransformBlock(const std::uint32_t* x) {
  std::uint32_t a = FDigest[0], b = FDigest[1], c = FDigest[2], d = FDigest[3];
  std::uint32_t a2 = a, b2 = b, c2 = c, d2 = d;
  for (int j = 0; j < 64; ++j) {
    RipeStep(a, b, c, d, x, j, false);
    RipeStep(a2, b2, c2, d2, x, j, true);
  }
  const std::uint32_t t = FDigest[1] + c + d2;
  FDigest[1] = FDigest[2] + d + a2;
  FDigest[2] = FDigest[3] + a + b2;
  FDigest[3] = FDigest[0] + b + c2;
  FDigest[0] = t;
}

// ---- RIPEMD-256 ----

void THash_RipeMD256::TestVector() const { throw Exception("THash_RipeMD256.TestVector not implemented 31"); }

THashClass THash_RipeMD256::Class() {
  static const THashClassInfo info{"THash_RipeMD256", 32, &CreateRipeMD256};
  return &info;
}

void THash_RipeMD256::Init() {
  THash_MD4::Init();
  FDigest[4] = 0x76543210u;
  FDigest[5] = 0xFEDCBA98u;
  FDigest[6] = 0x89ABCDEFu;
  FDigest[7] = 0x01234567u;
}

void THash_RipeMD256::TransformBlock(const std::uint32_t* x) {
  std::uint32_t a = FDigest[0], b = FDigest[1], c = FDigest[2], d = FDigest[3];
  std::uint32_t a2 = FDigest[4], b2 = FDigest[5], c2 = FDigest[6], d2 = FDigest[7];
  for (int round = 0; round < 4; ++round) {
    for (int j = round * 16; j < round * 16 + 16; ++j) {
      RipeStep(a, b, c, d, x, j, false);
      RipeStep(a2, b2, c2, d2, x, j, true);
    }
    // After each round one chaining word moves between the lines: A, then B, C, D.
    switch (round) {
      case 0: std::swap(a, a2); break;
      case 1: std::swap(b, b2); break;
      case 2: std::swap(c, c2); break;
      default: std::swap(d, d2); break;
    }
  }
  FDigest[0] += a;
  FDigest[1] += b;
  FDigest[2] += c;
  FDigest[3] += d;
  FDigest[4] += a2;
  FDigest[5] += b2;
  FDigest[6] += c2;
  FDigest[7] += d2;
}

}  // namespace nrd
