// The unit tests of the Windows platform layer run under Wine, beside the
// test WNASPI32.DLL. The layer reads ASPI_DISKS on its first call, so the
// disks are made and announced here, before any test runs.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "test_disks.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (!make_test_disks()) {
    std::fprintf(stderr, "cannot create the test disk images\n");
    return 2;
  }
  return RUN_ALL_TESTS();
}
