// Test main: every test process gets a private system root, so no test touches the
// machine's state or another test's.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <memory>

#include "testing/temp_dir.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "C.UTF-8");
  // A test's registry lives in a throwaway root: writes need not survive a power failure,
  // so they are not flushed to disk (they stay atomic). A test of flushing sets it again.
  setenv("CADRO_REGISTRY_SYNC", "0", 0);
  ::testing::InitGoogleTest(&argc, argv);
  auto root = std::make_unique<testing_support::ScopedSystemRoot>();
  int rc = RUN_ALL_TESTS();
  root.reset();
  return rc;
}
