// Every test of this executable ends with no engine memory block left allocated: a listener
// compares the memory manager's live blocks before and after each test and fails the test that
// leaked.
#include <gtest/gtest.h>

#include "engine/foundation/NRDMemory.h"

namespace {

class EngineLeakListener : public ::testing::EmptyTestEventListener {
 public:
  void OnTestStart(const ::testing::TestInfo&) override {
    blocks_ = nrd::GlobalMemoryManager().LiveBlockCount();
    bytes_ = nrd::GlobalMemoryManager().TotalMemAllocated();
  }
  void OnTestEnd(const ::testing::TestInfo& info) override {
    std::size_t blocks = nrd::GlobalMemoryManager().LiveBlockCount();
    std::int64_t bytes = nrd::GlobalMemoryManager().TotalMemAllocated();
    if (blocks != blocks_ || bytes != bytes_) {
      ADD_FAILURE_AT(info.file(), info.line())
          << "engine memory left allocated by " << info.test_suite_name() << "." << info.name() << ": "
          << (static_cast<long long>(blocks) - static_cast<long long>(blocks_)) << " block(s), "
          << (bytes - bytes_) << " byte(s)";
    }
  }

 private:
  std::size_t blocks_ = 0;
  std::int64_t bytes_ = 0;
};

// Registered before main (gtest_main) runs the tests.
const bool kRegistered = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new EngineLeakListener);
  return true;
}();

}  // namespace
