// The page-cipher choice of encrypted database files: eight algorithms, each a cipher class with the
// hash that turns the password into its key. A page is coded in place in mode cmCTS with a vector of
// 0xFF bytes. TNRDPageCipher does the key setup once and codes any number of pages; its output equals
// that of a cipher built afresh for each page.
// Thread safety: a TNRDPageCipher is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/foundation/NRDCipher.h"

namespace nrd {

// Stored as one byte with each encrypted database file.
enum TNRDCryptoAlgorithm : std::uint8_t {
  craRijndael_128,
  craRijndael_256,
  craDES_Single,
  craDES_Triple,
  craBlowfish,
  craTwofish_128,
  craTwofish_256,
  craSquare
};

inline constexpr int kCryptoAlgorithmCount = 8;
extern const char* const CryptoAlgorithmNames[kCryptoAlgorithmCount];

struct TNRDPassword {
  std::string Password;
  TNRDCryptoAlgorithm CryptoAlgorithm = craRijndael_128;
};

// The cipher and hash classes of an algorithm. Throws ECipherException for a value outside 0..7.
TCipherClass CryptoCipherClass(TNRDCryptoAlgorithm algorithm);
THashClass CryptoHashClass(TNRDCryptoAlgorithm algorithm);

// A cipher keyed for pages: the password's digest under the algorithm's hash, vector 0xFF bytes, cmCTS.
// Throws ECipherException for an unknown algorithm.
std::shared_ptr<TCipher> CreatePageCipher(TNRDCryptoAlgorithm algorithm, const std::string& password);

class TNRDPageCipher {
 public:
  // Throws ECipherException for an unknown algorithm.
  TNRDPageCipher(TNRDCryptoAlgorithm algorithm, const std::string& password);
  // Code `length` bytes at `buffer` in place, each call starting from the vector.
  void EncryptPage(void* buffer, int length);
  void DecryptPage(void* buffer, int length);
  TNRDCryptoAlgorithm Algorithm() const { return FAlgorithm; }

 private:
  TNRDCryptoAlgorithm FAlgorithm;
  std::shared_ptr<TCipher> FCipher;
};

// Build a cipher for this one call and code the buffer in place. False when anything fails (an
// unknown algorithm included); the buffer is then not to be trusted.
bool EncryptPageData(TNRDCryptoAlgorithm algorithm, void* buffer, int length, const std::string& password);
bool DecryptPageData(TNRDCryptoAlgorithm algorithm, void* buffer, int length, const std::string& password);

}  // namespace nrd
