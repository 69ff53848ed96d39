// libFuzzer entry for the markup escaping and the XML writer.
#include <cstdlib>

#include "fuzz/sheet6/markup_fuzz_body.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!SheetMarkupFuzzOne(data, size)) std::abort();
  return 0;
}
