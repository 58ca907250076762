// Linked into every test program, so that no test meets the machine's own state: the process's
// named shared objects (the terminal table, the mapping lock, named semaphores) get a prefix of
// their own, so that tests never meet the machine-wide table nor another test run; and the
// registry folder and the port map point where nothing is, not into /etc. Child processes,
// forked or started, inherit all of it and so share the objects of the test that started them.
// At its end the process that chose the prefix removes what is left under it.
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "tests/common/test_util.h"

namespace {

pid_t g_chooser = 0;

void RemoveObjects() {
  if (getpid() != g_chooser) return;
  const std::string prefix = testutil::ObjectPrefix();
  if (DIR* dir = opendir("/dev/shm")) {
    while (dirent* entry = readdir(dir)) {
      if (strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0) {
        shm_unlink((std::string("/") + entry->d_name).c_str());
      }
    }
    closedir(dir);
  }
}

const bool g_prefix_chosen = [] {
  if (getenv(testutil::kObjectPrefixVariable)) return false;  // started by a test: its objects
  char prefix[40];
  snprintf(prefix, sizeof prefix, "kvtest.%d.", static_cast<int>(getpid()));
  setenv(testutil::kObjectPrefixVariable, prefix, 1);
  g_chooser = getpid();
  atexit(RemoveObjects);
  setenv("CTKORVIN_REGISTRY", "/nonexistent/ctkorvin-test-registry", 0);
  setenv("CTKORVIN_PORTS", "/nonexistent/ctkorvin-test-ports.conf", 0);
  return true;
}();

}  // namespace
