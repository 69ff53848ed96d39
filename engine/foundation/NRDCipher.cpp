// Protection chains, the hash and cipher bases, the chaining modes and the cipher registry.
#include "engine/foundation/NRDCipher.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace nrd {

namespace {

std::string UpperAscii(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

TProgressEvent& ProgressEvent() {
  static TProgressEvent event;
  return event;
}

void XorInto(std::uint8_t* dest, const std::uint8_t* a, const std::uint8_t* b, int n) {
  for (int i = 0; i < n; ++i) dest[i] = static_cast<std::uint8_t>(a[i] ^ b[i]);
}

}  // namespace

void SetProgressEvent(TProgressEvent event) { ProgressEvent() = std::move(event); }

void DoProgress(const void* sender, std::int64_t current, std::int64_t total) {
  if (ProgressEvent()) ProgressEvent()(sender, current, total);
}

// ---- TProtection ----

TProtection::TProtection(std::shared_ptr<TProtection> aProtection) { SetProtection(std::move(aProtection)); }

TProtection::~TProtection() = default;

void TProtection::SetProtection(std::shared_ptr<TProtection> value) {
  if (value == FProtection) return;
  for (const TProtection* link = value.get(); link != nullptr; link = link->FProtection.get())
    if (link == this) throw EProtection("Circular Protection detected, Protection Object is invalid.");
  FProtection = std::move(value);
}

void TProtection::StartCoding(TPAction action) {
  if (FProtection) FProtection->StartCoding(action);
}

void TProtection::FinishCoding(TPAction action) {
  if (FProtection) FProtection->FinishCoding(action);
}

void TProtection::CodeChunk(void* buffer, int size, TPAction action) {
  if (FProtection) FProtection->CodeChunk(buffer, size, action);
}

void TProtection::CodeStream(TStream* source, TStream* dest, std::int64_t dataSize, TPAction action) {
  if (source == nullptr) return;
  if (dest == nullptr) dest = source;
  if (dataSize < 0) {
    source->SetPosition(0);
    dataSize = source->Size();
  }
  constexpr int kPiece = 4096;
  std::vector<std::uint8_t> piece(kPiece);
  StartCoding(action);
  struct Finish {
    TProtection* self;
    TPAction action;
    bool armed = true;
    ~Finish() {
      if (!armed) return;
      DoProgress(self, 0, 0);
      try {
        self->FinishCoding(action);
      } catch (...) {
        // An exception is already on its way; this one would end the program.
      }
    }
  } finish{this, action};
  DoProgress(this, 0, dataSize);
  std::int64_t done = 0;
  std::int64_t sourcePos = source->Position();
  std::int64_t destPos = dest->Position();
  while (done < dataSize) {
    const int want = static_cast<int>(std::min<std::int64_t>(kPiece, dataSize - done));
    if (action == paCalc) {
      const auto got = source->Read(piece.data(), want);
      if (got <= 0) break;
      CodeChunk(piece.data(), got, action);
      done += got;
    } else {
      source->SetPosition(sourcePos);
      const auto got = source->Read(piece.data(), want);
      if (got <= 0) break;
      sourcePos += got;
      CodeChunk(piece.data(), got, action);
      dest->SetPosition(destPos);
      if (dest->Write(piece.data(), got) != got) throw Exception("Cannot write the coded data to the stream");
      destPos += got;
      done += got;
    }
    DoProgress(this, done, dataSize);
  }
  finish.armed = false;
  DoProgress(this, 0, 0);
  FinishCoding(action);
}

void TProtection::CodeFile(const std::string& source, const std::string& dest, TPAction action) {
  const bool separate =
      UpperAscii(source) != UpperAscii(dest) && (!Trim(dest).empty() || action == paCalc);
  if (separate) {
    TNRDFileStream in(source, fmOpenRead | fmShareDenyNone);
    if (action == paCalc) {
      CodeStream(&in, nullptr, in.Size(), action);
      return;
    }
    TNRDFileStream out(dest, fmCreate);
    CodeStream(&in, &out, in.Size(), action);
    out.SetSize(out.Position());
  } else {
    TNRDFileStream io(source, fmOpenReadWrite);
    CodeStream(&io, &io, io.Size(), action);
  }
}

std::string TProtection::CodeString(const std::string& source, TPAction action, int format) {
  if (source.empty()) return {};
  const std::string bytes = action == paDecode ? StringFormatToBytes(source, format) : source;
  TNRDMemoryStream stream;
  if (stream.Write(bytes.data(), static_cast<std::int32_t>(bytes.size())) != static_cast<std::int32_t>(bytes.size()))
    throw Exception("Cannot write the coded data to the stream");
  CodeStream(&stream, &stream, stream.Size(), action);
  const std::string coded(reinterpret_cast<const char*>(stream.Buffer()), static_cast<std::size_t>(stream.Size()));
  if (action == paDecode) return coded;
  return BytesToStringFormat(coded, format);
}

int TProtection::CodeBuffer(void* buffer, int bufferSize, TPAction action) {
  StartCoding(action);
  try {
    CodeChunk(buffer, bufferSize, action);
  } catch (...) {
    FinishCoding(action);
    throw;
  }
  FinishCoding(action);
  return bufferSize;
}

int TProtection::Identity() const { throw Exception("Not implemented 13"); }

// ---- THash ----

void THash::TestVector() const { throw Exception("Not implemented 14"); }
void THash::SelfTest() { throw Exception("Not implemented 14"); }
void THash::Calc(const void*, std::int64_t) {}
std::uint8_t* THash::DigestKey() { throw Exception("Not implemented 14"); }

std::string THash::DigestStr(int format) {
  return BytesToStringFormat(reinterpret_cast<const char*>(DigestKey()), DigestKeySize(), format);
}

void THash::StartCoding(TPAction action) {
  if (action == paWipe) throw Exception("Not implemented 12");
  Init();
  TProtection::StartCoding(action);
}

void THash::FinishCoding(TPAction action) {
  TProtection::FinishCoding(action);
  if (action == paCalc)
    Done();
  else
    Init();
}

void THash::CodeChunk(void* buffer, int size, TPAction action) {
  if (action != paDecode) TProtection::CodeChunk(buffer, size, action);
  if (HasAction(action) && size > 0) {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    const int step = DigestKeySize();
    if (action == paCalc) {
      Calc(buffer, size);
    } else if (step > 0) {
      std::vector<std::uint8_t> digest(static_cast<std::size_t>(step));
      for (int at = 0; at < size; at += step) {
        const int n = std::min(step, size - at);
        if (action == paScramble || action == paWipe) {
          Calc(bytes + at, n);
          Done();
          std::memcpy(bytes + at, DigestKey(), static_cast<std::size_t>(n));
        } else {
          std::memcpy(digest.data(), DigestKey(), static_cast<std::size_t>(step));
          Calc(digest.data(), step);
          Done();
          XorInto(bytes + at, bytes + at, DigestKey(), n);
        }
      }
    }
  }
  if (action == paDecode) TProtection::CodeChunk(buffer, size, action);
}

namespace {

std::string RunHash(THashClass cls, std::shared_ptr<TProtection> protection, int format,
                    const std::function<void(THash&)>& feed) {
  std::shared_ptr<THash> hash = cls->Create(std::move(protection));
  hash->Init();
  feed(*hash);
  hash->Done();
  return hash->DigestStr(format);
}

}  // namespace

std::string THash::CalcBuffer(THashClass cls, const void* buffer, int bufferSize,
                              std::shared_ptr<TProtection> protection, int format) {
  return RunHash(cls, std::move(protection), format, [&](THash& h) {
    if (buffer != nullptr && bufferSize > 0) h.Calc(buffer, bufferSize);
  });
}

std::string THash::CalcString(THashClass cls, const std::string& data, std::shared_ptr<TProtection> protection,
                              int format) {
  return RunHash(cls, std::move(protection), format,
                 [&](THash& h) { h.Calc(data.data(), static_cast<std::int64_t>(data.size())); });
}

std::string THash::CalcStream(THashClass cls, TStream& stream, std::int64_t streamSize,
                              std::shared_ptr<TProtection> protection, int format) {
  return RunHash(cls, std::move(protection), format, [&](THash& h) {
    if (streamSize < 0) {
      stream.SetPosition(0);
      streamSize = stream.Size();
    }
    std::vector<std::uint8_t> piece(4096);
    std::int64_t done = 0;
    DoProgress(&h, 0, streamSize);
    while (done < streamSize) {
      const auto got =
          stream.Read(piece.data(), static_cast<std::int32_t>(std::min<std::int64_t>(4096, streamSize - done)));
      if (got <= 0) break;
      h.Calc(piece.data(), got);
      done += got;
      DoProgress(&h, done, streamSize);
    }
    DoProgress(&h, 0, 0);
  });
}

std::string THash::CalcFile(THashClass cls, const std::string& fileName, std::shared_ptr<TProtection> protection,
                            int format) {
  TNRDFileStream in(fileName, fmOpenRead | fmShareDenyNone);
  return CalcStream(cls, in, in.Size(), std::move(protection), format);
}

// ---- TCipher ----

TCipher::TCipher(TCipherContext context, std::shared_ptr<TProtection> aProtection)
    : TProtection(std::move(aProtection)),
      FHashClass(THash_RipeMD256::Class()),
      FKeySize(context.KeySize),
      FBufSize(context.BufSize),
      FUserSize(context.UserSize),
      FBuffer(static_cast<std::size_t>(context.BufSize)),
      FVector(static_cast<std::size_t>(context.BufSize)),
      FFeedback(static_cast<std::size_t>(context.BufSize)),
      FUser(static_cast<std::size_t>((context.UserSize + 3) / 4)) {
  Protect();
}

TCipher::~TCipher() { Protect(); }

void TCipher::TestVector() const { throw Exception("Not implemented 14"); }
void TCipher::SelfTest() { throw Exception("Not implemented 14"); }
void TCipher::EncodeBlock(void*) {}
void TCipher::DecodeBlock(void*) {}

void TCipher::SetFlagByIndex(int index, bool value) {
  if (value)
    FFlags |= 1 << index;
  else
    FFlags &= ~(1 << index);
}

void TCipher::Protect() {
  SetFlagByIndex(0, false);
  SetFlagByIndex(1, false);
  auto fill = [this](std::uint8_t v) {
    std::fill(FVector.begin(), FVector.end(), v);
    std::fill(FFeedback.begin(), FFeedback.end(), v);
    std::fill(FBuffer.begin(), FBuffer.end(), v);
    std::memset(FUser.data(), v, FUser.size() * sizeof(std::uint32_t));
  };
  fill(0xAA);
  fill(0x55);
  std::fill(FVector.begin(), FVector.end(), 0xFF);
  std::fill(FFeedback.begin(), FFeedback.end(), 0xFF);
  std::fill(FBuffer.begin(), FBuffer.end(), 0x00);
  std::memset(FUser.data(), 0, FUser.size() * sizeof(std::uint32_t));
}

void TCipher::BeginInit(int& size) {
  SetFlagByIndex(1, false);
  Protect();
  if (size < 0) size = 0;
  if (size > FKeySize) size = FKeySize;
}

void TCipher::FinishInit(const void* iVector) {
  if (iVector != nullptr) {
    std::memmove(FVector.data(), iVector, FVector.size());
  } else {
    EncodeBlock(FVector.data());
  }
  FFeedback = FVector;
  SetFlagByIndex(1, true);
}

void TCipher::Init(const void*, int size, const void* iVector) {
  BeginInit(size);
  FinishInit(iVector);
}

void TCipher::Done() {
  if (FVector != FFeedback) {
    FBuffer = FFeedback;
    FFeedback = FVector;
  }
}

std::shared_ptr<THash> TCipher::Hash() {
  if (!FHash) FHash = (FHashClass != nullptr ? FHashClass : THash_RipeMD256::Class())->Create(nullptr);
  return FHash;
}

void TCipher::SetHashClass(THashClass value) {
  if (value == nullptr) value = THash_RipeMD256::Class();
  if (value == FHashClass) return;
  FHash.reset();
  FHashClass = value;
}

void TCipher::InitKey(std::string_view key, const void* iVector) {
  std::shared_ptr<THash> hash = Hash();
  hash->Init();
  hash->Calc(key.data(), static_cast<std::int64_t>(key.size()));
  hash->Done();
  const int digestSize = hash->DigestKeySize();
  const int n = std::min(digestSize, FKeySize);
  Init(hash->DigestKey(), n, iVector);
  // The digest is the key: encipher it so no copy of the key stays in the hash.
  EncodeBuffer(hash->DigestKey(), hash->DigestKey(), digestSize);
  Done();
  SetFlagByIndex(0, true);
}

void TCipher::CheckInitialized() const {
  if (!Initialized())
    throw ECipherException(std::string(ClassName()) + " is not initialized call Init() or InitKey() before.", 3);
}

// A final part shorter than a block: xor with the encipherment of F, then F := B xor F.
void TCipher::CodeFinalPart(const std::uint8_t* source, std::uint8_t* dest, int n) {
  std::uint8_t* b = FBuffer.data();
  std::uint8_t* f = FFeedback.data();
  std::memcpy(b, f, static_cast<std::size_t>(FBufSize));
  EncodeBlock(b);
  XorInto(dest, source, b, n);
  XorInto(f, b, f, FBufSize);
}

void TCipher::EncodeBuffer(const void* sourceP, void* destP, int dataSize) {
  CheckInitialized();
  if (dataSize <= 0) return;
  const auto* s = static_cast<const std::uint8_t*>(sourceP);
  auto* d = static_cast<std::uint8_t*>(destP);
  const int bs = FBufSize;
  std::uint8_t* f = FFeedback.data();
  std::uint8_t* b = FBuffer.data();
  const int full = dataSize / bs * bs;
  const int tail = dataSize - full;
  switch (FMode) {
    case cmCTS:
      for (int at = 0; at < full; at += bs) {
        XorInto(b, s + at, f, bs);
        EncodeBlock(b);
        XorInto(f, b, f, bs);
        std::memcpy(d + at, b, static_cast<std::size_t>(bs));
      }
      if (tail > 0) CodeFinalPart(s + full, d + full, tail);
      break;
    case cmCBC:
      for (int at = 0; at < full; at += bs) {
        XorInto(f, s + at, f, bs);
        EncodeBlock(f);
        std::memcpy(d + at, f, static_cast<std::size_t>(bs));
      }
      if (tail > 0) CodeFinalPart(s + full, d + full, tail);
      break;
    case cmCFB:
    case cmOFB:
    case cmCFBMAC:
      for (int at = 0; at < dataSize; ++at) {
        std::memcpy(b, f, static_cast<std::size_t>(bs));
        EncodeBlock(b);
        const std::uint8_t in = s[at];
        const auto out = static_cast<std::uint8_t>(in ^ b[0]);
        std::memmove(f, f + 1, static_cast<std::size_t>(bs - 1));
        if (FMode == cmCFB) {
          f[bs - 1] = out;
          d[at] = out;
        } else if (FMode == cmOFB) {
          f[bs - 1] = b[0];
          d[at] = out;
        } else {
          f[bs - 1] = out;
        }
      }
      break;
    case cmECB:
      for (int at = 0; at < full; at += bs) {
        std::memmove(d + at, s + at, static_cast<std::size_t>(bs));
        EncodeBlock(d + at);
      }
      if (tail > 0) {
        // Enciphering the tail itself would not be reversible; xor it with E(F) instead.
        std::memcpy(b, f, static_cast<std::size_t>(bs));
        EncodeBlock(b);
        XorInto(d + full, s + full, b, tail);
      }
      break;
    case cmCTSMAC:
      for (int at = 0; at < full; at += bs) {
        XorInto(b, s + at, f, bs);
        EncodeBlock(b);
        XorInto(f, b, f, bs);
      }
      if (tail > 0) {
        std::memcpy(b, f, static_cast<std::size_t>(bs));
        EncodeBlock(b);
        XorInto(f, b, f, bs);
      }
      break;
    case cmCBCMAC:
      for (int at = 0; at < full; at += bs) {
        XorInto(f, s + at, f, bs);
        EncodeBlock(f);
      }
      if (tail > 0) {
        std::memcpy(b, f, static_cast<std::size_t>(bs));
        EncodeBlock(b);
        XorInto(f, b, f, bs);
      }
      break;
  }
}

void TCipher::DecodeBuffer(const void* sourceP, void* destP, int dataSize) {
  CheckInitialized();
  if (dataSize <= 0) return;
  if (FMode == cmCTSMAC || FMode == cmCBCMAC || FMode == cmCFBMAC) {
    EncodeBuffer(sourceP, destP, dataSize);
    return;
  }
  const auto* s = static_cast<const std::uint8_t*>(sourceP);
  auto* d = static_cast<std::uint8_t*>(destP);
  const int bs = FBufSize;
  std::uint8_t* f = FFeedback.data();
  std::uint8_t* b = FBuffer.data();
  const int full = dataSize / bs * bs;
  const int tail = dataSize - full;
  switch (FMode) {
    case cmCTS:
      for (int at = 0; at < full; at += bs) {
        std::memcpy(b, s + at, static_cast<std::size_t>(bs));  // C (source may be dest)
        DecodeBlock(b);
        XorInto(b, b, f, bs);                                  // P
        XorInto(f, s + at, f, bs);                             // F := C xor F
        std::memcpy(d + at, b, static_cast<std::size_t>(bs));
      }
      if (tail > 0) CodeFinalPart(s + full, d + full, tail);
      break;
    case cmCBC:
      for (int at = 0; at < full; at += bs) {
        std::memcpy(b, s + at, static_cast<std::size_t>(bs));
        DecodeBlock(b);
        XorInto(b, b, f, bs);
        std::memcpy(f, s + at, static_cast<std::size_t>(bs));
        std::memcpy(d + at, b, static_cast<std::size_t>(bs));
      }
      if (tail > 0) CodeFinalPart(s + full, d + full, tail);
      break;
    case cmCFB:
    case cmOFB:
      for (int at = 0; at < dataSize; ++at) {
        std::memcpy(b, f, static_cast<std::size_t>(bs));
        EncodeBlock(b);
        const std::uint8_t in = s[at];
        std::memmove(f, f + 1, static_cast<std::size_t>(bs - 1));
        f[bs - 1] = FMode == cmCFB ? in : b[0];
        d[at] = static_cast<std::uint8_t>(in ^ b[0]);
      }
      break;
    case cmECB:
      for (int at = 0; at < full; at += bs) {
        std::memmove(d + at, s + at, static_cast<std::size_t>(bs));
        DecodeBlock(d + at);
      }
      if (tail > 0) {
        std::memcpy(b, f, static_cast<std::size_t>(bs));
        EncodeBlock(b);
        XorInto(d + full, s + full, b, tail);
      }
      break;
    default:
      break;
  }
}

void TCipher::StartCoding(TPAction action) {
  CheckInitialized();
  if (action != paCalc) {
    if (action == paWipe) throw Exception("Not implemented 12");
    Done();
  }
  TProtection::StartCoding(action);
}

void TCipher::FinishCoding(TPAction action) {
  TProtection::FinishCoding(action);
  if (action != paCalc) {
    if (action == paWipe) throw Exception("Not implemented 12");
    Done();
  }
}

void TCipher::CodeChunk(void* buffer, int size, TPAction action) {
  if (action == paDecode) {
    if (HasAction(action)) DecodeBuffer(buffer, buffer, size);
    TProtection::CodeChunk(buffer, size, action);
  } else {
    TProtection::CodeChunk(buffer, size, action);
    if (HasAction(action)) EncodeBuffer(buffer, buffer, size);
  }
}

// ---- registry ----

std::vector<TCipherListEntry>& GetCipherList() {
  static std::vector<TCipherListEntry> list = [] {
    std::vector<TCipherListEntry> initial;
    initial.push_back({"Rijndael=", TCipher_Rijndael::Class()});
    return initial;
  }();
  return list;
}

void AddCipherClass(TCipherClass cls, const std::string& name, const std::string& description) {
  if (cls == nullptr) return;
  std::string shown = Trim(name);
  if (shown.empty()) {
    shown = cls->ClassName;
    if (!shown.empty() && shown[0] == 'T') shown.erase(0, 1);
    const auto underscore = shown.find('_');
    if (underscore != std::string::npos) shown.erase(0, underscore + 1);
  }
  std::string text = shown + "=" + description;
  auto& list = GetCipherList();
  for (auto& entry : list) {
    if (entry.Class == cls) {
      entry.Text = std::move(text);
      return;
    }
  }
  list.push_back({std::move(text), cls});
}

}  // namespace nrd
