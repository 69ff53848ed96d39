// libFuzzer entry for the text formats and cipher string decoding.
#include "fuzz/eng10/CipherTextFuzzBody.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return nrd_fuzz::CipherTextFuzzOne(data, size);
}
