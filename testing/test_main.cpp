// Test main: every test process gets a private system root, so no test touches the
// machine's state or another test's.
#include <gtest/gtest.h>

#include <clocale>
#include <memory>

#include "testing/temp_dir.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "C.UTF-8");
  ::testing::InitGoogleTest(&argc, argv);
  auto root = std::make_unique<testing_support::ScopedSystemRoot>();
  int rc = RUN_ALL_TESTS();
  root.reset();
  return rc;
}
