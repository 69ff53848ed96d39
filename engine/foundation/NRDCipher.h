// The engine's cipher library: protection chains (TProtection), the hash base (THash) with MD4,
// RIPEMD-128 and RIPEMD-256, the block-cipher base (TCipher) with its eight chaining modes, and the
// block ciphers Rijndael (AES), Blowfish, DES, triple DES (8- and 24-byte blocks), Twofish and Square.
// Objects live by shared ownership (a chain link keeps the next one alive). Cipher and hash objects
// are not thread-safe; create one per thread. Ciphers raise ECipherException (code 3: not initialised),
// chains EProtection, unimplemented operations a plain Exception ("Not implemented N").
// This file assumes a little-endian host: digests are the chaining words in memory order.
#pragma once

#include <bit>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/foundation/NRDDecUtil.h"
#include "engine/foundation/NRDStreams.h"

static_assert(std::endian::native == std::endian::little, "the cipher library assumes a little-endian host");

namespace nrd {

// ---------------------------------------------------------------------------------------------
// Protection chains.

enum TPAction : std::uint8_t { paEncode, paDecode, paScramble, paCalc, paWipe };

// A set of TPAction, one bit per action.
using TPActions = std::uint8_t;
constexpr TPActions PActionBit(TPAction action) { return static_cast<TPActions>(1u << action); }
constexpr TPActions kAllPActions = 0x1F;

// Module-wide progress routine: (sender, current, total). Nothing in the engine sets it.
using TProgressEvent = std::function<void(const void* sender, std::int64_t current, std::int64_t total)>;
void SetProgressEvent(TProgressEvent event);
void DoProgress(const void* sender, std::int64_t current, std::int64_t total);

// A link in a chain of coders. The base links only forward to the next link.
class TProtection {
 public:
  explicit TProtection(std::shared_ptr<TProtection> aProtection = nullptr);
  virtual ~TProtection();
  TProtection(const TProtection&) = delete;
  TProtection& operator=(const TProtection&) = delete;

  const std::shared_ptr<TProtection>& Protection() const { return FProtection; }
  // Throws EProtection when the new link, or a link behind it, is this object.
  void SetProtection(std::shared_ptr<TProtection> value);

  virtual void StartCoding(TPAction action);
  virtual void FinishCoding(TPAction action);
  virtual void CodeChunk(void* buffer, int size, TPAction action);
  // Codes `dataSize` bytes (negative: the whole source from position 0) of `source` into `dest`
  // (nullptr: back into the source), in pieces of at most 4096 bytes.
  virtual void CodeStream(TStream* source, TStream* dest, std::int64_t dataSize, TPAction action);
  // Codes a file into another file, or in place when the names are the same (ignoring case) or
  // the destination is blank. Throws ENRDException when a file cannot be opened.
  virtual void CodeFile(const std::string& source, const std::string& dest, TPAction action);
  // Codes a string; for paDecode the source is text in `format`, otherwise the result is.
  virtual std::string CodeString(const std::string& source, TPAction action, int format);
  // StartCoding, CodeChunk, FinishCoding (also when the chunk step throws); returns bufferSize.
  virtual int CodeBuffer(void* buffer, int bufferSize, TPAction action);

  // Not provided: throws "Not implemented 13".
  int Identity() const;

  TPActions FActions = kAllPActions;

 protected:
  bool HasAction(TPAction action) const { return (FActions & PActionBit(action)) != 0; }

 private:
  std::shared_ptr<TProtection> FProtection;
};

// ---------------------------------------------------------------------------------------------
// Hashes.

class THash;

// A "class reference" to a hash class.
struct THashClassInfo {
  const char* ClassName;
  int DigestKeySize;
  std::shared_ptr<THash> (*Create)(std::shared_ptr<TProtection> protection);
};
using THashClass = const THashClassInfo*;

class THash : public TProtection {
 public:
  explicit THash(std::shared_ptr<TProtection> aProtection = nullptr) : TProtection(std::move(aProtection)) {}

  void StartCoding(TPAction action) override;
  void FinishCoding(TPAction action) override;
  void CodeChunk(void* buffer, int size, TPAction action) override;

