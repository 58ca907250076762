// Linked into every Windows test program: the process's named kernel objects (the terminal
// table, the mapping lock, named semaphores) get a prefix of their own, so that tests never meet
// the table of the machine nor another test run. Processes the test starts inherit the prefix
// and so share its objects. The system removes the objects with their last handle, so nothing is
// left to clean up.
#include <process.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

const bool g_prefix_chosen = [] {
  if (getenv("CTKORVIN_OBJECT_PREFIX")) return false;  // started by a test: its objects
  char prefix[40];
  snprintf(prefix, sizeof prefix, "kvtest.%d.", _getpid());
  _putenv_s("CTKORVIN_OBJECT_PREFIX", prefix);
  return true;
}();

}  // namespace
