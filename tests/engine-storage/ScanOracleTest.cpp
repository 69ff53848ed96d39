// Navigation through restricted views against a brute-force filter of the cursor's order, over
// the stand-in table and index (records at scattered slots, index columns in mixed directions).
#include <gtest/gtest.h>

#include "tests/engine-storage/ScanOracle.h"

using namespace nrd;
using namespace scantest;

namespace {

std::unique_ptr<StandInWorld> MakeWorld(std::mt19937& rng, bool withBitmap) {
  const bool d1 = rng() % 2, d2 = rng() % 2, d3 = rng() % 2, d4 = rng() % 2;
  auto w = std::make_unique<StandInWorld>(
      std::vector<std::string>{"A", "B", "C"},
      std::vector<IndexSpec>{{"IAB", {{"A", d1}, {"B", d2}}}, {"IC", {{"C", d3}}}, {"IB", {{"B", d4}}}});
  const int n = static_cast<int>(rng() % 45);
  for (int i = 0; i < n; ++i) {
    const auto slot = static_cast<std::int32_t>(rng() % 80);
    w->Put(slot, {static_cast<std::int32_t>(rng() % 5), static_cast<std::int32_t>(rng() % 5),
                  rng() % 8 == 0 ? kNull : static_cast<std::int32_t>(rng() % 7)});
  }
  if (withBitmap) w->UseBitmap();
  return w;
}

}  // namespace

TEST(ScanOracle, StandInViewsMatchBruteForce) {
  std::mt19937 rng(1234);
  OracleStats stats;
  for (int world = 0; world < 40; ++world) {
    auto w = MakeWorld(rng, world % 3 != 0);
    for (int trial = 0; trial < 12; ++trial) {
      RunOracleTrial(*w, rng, stats, "world " + std::to_string(world) + " trial " + std::to_string(trial));
      if (HasFatalFailure()) return;
    }
  }
  EXPECT_GT(stats.nonEmptyViews, 150);
  EXPECT_GT(stats.steps, 3000);
}
