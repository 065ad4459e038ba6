#pragma once
// The benchmarks' generator of test data: the same numbers on every machine and run, so
// that every run measures the same input.

class Random {
 public:
  // A number in 0..bound-1.
  unsigned next(unsigned bound) {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<unsigned>(state_ >> 33) % bound;
  }

 private:
  unsigned long long state_ = 20080229;
};
