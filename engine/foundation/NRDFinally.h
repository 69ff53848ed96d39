// Runs a step on leaving a scope, also when the scope is left by an exception. The step never
// throws out of the destructor: a failure while cleaning up must not replace the error that is
// already on its way (or end the program during unwinding).
#pragma once

#include <utility>

namespace nrd {

template <typename F> class Finally {
 public:
  explicit Finally(F f) : f_(std::move(f)) {}
  ~Finally() {
    try {
      f_();
    } catch (...) {
    }
  }
  Finally(const Finally&) = delete;
  Finally& operator=(const Finally&) = delete;

 private:
  F f_;
};

}  // namespace nrd
