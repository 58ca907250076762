// SPDX-License-Identifier: BSD-3-Clause
// Linked into every test program, so that no test meets the machine's own state: the process's
// named shared objects (the terminal table, the mapping lock, named semaphores) get a prefix of
// their own, so that tests never meet the machine-wide table nor another test run; and the
// registry folder and the port map point where nothing is, not into /etc. Child processes,
// forked or started, inherit all of it and so share the objects of the test that started them.
// At its end the process that chose the prefix removes what the system would keep under it.
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "tests/common/test_util.h"

namespace {

uint32_t g_chooser = 0;

void RemoveObjects() {
  if (testutil::ProcessId() == g_chooser) testutil::RemoveSharedObjects(testutil::ObjectPrefix());
}

void SetIfUnset(const char* name, const char* value) {
  if (!getenv(name)) testutil::SetEnv(name, value);
}

const bool g_prefix_chosen = [] {
  if (getenv(testutil::kObjectPrefixVariable)) return false;  // started by a test: its objects
  char prefix[40];
  snprintf(prefix, sizeof prefix, "kvtest.%lu.", static_cast<unsigned long>(testutil::ProcessId()));
  testutil::SetEnv(testutil::kObjectPrefixVariable, prefix);
  g_chooser = testutil::ProcessId();
  atexit(RemoveObjects);
  SetIfUnset("CTKORVIN_REGISTRY", "/nonexistent/ctkorvin-test-registry");
  SetIfUnset("CTKORVIN_PORTS", "/nonexistent/ctkorvin-test-ports.conf");
  return true;
}();

}  // namespace
