// SPDX-License-Identifier: BSD-3-Clause
// An application linked against another CT-API library first and libctkorvin.so second: its
// CT_init reaches the other library, but ctkorvin's twins must answer with ctkorvin's own code.
// Port 0 and a terminal that is not open are refused (-1) before the terminal table is touched.
#include <stdio.h>

#include "ctapi/ctapi.h"

namespace {

int failures = 0;

void Expect(const char* call, int got, int wanted) {
  if (got == wanted) return;
  fprintf(stderr, "%s answered %d, wanted %d\n", call, got, wanted);
  ++failures;
}

}  // namespace

int main() {
  // The set-up itself: the standard names belong to the library linked first.
  Expect("CT_init(1, 0)", CT_init(1, 0), 42);

  Expect("CTKORVIKV_init(1, 0)", CTKORVIKV_init(1, 0), ERR_INVALID);
  Expect("CTKORVIKV_close(1)", CTKORVIKV_close(1), ERR_INVALID);
  uint8_t dad = CTAPI_AD_CT;
  uint8_t sad = CTAPI_AD_HOST;
  uint8_t command[] = {0x20, 0x13, 0x00, 0x46, 0x00};
  uint8_t response[16] = {};
  uint16_t lenr = sizeof response;
  Expect("CTKORVIKV_data(1, ...)",
         CTKORVIKV_data(1, &dad, &sad, sizeof command, command, &lenr, response), ERR_INVALID);
  return failures == 0 ? 0 : 1;
}
