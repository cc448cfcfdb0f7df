// The main of every engine test executable. Tests find the build's programs and the
// source tree through BV_BIN_DIR and BV_SOURCE_DIR, and run in UTC unless a test sets
// its own zone; the defaults are the folders this executable was built for, so a test
// binary run by hand behaves as under CTest.
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
  ::setenv("BV_BIN_DIR", BV_TEST_BIN_DIR, 0);
  ::setenv("BV_SOURCE_DIR", BV_TEST_SOURCE_DIR, 0);
  ::setenv("TZ", "UTC", 0);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
