// libFuzzer entry over the decompressors and the compressed BLOB chain loader.
#include "fuzz/compression/CompressionFuzzBody.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return compression_fuzz::CompressionFuzzOne(data, size);
}
