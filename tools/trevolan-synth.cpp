// trevolan-synth N utf8|cp1251 FILE: writes a synthetic GEDCOM tree of N persons (see SyntheticGedcom.h)
// for load benchmarks and peer comparisons.
#include "tools/SyntheticGedcom.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 4 || (std::strcmp(argv[2], "utf8") != 0 && std::strcmp(argv[2], "cp1251") != 0)) {
    std::fprintf(stderr, "usage: trevolan-synth N utf8|cp1251 FILE\n");
    return 2;
  }
  const long long n = std::atoll(argv[1]);
  if (n < 1 || n > 10000000) {
    std::fprintf(stderr, "trevolan-synth: N must be 1..10000000\n");
    return 2;
  }
  const std::string text = synth::MakeTree(n, std::strcmp(argv[2], "utf8") == 0);
  std::FILE* f = std::fopen(argv[3], "wb");
  if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0) {
    std::fprintf(stderr, "trevolan-synth: cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}
