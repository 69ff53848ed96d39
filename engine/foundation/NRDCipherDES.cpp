// DES and the two triple-DES framings. Blocks are big-endian 64-bit numbers (bit 1 = the most
// significant bit of the first byte, as the standard numbers them). The permutations and S-boxes are
// folded into lookup tables built once: initial and final permutation by byte, S-box plus P by 6-bit
// group. A round key is kept as eight 6-bit groups, one per byte (8 bytes per round, 128 per direction).
#include <cstring>

#include "engine/foundation/NRDCipher.h"

namespace nrd {

namespace {

constexpr std::uint8_t kIP[64] = {58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
                                  62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
                                  57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
                                  61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};
constexpr std::uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                                 2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};
constexpr std::uint8_t kPC1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                                   10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                                   63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                                   14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
constexpr std::uint8_t kPC2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                                   26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                                   51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
constexpr std::uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};
constexpr std::uint8_t kS[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,  0, 15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5,  3,  8,  4,  1,  14, 8,  13, 6, 2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2,  4,  9,  1,  7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4,  9,  7, 2,  13, 12, 0, 5,  10, 3,  13, 4,  7,  15, 2,
     8,  14, 12, 0,  1,  10, 6,  9,  11, 5, 0,  14, 7,  11, 10, 4, 13, 1,  5,  8,  12, 6,
     9,  3,  2,  15, 13, 8,  10, 1,  3,  15, 4,  2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7,  11, 4,  2,  8,  13, 7,  0,  9,  3,  4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6,  4,  9,  8,  15, 3,  0,  11, 1,  2,  12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7,  4,  15, 14, 3,  11, 5,  2,  12},
    {7,  13, 14, 3,  0,  6,  9,  10, 1,  2, 8, 5,  11, 12, 4,  15, 13, 8,  11, 5, 6,  15,
     0,  3,  4,  7,  2,  12, 1,  10, 14, 9, 10, 6, 9,  0,  12, 11, 7,  13, 15, 1, 3,  14,
     5,  2,  8,  4,  3,  15, 0,  6,  10, 1, 13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4,  1,  7,  10, 11, 6, 8,  5,  3,  15, 13, 0, 14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5,  0,  15, 10, 3,  9, 8,  6,  4,  2,  1,  11, 10, 13, 7, 8,  15, 9,  12, 5,
     6,  3,  0,  14, 11, 8,  12, 7, 1,  14, 2,  13, 6,  15, 0,  9,  10, 4, 5,  3},
    {12, 1,  10, 15, 9,  2,  6, 8,  0,  13, 3,  4,  14, 7,  5, 11, 10, 15, 4,  2,  7, 12,
     9,  5,  6,  1,  13, 14, 0, 11, 3,  8,  9,  14, 15, 5,  2, 8,  12, 3,  7,  0,  4, 10,
     1,  13, 11, 6,  4,  3,  2, 12, 9,  5,  15, 10, 11, 14, 1, 7,  6,  0,  8,  13},
    {4,  11, 2,  14, 15, 0,  8,  13, 3,  12, 9,  7,  5,  10, 6,  1,  13, 0,  11, 7,  4,  9,
     1,  10, 14, 3,  5,  12, 2,  15, 8,  6,  1,  4,  11, 13, 12, 3,  7,  14, 10, 15, 6,  8,
     0,  5,  9,  2,  6,  11, 13, 8,  1,  4,  10, 7,  9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2,  8,  4,  6, 15, 11, 1,  10, 9,  3,  14, 5,  0,  12, 7, 1,  15, 13, 8, 10, 3,
     7,  4,  12, 5,  6, 11, 0,  14, 9,  2,  7,  11, 4,  1,  9,  12, 14, 2, 0,  6, 10, 13,
     15, 3,  5,  8,  2, 1,  14, 7,  4,  10, 8,  13, 15, 12, 9,  0,  3,  5, 6,  11}};

// Moves bit `from` (1 = most significant of `width` bits) of `value` to bit `to` of a 64-bit result.
inline std::uint64_t Bit(std::uint64_t value, int width, int from) { return (value >> (width - from)) & 1; }

struct DesTables {
  std::uint64_t IP[8][256];
  std::uint64_t FP[8][256];
  std::uint32_t SP[8][64];

