// SPDX-License-Identifier: BSD-3-Clause
// The child routines of a test program, registered at static initialisation and run by the
// program's main when it is started as a test's second process (child_process.h).
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "tests/common/child_process.h"

namespace testutil {

namespace {

struct Routine {
  const char* name;
  ChildRoutine routine;
};

std::vector<Routine>& Routines() {
  static std::vector<Routine> routines;
  return routines;
}

}  // namespace

bool RegisterChildRoutine(const char* name, ChildRoutine routine) {
  Routines().push_back(Routine{name, routine});
  return true;
}

int RunChildRoutine(const char* name, const std::string& argument) {
  for (const Routine& entry : Routines()) {
    if (strcmp(entry.name, name) == 0) return entry.routine(argument);
  }
  fprintf(stderr, "no child routine %s\n", name);
  return 255;
}

}  // namespace testutil
