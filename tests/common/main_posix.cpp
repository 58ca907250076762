// SPDX-License-Identifier: BSD-3-Clause
// The main of the POSIX test programs: GoogleTest's own, or, with `--kv-child <name> [argument]`,
// the child routine <name> that a test registered (child_process.h). A test's second process is
// this program started again (self_posix.cpp), a fresh process as on Windows.
#include <gtest/gtest.h>
#include <string.h>

#include "tests/common/child_process.h"

int main(int argc, char** argv) {
  if (argc >= 3 && strcmp(argv[1], "--kv-child") == 0)
    return testutil::RunChildRoutine(argv[2], argc >= 4 ? argv[3] : "");
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
