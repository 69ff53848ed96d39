// Blowfish: 16 rounds over two 32-bit halves read most significant byte first. The schedule area holds
// the P-array (18 words) followed by the four S-boxes (4 x 256 words).
#include <cstring>

#include "engine/foundation/NRDCipher.h"
#include "engine/foundation/NRDCipherBlowfishTables.h"

namespace nrd {

namespace {

// Byte order of a half: most significant byte first.
inline std::uint32_t SwapInt(std::uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

inline std::uint32_t Load(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return SwapInt(v);
}

inline void Store(std::uint8_t* p, std::uint32_t v) {
  v = SwapInt(v);
  std::memcpy(p, &v, 4);
}

inline std::uint32_t F(const std::uint32_t* s, std::uint32_t x) {
  return ((s[x >> 24] + s[256 + ((x >> 16) & 0xFF)]) ^ s[512 + ((x >> 8) & 0xFF)]) + s[768 + (x & 0xFF)];
}

inline void Encipher(const std::uint32_t* p, std::uint32_t& l, std::uint32_t& r) {
  const std::uint32_t* s = p + 18;
  for (int i = 0; i < 16; i += 2) {
    l ^= p[i];
    r ^= F(s, l);
    r ^= p[i + 1];
    l ^= F(s, r);
  }
  l ^= p[16];
  r ^= p[17];
  std::swap(l, r);
}

inline void Decipher(const std::uint32_t* p, std::uint32_t& l, std::uint32_t& r) {
  const std::uint32_t* s = p + 18;
  for (int i = 17; i > 1; i -= 2) {
    l ^= p[i];
    r ^= F(s, l);
    r ^= p[i - 1];
    l ^= F(s, r);
  }
  l ^= p[1];
  r ^= p[0];
  std::swap(l, r);
}

std::shared_ptr<TCipher> CreateBlowfish(std::string_view password, std::shared_ptr<TProtection> p) {
  return TCipher::Create<TCipher_Blowfish>(password, std::move(p));
}

}  // namespace

TCipherClass TCipher_Blowfish::Class() {
  static const TCipherClassInfo info{"TCipher_Blowfish", Context(), &CreateBlowfish};
  return &info;
}

void TCipher_Blowfish::TestVector() const { throw Exception("TCipher_Blowfish.TestVector not implemented 21"); }

void TCipher_Blowfish::Init(const void* key, int size, const void* iVector) {
  BeginInit(size);
  std::uint32_t* p = UserWords();
  std::memcpy(p, blowfish_init::kPi, sizeof(blowfish_init::kPi));
  // A key needs at least one byte; without one the P-array stays unkeyed.
  if (size > 0) {
    std::uint8_t k[56] = {};
    std::memcpy(k, key, static_cast<std::size_t>(size));
    int at = 0;
    for (int i = 0; i < 18; ++i) {
      std::uint32_t w = 0;
      for (int b = 0; b < 4; ++b) {
        w = (w << 8) | k[at];
        at = (at + 1) % size;
      }
      p[i] ^= w;
    }
    std::memset(k, 0, sizeof(k));
  }
  std::uint32_t l = 0, r = 0;
  for (int i = 0; i < 18 + 1024; i += 2) {
    Encipher(p, l, r);
    p[i] = l;
    p[i + 1] = r;
  }
  FinishInit(iVector);
}

void TCipher_Blowfish::EncodeBlock(void* data) {
  auto* b = static_cast<std::uint8_t*>(data);
  std::uint32_t l = Load(b), r = Load(b + 4);
  Encipher(UserWords(), l, r);
  Store(b, l);
  Store(b + 4, r);
}

void TCipher_Blowfish::DecodeBlock(void* data) {
  auto* b = static_cast<std::uint8_t*>(data);
  std::uint32_t l = Load(b), r = Load(b + 4);
  Decipher(UserWords(), l, r);
  Store(b, l);
  Store(b + 4, r);
}

}  // namespace nrd