  virtual const char* ClassName() const { return "THash"; }
  virtual void TestVector() const;
  virtual void Init() {}
  virtual void Calc(const void* data, std::int64_t dataSize);
  virtual void Done() {}
  // The digest bytes, valid after Done until the next Init. The base has none: "Not implemented 14".
  virtual std::uint8_t* DigestKey();
  virtual int DigestKeySize() const { return 0; }

  std::string DigestStr(int format);

  static void SelfTest();
  static std::string CalcBuffer(THashClass cls, const void* buffer, int bufferSize,
                                std::shared_ptr<TProtection> protection = nullptr, int format = -1);
  static std::string CalcString(THashClass cls, const std::string& data,
                                std::shared_ptr<TProtection> protection = nullptr, int format = -1);
  // A negative size takes the whole stream from position 0.
  static std::string CalcStream(THashClass cls, TStream& stream, std::int64_t streamSize,
                                std::shared_ptr<TProtection> protection = nullptr, int format = -1);
  static std::string CalcFile(THashClass cls, const std::string& fileName,
                              std::shared_ptr<TProtection> protection = nullptr, int format = -1);
};

// MD4: 64-byte blocks, four chaining words. The byte count is 64-bit.
class THash_MD4 : public THash {
 public:
  explicit THash_MD4(std::shared_ptr<TProtection> aProtection = nullptr);
  ~THash_MD4() override;

  const char* ClassName() const override { return "THash_MD4"; }
  void TestVector() const override;
  void Init() override;
  void Calc(const void* data, std::int64_t dataSize) override;
  void Done() override;
  std::uint8_t* DigestKey() override { return reinterpret_cast<std::uint8_t*>(FDigest); }
  int DigestKeySize() const override { return 16; }
  // Runs the compression function over one 64-byte block (16 little-endian words).
  virtual void TransformBlock(const std::uint32_t* block);

  static THashClass Class();

 protected:
  std::uint64_t FCount = 0;
  std::uint32_t FBuffer[16] = {};
  std::uint32_t FDigest[8] = {};
};

class THash_RipeMD128 : public THash_MD4 {
 public:
  using THash_MD4::THash_MD4;
  const char* ClassName() const override { return "THash_RipeMD128"; }
  void TestVector() const override;
  void TransformBlock(const std::uint32_t* block) override;
  static THashClass Class();
};

class THash_RipeMD256 : public THash_RipeMD128 {
 public:
  explicit THash_RipeMD256(std::shared_ptr<TProtection> aProtection = nullptr)
      : THash_RipeMD128(std::move(aProtection)) {
    THash_RipeMD256::Init();
  }
  const char* ClassName() const override { return "THash_RipeMD256"; }
  void TestVector() const override;
  void Init() override;
  int DigestKeySize() const override { return 32; }
  void TransformBlock(const std::uint32_t* block) override;
  static THashClass Class();
};

// ---------------------------------------------------------------------------------------------
// Block ciphers.

enum TCipherMode : std::uint8_t { cmCTS, cmCBC, cmCFB, cmOFB, cmECB, cmCTSMAC, cmCBCMAC, cmCFBMAC };

// Block size, largest key and key-schedule area, in bytes.
struct TCipherContext {
  int BufSize;
  int KeySize;
  int UserSize;
};

class TCipher;

// A "class reference" to a cipher class.
struct TCipherClassInfo {
  const char* ClassName;
  TCipherContext Context;
  // Creates the cipher; a non-empty password runs InitKey(password, no vector).
  std::shared_ptr<TCipher> (*Create)(std::string_view password, std::shared_ptr<TProtection> protection);
};
using TCipherClass = const TCipherClassInfo*;

class TCipher : public TProtection {
 public:
  ~TCipher() override;

  // Creates a cipher of class C; a non-empty password runs InitKey(password, no vector).
  template <class C>
  static std::shared_ptr<C> Create(std::string_view password = {}, std::shared_ptr<TProtection> protection = nullptr) {
    auto cipher = std::make_shared<C>(std::move(protection));
    if (!password.empty()) cipher->InitKey(password, nullptr);
    return cipher;
  }

  void StartCoding(TPAction action) override;
  void FinishCoding(TPAction action) override;
  void CodeChunk(void* buffer, int size, TPAction action) override;

