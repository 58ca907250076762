// SPDX-License-Identifier: BSD-3-Clause
// Runs the four units that include the standard CT-API header and ctkorvin's together.
#include <cstdio>

extern "C" int c_standard_first(void);
extern "C" int c_ours_first(void);
int cpp_standard_first();
int cpp_ours_first();

int main() {
  const int failed = c_standard_first() + c_ours_first() + cpp_standard_first() + cpp_ours_first();
  std::printf("%d passed, %d failed\n", 4 - failed, failed);
  return failed == 0 ? 0 : 1;
}
