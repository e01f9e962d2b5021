#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "support/matrix_modes.h"

int main(int argc, char** argv) {
  // Every test binary has worker threads from static initialisation on, so a
  // death test must re-execute the binary rather than fork it.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  testing::InitGoogleTest(&argc, argv);
  // --qrn_mode=NAME: run in that mode of the test matrix.
  const char* const mode_flag = "--qrn_mode=";
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], mode_flag, std::strlen(mode_flag)) == 0 &&
        !qrn_test::enter_matrix_mode(argv[i] + std::strlen(mode_flag))) {
      std::fprintf(stderr, "no test mode %s\n", argv[i] + std::strlen(mode_flag));
      return 2;
    }
  }
  return RUN_ALL_TESTS();
}
