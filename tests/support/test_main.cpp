#include <gtest/gtest.h>

int main(int argc, char** argv) {
  // Every test binary has worker threads from static initialisation on, so a
  // death test must re-execute the binary rather than fork it.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
