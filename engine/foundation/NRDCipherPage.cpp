// The page-cipher choice: algorithm table, key setup and in-place page coding.
#include "engine/foundation/NRDCipherPage.h"

namespace nrd {

const char* const CryptoAlgorithmNames[kCryptoAlgorithmCount] = {
    "Rijndael_128", "Rijndael_256", "DES_Single", "DES_Triple",
    "Blowfish",     "Twofish_128",  "Twofish_256", "Square"};

namespace {

void CheckAlgorithm(TNRDCryptoAlgorithm algorithm) {
  if (static_cast<int>(algorithm) >= kCryptoAlgorithmCount)
    throw ECipherException("Unknown crypto algorithm " + std::to_string(static_cast<int>(algorithm)), 0);
}

}  // namespace

TCipherClass CryptoCipherClass(TNRDCryptoAlgorithm algorithm) {
  CheckAlgorithm(algorithm);
  switch (algorithm) {
    case craRijndael_128:
    case craRijndael_256: return TCipher_Rijndael::Class();
    case craDES_Single: return TCipher_1DES::Class();
    case craDES_Triple: return TCipher_3TDES::Class();
    case craBlowfish: return TCipher_Blowfish::Class();
    case craTwofish_128:
    case craTwofish_256: return TCipher_Twofish::Class();
    default: return TCipher_Square::Class();
  }
}

THashClass CryptoHashClass(TNRDCryptoAlgorithm algorithm) {
  CheckAlgorithm(algorithm);
  switch (algorithm) {
    case craRijndael_256:
    case craBlowfish:
    case craTwofish_256: return THash_RipeMD256::Class();
    default: return THash_RipeMD128::Class();
  }
}

std::shared_ptr<TCipher> CreatePageCipher(TNRDCryptoAlgorithm algorithm, const std::string& password) {
  TCipherClass cipherClass = CryptoCipherClass(algorithm);
  // Creating with the password first keys the cipher under RIPEMD-256; InitKey below starts over
  // (it wipes the schedule), so creating without a password gives the same cipher.
  std::shared_ptr<TCipher> cipher = cipherClass->Create({}, nullptr);
  cipher->SetHashClass(CryptoHashClass(algorithm));
  // The cipher's own vector area holds 0xFF bytes once the key setup has wiped it.
  cipher->InitKey(password, cipher->Vector());
  return cipher;
}

TNRDPageCipher::TNRDPageCipher(TNRDCryptoAlgorithm algorithm, const std::string& password)
    : FAlgorithm(algorithm), FCipher(CreatePageCipher(algorithm, password)) {}

void TNRDPageCipher::EncryptPage(void* buffer, int length) {
  FCipher->Done();
  FCipher->EncodeBuffer(buffer, buffer, length);
}

void TNRDPageCipher::DecryptPage(void* buffer, int length) {
  FCipher->Done();
  FCipher->DecodeBuffer(buffer, buffer, length);
}

bool EncryptPageData(TNRDCryptoAlgorithm algorithm, void* buffer, int length, const std::string& password) {
  try {
    CreatePageCipher(algorithm, password)->EncodeBuffer(buffer, buffer, length);
    return true;
  } catch (...) {
    return false;
  }
}

bool DecryptPageData(TNRDCryptoAlgorithm algorithm, void* buffer, int length, const std::string& password) {
  try {
    CreatePageCipher(algorithm, password)->DecodeBuffer(buffer, buffer, length);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace nrd
