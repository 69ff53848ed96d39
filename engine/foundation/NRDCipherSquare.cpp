// Square: 8 rounds on a 4 x 4 byte state whose row i is block bytes 4i..4i+3. A round is theta
// (each row multiplied by c(x) = 2 + x + x^2 + 3x^3 modulo x^4 + 1), gamma (the S-box), pi (transpose)
// and the round-key addition; the cipher starts with the inverse of theta. Arithmetic is in GF(2^8)
// modulo x^8+x^7+x^6+x^5+x^4+x^2+1.
// Implemented with the first theta folded into the keys: encryption keys theta(k0)..theta(k7), k8;
// decryption keys k8, k7..k1, theta(k0). Each round is one table lookup per byte.
#include <bit>
#include <cstring>
#include <utility>

#include "engine/foundation/NRDCipher.h"

namespace nrd {

namespace {

constexpr unsigned kPoly = 0x1F5;

std::uint8_t GfMul(std::uint8_t a, std::uint8_t b) {
  unsigned r = 0, x = a;
  while (b != 0) {
    if (b & 1) r ^= x;
    x <<= 1;
    if (x & 0x100) x ^= kPoly;
    b >>= 1;
  }
  return static_cast<std::uint8_t>(r);
}

// Rows of the S-box's affine map and its constant.
constexpr std::uint8_t kAffine[8] = {0x01, 0x03, 0x05, 0x0F, 0x1F, 0x3D, 0x7B, 0xD6};
constexpr std::uint8_t kAffineConst = 0xB1;

constexpr std::uint8_t kC[4] = {2, 1, 1, 3};  // theta

struct SquareTables {
  std::uint8_t S[256];
  std::uint8_t Si[256];
  std::uint8_t D[4];        // coefficients of the inverse of theta
  std::uint32_t Te[4][256];  // theta(pi(gamma)): contribution of state row j, low byte = column 0
  std::uint32_t Td[4][256];  // inverse theta(pi(inverse gamma))

  SquareTables() {
    for (int x = 0; x < 256; ++x) {
      std::uint8_t inv = 0;
      if (x != 0)
        for (int y = 1; y < 256; ++y)
          if (GfMul(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y)) == 1) {
            inv = static_cast<std::uint8_t>(y);
            break;
          }
      std::uint8_t s = 0;
      for (int bit = 0; bit < 8; ++bit) {
        const unsigned v = static_cast<unsigned>(kAffine[bit] & inv);
        s |= static_cast<std::uint8_t>((std::popcount(v) & 1) << bit);
      }
      s ^= kAffineConst;
      S[x] = s;
      Si[s] = static_cast<std::uint8_t>(x);
    }
    // d(x) with c(x) d(x) = 1 modulo x^4 + 1: search the circulant inverse column by column.
    FindInverse();
    for (int j = 0; j < 4; ++j) {
      for (int x = 0; x < 256; ++x) {
        std::uint32_t e = 0, d = 0;
        for (int k = 0; k < 4; ++k) {
          e |= std::uint32_t{GfMul(kC[(k - j + 4) & 3], S[x])} << (8 * k);
          d |= std::uint32_t{GfMul(D[(k - j + 4) & 3], Si[x])} << (8 * k);
        }
        Te[j][x] = e;
        Td[j][x] = d;
      }
    }
  }

