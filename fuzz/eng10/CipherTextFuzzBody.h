// Fuzz body for the text formats and the cipher's string decoding: arbitrary bytes as Base64 text
// and as plain bytes. Shared by the libFuzzer target and the corpus replay test.
// Aborts (through __builtin_trap) when a round trip breaks; an EStringFormat for bad text is fine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/foundation/NRDCipher.h"

namespace nrd_fuzz {

inline int CipherTextFuzzOne(const std::uint8_t* data, std::size_t size) {
  if (size > 1 << 16) return 0;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const int len = static_cast<int>(size);
  // Bytes -> Base64 -> bytes is the identity.
  const std::string text = nrd::BytesToStringFormat(input, 4196);
  if (nrd::StringFormatToBytes(text, 4196) != input) __builtin_trap();
  // Any text either decodes within its bound or is refused as invalid.
  try {
    const std::string bytes = nrd::TStringFormat_MIME64::Class()->ToStr(input.data(), len);
    if (bytes.size() > (size + 3) / 4 * 3) __builtin_trap();
    (void)nrd::StringFormatToBytes(input, 4196);
  } catch (const nrd::EStringFormat&) {
  }
  // Deciphering text that is not what the cipher wrote never reads or writes out of bounds.
  try {
    auto cipher = nrd::TCipher::Create<nrd::TCipher_Twofish>("fuzz");
    (void)cipher->CodeString(input, nrd::paDecode, 4196);
  } catch (const nrd::EStringFormat&) {
  }
  return 0;
}

}  // namespace nrd_fuzz
