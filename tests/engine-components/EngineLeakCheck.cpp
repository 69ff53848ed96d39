// Every test of this executable ends with no engine memory block and no data set left: a
// listener compares the memory manager's live blocks and the live data-set count before and
// after each test and fails the test that left something behind.
#include <gtest/gtest.h>

#include "engine/components/NRDDB.h"
#include "engine/foundation/NRDMemory.h"

namespace {

class ComponentsLeakListener : public ::testing::EmptyTestEventListener {
 public:
  void OnTestStart(const ::testing::TestInfo&) override {
    blocks_ = nrd::GlobalMemoryManager().LiveBlockCount();
    bytes_ = nrd::GlobalMemoryManager().TotalMemAllocated();
    dataSets_ = nrd::LiveDataSetCount();
  }
  void OnTestEnd(const ::testing::TestInfo& info) override {
    const std::size_t blocks = nrd::GlobalMemoryManager().LiveBlockCount();
    const std::int64_t bytes = nrd::GlobalMemoryManager().TotalMemAllocated();
    if (blocks != blocks_ || bytes != bytes_)
      ADD_FAILURE_AT(info.file(), info.line())
          << "engine memory left allocated by " << info.test_suite_name() << "." << info.name() << ": "
          << (static_cast<long long>(blocks) - static_cast<long long>(blocks_)) << " block(s), "
          << (bytes - bytes_) << " byte(s)";
    const std::int64_t dataSets = nrd::LiveDataSetCount();
    if (dataSets != dataSets_)
      ADD_FAILURE_AT(info.file(), info.line()) << "data sets left by " << info.test_suite_name() << "."
                                               << info.name() << ": " << (dataSets - dataSets_);
  }

 private:
  std::size_t blocks_ = 0;
  std::int64_t bytes_ = 0;
  std::int64_t dataSets_ = 0;
};

const bool kRegistered = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new ComponentsLeakListener);
  return true;
}();

}  // namespace
