// SPDX-License-Identifier: BSD-3-Clause
// inisync: records the card readers that answer through the CT-API in vezidide.ini. It prints
// nothing; the exit code tells how the run went.
#include <string>

#include "inisync/flow.h"

int main(int argc, char** argv) {
  std::string command_line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) command_line += ' ';
    command_line += argv[i];
  }
  return inisync::RunInisync(command_line.c_str());
}