  virtual const char* ClassName() const { return "TCipher"; }
  virtual void SetFlagByIndex(int index, bool value);
  // Ends a key setup: copies the vector (or enciphers the current one), Feedback := Vector.
  virtual void FinishInit(const void* iVector);
  virtual void TestVector() const;
  // One block in place; the base does nothing.
  virtual void EncodeBlock(void* data);
  virtual void DecodeBlock(void* data);
  // Key setup from the first `size` bytes of `key` (cut to KeySize); `iVector` may be nullptr.
  virtual void Init(const void* key, int size, const void* iVector);
  // Restarts chaining from the vector.
  virtual void Done();
  // Wipes the key schedule and registers and clears the flags.
  virtual void Protect();

  static void SelfTest();
  // Key setup from a password: the password's digest (cut to KeySize) is the key.
  void InitKey(std::string_view key, const void* iVector);
  // Code `dataSize` bytes in the current mode; source and dest may be the same buffer.
  // Throws ECipherException (code 3) when the cipher is not initialised.
  void EncodeBuffer(const void* source, void* dest, int dataSize);
  void DecodeBuffer(const void* source, void* dest, int dataSize);

  bool GetFlagByIndex(int index) const { return (FFlags & (1 << index)) != 0; }
  bool HasHashKey() const { return GetFlagByIndex(0); }
  bool Initialized() const { return GetFlagByIndex(1); }

  TCipherMode Mode() const { return FMode; }
  void SetMode(TCipherMode mode) { FMode = mode; }
  int KeySize() const { return FKeySize; }
  int BufSize() const { return FBufSize; }
  int UserSize() const { return FUserSize; }
  std::uint8_t* Vector() { return FVector.data(); }
  std::uint8_t* Feedback() { return FFeedback.data(); }
  const std::uint8_t* Vector() const { return FVector.data(); }
  const std::uint8_t* Feedback() const { return FFeedback.data(); }

  // The hash of the key setup, created from HashClass on first use.
  std::shared_ptr<THash> Hash();
  THashClass HashClass() const { return FHashClass; }
  // nullptr selects RIPEMD-256.
  void SetHashClass(THashClass value);

 protected:
  TCipher(TCipherContext context, std::shared_ptr<TProtection> aProtection);
  // Starts a key setup: clears Initialized, wipes, clamps size to 0..KeySize.
  void BeginInit(int& size);
  void CheckInitialized() const;
  std::uint8_t* User() { return reinterpret_cast<std::uint8_t*>(FUser.data()); }
  std::uint32_t* UserWords() { return FUser.data(); }

 private:
  void CodeFinalPart(const std::uint8_t* source, std::uint8_t* dest, int n);

  TCipherMode FMode = cmCTS;
  std::shared_ptr<THash> FHash;
  THashClass FHashClass;
  int FKeySize;
  int FBufSize;
  int FUserSize;
  std::vector<std::uint8_t> FBuffer;
  std::vector<std::uint8_t> FVector;
  std::vector<std::uint8_t> FFeedback;
  std::vector<std::uint32_t> FUser;  // word-aligned key schedule, FUserSize bytes
  int FFlags = 0;
};

// Rijndael with 128-bit blocks (AES); keys of up to 16, 24 or 32 bytes give 10, 12 or 14 rounds.
class TCipher_Rijndael : public TCipher {
 public:
  explicit TCipher_Rijndael(std::shared_ptr<TProtection> p = nullptr) : TCipher(Context(), std::move(p)) {}
  static TCipherContext Context() { return {16, 32, 480}; }
  static TCipherClass Class();
  const char* ClassName() const override { return "TCipher_Rijndael"; }
  void TestVector() const override;
  void EncodeBlock(void* data) override;
  void DecodeBlock(void* data) override;
  void Init(const void* key, int size, const void* iVector) override;
  int Rounds() const { return FRounds; }

