/* SPDX-License-Identifier: BSD-3-Clause */
/* Another CT-API library: every call answers 42, a value ctkorvin never returns. */
#include "ctapi/ctapi.h"

#define FAKE_ANSWER 42

int8_t CTAPI_CALL CT_init(uint16_t ctn, uint16_t pn) {
  (void)ctn;
  (void)pn;
  return FAKE_ANSWER;
}

int8_t CTAPI_CALL CT_data(uint16_t ctn, uint8_t* dad, uint8_t* sad, uint16_t lenc,
                          uint8_t* command, uint16_t* lenr, uint8_t* response) {
  (void)ctn;
  (void)dad;
  (void)sad;
  (void)lenc;
  (void)command;
  (void)lenr;
  (void)response;
  return FAKE_ANSWER;
}

int8_t CTAPI_CALL CT_close(uint16_t ctn) {
  (void)ctn;
  return FAKE_ANSWER;
}
