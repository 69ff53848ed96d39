// libFuzzer target for the GEDCOM reader (see GedcomFuzzBody.h).
#include "fuzz/gedcom/GedcomFuzzBody.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QStringList problems = GedcomFuzzOne(data, size);
  if (!problems.isEmpty()) {
    std::fprintf(stderr, "model check failed:\n%s\n", problems.join(QLatin1Char('\n')).toUtf8().constData());
    std::abort();
  }
  return 0;
}
