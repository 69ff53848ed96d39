// libFuzzer target for the engine's value layer (see ValueStreamFuzzBody.h).
#include "fuzz/eng8/ValueStreamFuzzBody.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!ValueStreamFuzzOne(data, size)) {
    std::fprintf(stderr, "engine memory left allocated\n");
    std::abort();
  }
  return 0;
}