  DesTables() {
    std::uint8_t fp[64];
    for (int i = 0; i < 64; ++i) fp[kIP[i] - 1] = static_cast<std::uint8_t>(i + 1);
    for (int b = 0; b < 8; ++b) {
      for (int v = 0; v < 256; ++v) {
        const std::uint64_t in = static_cast<std::uint64_t>(v) << (56 - 8 * b);
        std::uint64_t ip = 0, f = 0;
        for (int i = 0; i < 64; ++i) {
          ip |= Bit(in, 64, kIP[i]) << (63 - i);
          f |= Bit(in, 64, fp[i]) << (63 - i);
        }
        IP[b][v] = ip;
        FP[b][v] = f;
      }
    }
    for (int s = 0; s < 8; ++s) {
      for (int v = 0; v < 64; ++v) {
        // Row from the outer bits, column from the inner four.
        const int row = ((v >> 4) & 2) | (v & 1);
        const int col = (v >> 1) & 15;
        const std::uint32_t out = static_cast<std::uint32_t>(kS[s][row * 16 + col]) << (28 - 4 * s);
        std::uint32_t p = 0;
        for (int i = 0; i < 32; ++i) p |= static_cast<std::uint32_t>(Bit(out, 32, kP[i])) << (31 - i);
        SP[s][v] = p;
      }
    }
  }
};

const DesTables& Tables() {
  static const DesTables tables;
  return tables;
}

inline std::uint64_t Permute(const std::uint64_t (&t)[8][256], std::uint64_t x) {
  std::uint64_t r = 0;
  for (int b = 0; b < 8; ++b) r |= t[b][(x >> (56 - 8 * b)) & 0xFF];
  return r;
}

inline std::uint32_t Rol32(std::uint32_t x, int n) { return n == 0 ? x : (x << n) | (x >> (32 - n)); }

std::shared_ptr<TCipher> Create1DES(std::string_view password, std::shared_ptr<TProtection> p) {
  return TCipher::Create<TCipher_1DES>(password, std::move(p));
}
std::shared_ptr<TCipher> Create3DES(std::string_view password, std::shared_ptr<TProtection> p) {
  return TCipher::Create<TCipher_3DES>(password, std::move(p));
}
std::shared_ptr<TCipher> Create3TDES(std::string_view password, std::shared_ptr<TProtection> p) {
  return TCipher::Create<TCipher_3TDES>(password, std::move(p));
}

constexpr int kScheduleWords = 32;  // one direction of one DES key

}  // namespace

void TCipher_1DES::MakeKey(const std::uint8_t* key, std::uint32_t* schedule, bool reverse) {
  std::uint64_t k = 0;
  for (int i = 0; i < 8; ++i) k = (k << 8) | key[i];
  std::uint64_t cd = 0;
  for (int i = 0; i < 56; ++i) cd |= Bit(k, 64, kPC1[i]) << (55 - i);
  std::uint32_t c = static_cast<std::uint32_t>(cd >> 28) & 0x0FFFFFFF;
  std::uint32_t d = static_cast<std::uint32_t>(cd) & 0x0FFFFFFF;
  auto* groups = reinterpret_cast<std::uint8_t*>(schedule);
  for (int r = 0; r < 16; ++r) {
    for (int s = 0; s < kShifts[r]; ++s) {
      c = ((c << 1) | (c >> 27)) & 0x0FFFFFFF;
      d = ((d << 1) | (d >> 27)) & 0x0FFFFFFF;
    }
    const std::uint64_t both = (static_cast<std::uint64_t>(c) << 28) | d;
    std::uint64_t sub = 0;
    for (int i = 0; i < 48; ++i) sub |= Bit(both, 56, kPC2[i]) << (47 - i);
    const int slot = reverse ? 15 - r : r;
    for (int g = 0; g < 8; ++g) groups[8 * slot + g] = static_cast<std::uint8_t>((sub >> (42 - 6 * g)) & 63);
  }
  k = 0;
  cd = 0;
}

void TCipher_1DES::DESFunc(std::uint8_t* block, const std::uint32_t* schedule) {
  const DesTables& t = Tables();
  std::uint64_t x = 0;
  for (int i = 0; i < 8; ++i) x = (x << 8) | block[i];
  x = Permute(t.IP, x);
  std::uint32_t l = static_cast<std::uint32_t>(x >> 32);
  std::uint32_t r = static_cast<std::uint32_t>(x);
  const auto* groups = reinterpret_cast<const std::uint8_t*>(schedule);
  for (int round = 0; round < 16; ++round) {
    const std::uint8_t* k = groups + 8 * round;
    std::uint32_t f = 0;
    for (int g = 0; g < 8; ++g) {
      // Expansion group g: bits 4g .. 4g+5 of R (1-based, wrapping at 32).
      const std::uint32_t e = (Rol32(r, (4 * g + 31) & 31) >> 26) & 63;
      f |= t.SP[g][e ^ k[g]];
    }
    const std::uint32_t next = l ^ f;
    l = r;
    r = next;
  }
  x = (static_cast<std::uint64_t>(r) << 32) | l;
  x = Permute(t.FP, x);
  for (int i = 7; i >= 0; --i) {
    block[i] = static_cast<std::uint8_t>(x);
    x >>= 8;
  }
}

