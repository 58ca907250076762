/* The standard CT-API header and ctkorvin's in one C unit, standard first. */
#include <ctapi.h>
#include "ctapi/ctapi.h"

_Static_assert(OK == 0 && ERR_INVALID == -1 && ERR_CT == -8 && ERR_TRANS == -10 &&
                   ERR_MEMORY == -11 && ERR_HOST == -127 && ERR_HTSI == -128,
               "the standard return codes");
_Static_assert(HOST == 2 && CT == 1 && ICC1 == 0, "the standard addresses");

/* 0 when all three calls answer as the library does for a port 0 and a terminal not open. */
int c_standard_first(void) {
  uint8_t dad = CT, sad = HOST, command[] = {0x20, 0x13, 0x00, 0x46, 0x00}, response[8];
  uint16_t lenr = sizeof response;
  return !(CT_init(1, 0) == ERR_INVALID &&
           CT_data(1, &dad, &sad, sizeof command, command, &lenr, response) == ERR_INVALID &&
           CT_close(1) == ERR_INVALID);
}
