/* SPDX-License-Identifier: BSD-3-Clause */
/* A CT-API application as users write one against the installed library: it includes the public
 * header from its installed place and calls all three functions (port 0 opens nothing). */
#include <ctkorvin/ctapi.h>
#include <stdio.h>

int main(void) {
  uint8_t dad = CT, sad = HOST, command[] = {0x20, 0x13, 0x00, 0x46, 0x00}, response[8];
  uint16_t lenr = sizeof response;
  const int ok = CT_init(1, 0) == ERR_INVALID &&
                 CT_data(1, &dad, &sad, sizeof command, command, &lenr, response) == ERR_INVALID &&
                 CT_close(1) == ERR_INVALID;
  printf("%s\n", ok ? "client: the installed library answers" : "client: unexpected answers");
  return ok ? 0 : 1;
}
