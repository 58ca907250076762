// The standard CT-API header and ctkorvin's in one C++ unit, ours first, beside
// application names that a macro OK would break.
#include <ctapi.h>
#include "ctapi/ctapi.h"

namespace {

enum class Status { OK, Failed };

static_assert(OK == 0 && ERR_INVALID == -1 && ERR_CT == -8 && ERR_TRANS == -10 &&
                  ERR_MEMORY == -11 && ERR_HOST == -127 && ERR_HTSI == -128,
              "the standard return codes");

}  // namespace

int cpp_ours_first() {
  uint8_t dad = CT, sad = HOST, command[] = {0x20, 0x13, 0x00, 0x46, 0x00}, response[8];
  uint16_t lenr = sizeof response;
  const Status status =
      CT_init(1, 0) == ERR_INVALID &&
              CT_data(1, &dad, &sad, sizeof command, command, &lenr, response) == ERR_INVALID &&
              CT_close(1) == ERR_INVALID
          ? Status::OK
          : Status::Failed;
  return status == Status::OK ? 0 : 1;
}
