// SPDX-License-Identifier: BSD-3-Clause
// The main of the Windows test programs. On Linux CTest starts every test case in a process of
// its own, and the tests rely on that: the process's terminal table, its ctn table and its
// attached mappings start empty. Under Wine one start per program keeps the suite quick, so the
// program starts itself again for each case: without arguments it lists its cases and runs each
// as `<program> --gtest_filter=<case>`, one after the other, their output passing through, and
// ends with a summary in GoogleTest's words (`--kv-skip=Suite.Name:...` leaves cases out).
// With other arguments it is GoogleTest's own main; with `--kv-child <name> [argument]` it runs
// the child routine <name> that a test registered (child_process.h), as a test's second process.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "tests/common/child_process.h"

namespace {

// `skip`: the cases left out, as "Suite.Name:Suite.Name".
int RunEachInItsOwnProcess(const std::string& skip) {
  std::vector<std::string> cases;
  unsigned left_out = 0;
  const testing::UnitTest& unit = *testing::UnitTest::GetInstance();
  for (int s = 0; s < unit.total_test_suite_count(); ++s) {
    const testing::TestSuite& suite = *unit.GetTestSuite(s);
    for (int t = 0; t < suite.total_test_count(); ++t) {
      const testing::TestInfo& info = *suite.GetTestInfo(t);
      const std::string name = std::string(suite.name()) + "." + info.name();
      const bool skipped = (":" + skip + ":").find(":" + name + ":") != std::string::npos;
      left_out += skipped;
      if (name.find("DISABLED_") == std::string::npos && !skipped) cases.push_back(name);
    }
  }
  std::vector<std::string> failed;
  for (const std::string& name : cases) {
    const int code = testutil::RunSelf("--gtest_filter=" + name);
    if (code != 0) failed.push_back(name + " (exit code " + std::to_string(code) + ")");
  }
  printf("[==========] %u tests ran, each in a process of its own.\n",
         static_cast<unsigned>(cases.size()));
  printf("[  PASSED  ] %u tests.\n", static_cast<unsigned>(cases.size() - failed.size()));
  if (left_out) printf("[ SKIPPED  ] %u tests left out on Windows.\n", left_out);
  for (const std::string& name : failed)
    printf("[  FAILED  ] %s\n", name.c_str());
  fflush(stdout);
  return failed.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && strcmp(argv[1], "--kv-child") == 0)
    return testutil::RunChildRoutine(argv[2], argc >= 4 ? argv[3] : "");
  // Without arguments but `--kv-skip=<cases>`: every case in a process of its own.
  const char kSkip[] = "--kv-skip=";
  const bool skip = argc == 2 && strncmp(argv[1], kSkip, sizeof kSkip - 1) == 0;
  if (argc == 1 || skip) {
    testing::InitGoogleTest(&argc, argv);
    return RunEachInItsOwnProcess(skip ? argv[1] + sizeof kSkip - 1 : "");
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