 private:
  int FRounds = 10;
};

// Blowfish: 8-byte blocks, keys of 1..56 bytes.
class TCipher_Blowfish : public TCipher {
 public:
  explicit TCipher_Blowfish(std::shared_ptr<TProtection> p = nullptr) : TCipher(Context(), std::move(p)) {}
  static TCipherContext Context() { return {8, 56, 4168}; }
  static TCipherClass Class();
  const char* ClassName() const override { return "TCipher_Blowfish"; }
  void TestVector() const override;
  void EncodeBlock(void* data) override;
  void DecodeBlock(void* data) override;
  void Init(const void* key, int size, const void* iVector) override;
};

// DES: 8-byte blocks, an 8-byte key (parity bits ignored).
class TCipher_1DES : public TCipher {
 public:
  explicit TCipher_1DES(std::shared_ptr<TProtection> p = nullptr) : TCipher(Context(), std::move(p)) {}
  static TCipherContext Context() { return {8, 8, 256}; }
  static TCipherClass Class();
  const char* ClassName() const override { return "TCipher_1DES"; }
  void TestVector() const override;
  void EncodeBlock(void* data) override;
  void DecodeBlock(void* data) override;
  void Init(const void* key, int size, const void* iVector) override;

 protected:
  TCipher_1DES(TCipherContext context, std::shared_ptr<TProtection> p) : TCipher(context, std::move(p)) {}
  // 32 round-key words (16 rounds x 2) for one direction.
  static void MakeKey(const std::uint8_t* key, std::uint32_t* schedule, bool reverse);
  static void DESFunc(std::uint8_t* block, const std::uint32_t* schedule);
};

// Triple DES, encrypt-decrypt-encrypt with K1, K2, K3 = key bytes 0-7, 8-15, 16-23 (zero-padded).
class TCipher_3DES : public TCipher_1DES {
 public:
  explicit TCipher_3DES(std::shared_ptr<TProtection> p = nullptr) : TCipher_1DES(Context(), std::move(p)) {}
  static TCipherContext Context() { return {8, 24, 768}; }
  static TCipherClass Class();
  const char* ClassName() const override { return "TCipher_3DES"; }
  void TestVector() const override;
  void EncodeBlock(void* data) override;
  void DecodeBlock(void* data) override;
  void Init(const void* key, int size, const void* iVector) override;

 protected:
  TCipher_3DES(TCipherContext context, std::shared_ptr<TProtection> p) : TCipher_1DES(context, std::move(p)) {}
};

// Triple DES over 24-byte blocks: three DES blocks side by side, bytes 4-7 and 8-11 exchanged
// between the passes.
class TCipher_3TDES : public TCipher_3DES {
 public:
  explicit TCipher_3TDES(std::shared_ptr<TProtection> p = nullptr) : TCipher_3DES(Context(), std::move(p)) {}
  static TCipherContext Context() { return {24, 24, 768}; }
  static TCipherClass Class();
  const char* ClassName() const override { return "TCipher_3TDES"; }
  void TestVector() const override;
  void EncodeBlock(void* data) override;
  void DecodeBlock(void* data) override;
};

// Twofish: 16-byte blocks; the key is zero-padded to 16, 24 or 32 bytes.
class TCipher_Twofish : public TCipher {
 public:
  explicit TCipher_Twofish(std::shared_ptr<TProtection> p = nullptr) : TCipher(Context(), std::move(p)) {}
  static TCipherContext Context() { return {16, 32, 4256}; }
  static TCipherClass Class();
  const char* ClassName() const override { return "TCipher_Twofish"; }
  void TestVector() const override;
  void EncodeBlock(void* data) override;
  void DecodeBlock(void* data) override;
  void Init(const void* key, int size, const void* iVector) override;
};

// Square: 8 rounds on 16-byte blocks with a 16-byte key (zero-padded).
class TCipher_Square : public TCipher {
 public:
  explicit TCipher_Square(std::shared_ptr<TProtection> p = nullptr) : TCipher(Context(), std::move(p)) {}
  static TCipherContext Context() { return {16, 16, 288}; }
  static TCipherClass Class();
  const char* ClassName() const override { return "TCipher_Square"; }
  void TestVector() const override;
  void EncodeBlock(void* data) override;
  void DecodeBlock(void* data) override;
  void Init(const void* key, int size, const void* iVector) override;
};

// ---------------------------------------------------------------------------------------------
// Cipher registry: entries "name=description" with their class. Nothing in the engine reads it.

struct TCipherListEntry {
  std::string Text;
  TCipherClass Class;
};
// The registry, created on first use with Rijndael registered.
std::vector<TCipherListEntry>& GetCipherList();
// Adds a class (nothing for nullptr); a blank name becomes the class name after the first "_".
// A listed class has its entry text replaced.
void AddCipherClass(TCipherClass cls, const std::string& name, const std::string& description);

}  // namespace nrd