  void FindInverse() {
    // Solve the 4x4 circulant system M d = e0 over GF(2^8) by Gauss-Jordan elimination.
    std::uint8_t m[4][5] = {};
    for (int k = 0; k < 4; ++k) {
      for (int j = 0; j < 4; ++j) m[k][j] = kC[(k - j + 4) & 3];
      m[k][4] = k == 0 ? 1 : 0;
    }
    for (int col = 0; col < 4; ++col) {
      int pivot = col;
      while (m[pivot][col] == 0) ++pivot;
      for (int j = 0; j < 5; ++j) std::swap(m[col][j], m[pivot][j]);
      std::uint8_t inv = 0;
      for (int y = 1; y < 256; ++y)
        if (GfMul(m[col][col], static_cast<std::uint8_t>(y)) == 1) inv = static_cast<std::uint8_t>(y);
      for (int j = 0; j < 5; ++j) m[col][j] = GfMul(m[col][j], inv);
      for (int row = 0; row < 4; ++row) {
        if (row == col || m[row][col] == 0) continue;
        const std::uint8_t f = m[row][col];
        for (int j = 0; j < 5; ++j) m[row][j] ^= GfMul(f, m[col][j]);
      }
    }
    for (int k = 0; k < 4; ++k) D[k] = m[k][4];
  }
};

const SquareTables& Tables() {
  static const SquareTables tables;
  return tables;
}

inline std::uint32_t Load(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}

inline void Store(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

// theta on one row held as a word (column 0 in the low byte).
std::uint32_t ThetaRow(std::uint32_t row, const std::uint8_t (&c)[4]) {
  std::uint32_t out = 0;
  for (int k = 0; k < 4; ++k) {
    std::uint8_t v = 0;
    for (int j = 0; j < 4; ++j) v ^= GfMul(c[(k - j + 4) & 3], static_cast<std::uint8_t>(row >> (8 * j)));
    out |= std::uint32_t{v} << (8 * k);
  }
  return out;
}

// One round through the tables: out row i = XOR over rows j of T[j][state[j] byte i] ^ key[i].
inline void Round(const std::uint32_t (&t)[4][256], std::uint32_t (&s)[4], const std::uint32_t* key) {
  std::uint32_t o[4];
  for (int i = 0; i < 4; ++i)
    o[i] = t[0][(s[0] >> (8 * i)) & 0xFF] ^ t[1][(s[1] >> (8 * i)) & 0xFF] ^ t[2][(s[2] >> (8 * i)) & 0xFF] ^
           t[3][(s[3] >> (8 * i)) & 0xFF] ^ key[i];
  for (int i = 0; i < 4; ++i) s[i] = o[i];
}

// Last round: pi and the byte substitution only.
inline void LastRound(const std::uint8_t (&box)[256], std::uint32_t (&s)[4], const std::uint32_t* key) {
  std::uint32_t o[4];
  for (int i = 0; i < 4; ++i) {
    o[i] = 0;
    for (int j = 0; j < 4; ++j) o[i] |= std::uint32_t{box[(s[j] >> (8 * i)) & 0xFF]} << (8 * j);
    o[i] ^= key[i];
  }
  for (int i = 0; i < 4; ++i) s[i] = o[i];
}

constexpr int kRounds = 8;

std::shared_ptr<TCipher> CreateSquare(std::string_view password, std::shared_ptr<TProtection> p) {
  return TCipher::Create<TCipher_Square>(password, std::move(p));
}

}  // namespace

TCipherClass TCipher_Square::Class() {
  static const TCipherClassInfo info{"TCipher_Square", Context(), &CreateSquare};
  return &info;
}

void TCipher_Square::TestVector() const { throw Exception("TCipher_Square.TestVector not implemented 27"); }

void TCipher_Square::Init(const void* key, int size, const void* iVector) {
  BeginInit(size);
  std::uint8_t k[16] = {};
  if (size > 0) std::memcpy(k, key, static_cast<std::size_t>(size));
  std::uint32_t rk[kRounds + 1][4];
  for (int i = 0; i < 4; ++i) rk[0][i] = Load(k + 4 * i);
  std::uint8_t constant = 1;
  for (int t = 1; t <= kRounds; ++t) {
    const std::uint32_t last = rk[t - 1][3];
    const std::uint32_t rotated = (last >> 8) | (last << 24);  // row (a0,a1,a2,a3) -> (a1,a2,a3,a0)
    rk[t][0] = rk[t - 1][0] ^ rotated ^ constant;
    rk[t][1] = rk[t - 1][1] ^ rk[t][0];
    rk[t][2] = rk[t - 1][2] ^ rk[t][1];
    rk[t][3] = rk[t - 1][3] ^ rk[t][2];
    constant = GfMul(constant, 2);
  }
  std::uint32_t* enc = UserWords();
  std::uint32_t* dec = enc + 4 * (kRounds + 1);
  for (int t = 0; t <= kRounds; ++t)
    for (int i = 0; i < 4; ++i) enc[4 * t + i] = t < kRounds ? ThetaRow(rk[t][i], kC) : rk[t][i];
  for (int t = 0; t <= kRounds; ++t)
    for (int i = 0; i < 4; ++i) dec[4 * t + i] = t < kRounds ? rk[kRounds - t][i] : enc[i];
  std::memset(k, 0, sizeof(k));
  std::memset(rk, 0, sizeof(rk));
  FinishInit(iVector);
}

void TCipher_Square::EncodeBlock(void* data) {
  const SquareTables& t = Tables();
  auto* p = static_cast<std::uint8_t*>(data);
  const std::uint32_t* key = UserWords();
  std::uint32_t s[4];
  for (int i = 0; i < 4; ++i) s[i] = Load(p + 4 * i) ^ key[i];
  for (int r = 1; r < kRounds; ++r) Round(t.Te, s, key + 4 * r);
  LastRound(t.S, s, key + 4 * kRounds);
  for (int i = 0; i < 4; ++i) Store(p + 4 * i, s[i]);
}

void TCipher_Square::DecodeBlock(void* data) {
  const SquareTables& t = Tables();
  auto* p = static_cast<std::uint8_t*>(data);
  const std::uint32_t* key = UserWords() + 4 * (kRounds + 1);
  std::uint32_t s[4];
  for (int i = 0; i < 4; ++i) s[i] = Load(p + 4 * i) ^ key[i];
  for (int r = 1; r < kRounds; ++r) Round(t.Td, s, key + 4 * r);
  LastRound(t.Si, s, key + 4 * kRounds);
  for (int i = 0; i < 4; ++i) Store(p + 4 * i, s[i]);
}

}  // namespace nrd
