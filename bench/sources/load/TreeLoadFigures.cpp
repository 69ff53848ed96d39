// trevolan-load-figures FILE [REPEAT]: loads a family tree through the door the window uses and prints the
// wall time of the fastest of REPEAT loads (default 1), the persons and families read, and the peak
// resident memory of the process after the first load (what a user sees for one opened file) and after
// all of them. One process per measurement, so the peak belongs to this file alone; the figures of
// several sizes side by side show how a load grows.
#include "sources/FamilyTreeFile.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <sys/resource.h>

namespace {

double PeakMegabytes() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: trevolan-load-figures FILE [REPEAT]\n");
    return 2;
  }
  const int repeat = argc == 3 ? std::max(1, std::atoi(argv[2])) : 1;
  const double before = PeakMegabytes();
  double best = 1e300;
  std::int64_t persons = 0, families = 0;
  double first = 0;
  for (int r = 0; r < repeat; ++r) {
    Model m;
    const auto t0 = std::chrono::steady_clock::now();
    if (!LoadFamilyTree(m, QString::fromLocal8Bit(argv[1]))) {
      std::fprintf(stderr, "trevolan-load-figures: no reader for %s\n", argv[1]);
      return 1;
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (s < best) best = s;
    persons = m.PersonCount();
    families = m.FamilyCount();
    if (r == 0) first = PeakMegabytes();
  }
  std::printf("%s persons=%lld families=%lld time_s=%.3f peak_rss_mb=%.0f peak_rss_all_mb=%.0f start_rss_mb=%.0f\n",
              argv[1], static_cast<long long>(persons), static_cast<long long>(families), best, first,
              PeakMegabytes(), before);
  return 0;
}
