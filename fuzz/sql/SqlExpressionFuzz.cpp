// libFuzzer target for the SQL lexer and expression grammar (see SqlExpressionFuzzBody.h).
#include "fuzz/sql/SqlExpressionFuzzBody.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  SqlExpressionFuzzOne(data, size);
  return 0;
}