// ---- single DES ----

TCipherClass TCipher_1DES::Class() {
  static const TCipherClassInfo info{"TCipher_1DES", Context(), &Create1DES};
  return &info;
}

void TCipher_1DES::TestVector() const { throw Exception("TCipher_1DES.TestVector not implemented"); }

void TCipher_1DES::Init(const void* key, int size, const void* iVector) {
  BeginInit(size);
  std::uint8_t k[8] = {};
  if (size > 0) std::memcpy(k, key, static_cast<std::size_t>(size));
  MakeKey(k, UserWords(), false);
  MakeKey(k, UserWords() + kScheduleWords, true);
  std::memset(k, 0, sizeof(k));
  FinishInit(iVector);
}

void TCipher_1DES::EncodeBlock(void* data) { DESFunc(static_cast<std::uint8_t*>(data), UserWords()); }
void TCipher_1DES::DecodeBlock(void* data) {
  DESFunc(static_cast<std::uint8_t*>(data), UserWords() + kScheduleWords);
}

// ---- triple DES: schedule = E1 D1 E2 D2 E3 D3 ----

TCipherClass TCipher_3DES::Class() {
  static const TCipherClassInfo info{"TCipher_3DES", Context(), &Create3DES};
  return &info;
}

void TCipher_3DES::TestVector() const { throw Exception("TCipher_3DES.TestVector not implemented 24"); }

void TCipher_3DES::Init(const void* key, int size, const void* iVector) {
  BeginInit(size);
  std::uint8_t k[24] = {};
  if (size > 0) std::memcpy(k, key, static_cast<std::size_t>(size));
  for (int part = 0; part < 3; ++part) {
    MakeKey(k + 8 * part, UserWords() + 2 * part * kScheduleWords, false);
    MakeKey(k + 8 * part, UserWords() + (2 * part + 1) * kScheduleWords, true);
  }
  std::memset(k, 0, sizeof(k));
  FinishInit(iVector);
}

void TCipher_3DES::EncodeBlock(void* data) {
  auto* p = static_cast<std::uint8_t*>(data);
  DESFunc(p, UserWords());
  DESFunc(p, UserWords() + 3 * kScheduleWords);
  DESFunc(p, UserWords() + 4 * kScheduleWords);
}

void TCipher_3DES::DecodeBlock(void* data) {
  auto* p = static_cast<std::uint8_t*>(data);
  DESFunc(p, UserWords() + 5 * kScheduleWords);
  DESFunc(p, UserWords() + 2 * kScheduleWords);
  DESFunc(p, UserWords() + 1 * kScheduleWords);
}

// ---- triple DES over 24-byte blocks ----

namespace {

// Bytes 4-7 and 8-11 trade places; nothing else moves.
inline void Exchange(std::uint8_t* p) {
  std::uint8_t t[4];
  std::memcpy(t, p + 4, 4);
  std::memcpy(p + 4, p + 8, 4);
  std::memcpy(p + 8, t, 4);
}

}  // namespace

TCipherClass TCipher_3TDES::Class() {
  static const TCipherClassInfo info{"TCipher_3TDES", Context(), &Create3TDES};
  return &info;
}

void TCipher_3TDES::TestVector() const { throw Exception("TCipher_3TDES.TestVector not implemented 25"); }

void TCipher_3TDES::EncodeBlock(void* data) {
  auto* p = static_cast<std::uint8_t*>(data);
  for (int i = 0; i < 3; ++i) DESFunc(p + 8 * i, UserWords());
  Exchange(p);
  for (int i = 0; i < 3; ++i) DESFunc(p + 8 * i, UserWords() + 3 * kScheduleWords);
  Exchange(p);
  for (int i = 0; i < 3; ++i) DESFunc(p + 8 * i, UserWords() + 4 * kScheduleWords);
}

void TCipher_3TDES::DecodeBlock(void* data) {
  auto* p = static_cast<std::uint8_t*>(data);
  for (int i = 0; i < 3; ++i) DESFunc(p + 8 * i, UserWords() + 5 * kScheduleWords);
  Exchange(p);
  for (int i = 0; i < 3; ++i) DESFunc(p + 8 * i, UserWords() + 2 * kScheduleWords);
  Exchange(p);
  for (int i = 0; i < 3; ++i) DESFunc(p + 8 * i, UserWords() + 1 * kScheduleWords);
}

}  // namespace nrd
