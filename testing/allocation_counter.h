#pragma once
// Counts heap allocations, for tests that hold a hot path to allocating nothing. Linking
// the test support replaces the global operator new and delete (plain, array and nothrow
// forms) with counting ones over malloc and free.

namespace testing_support {

// Allocations through operator new made by the calling thread since it started.
unsigned long allocationsOnThisThread();

}  // namespace testing_support
