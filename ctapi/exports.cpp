// SPDX-License-Identifier: BSD-3-Clause
// The exported entry points. The reader maker's twins run the very same code, so a terminal
// opened under one name can be used and closed under the other. Both names call the functions
// below, never each other: in an application that also links another CT-API library, a call to
// CT_init from in here could otherwise reach that library's CT_init.
#include "ctapi/ctapi.h"
#include "ctapi/dispatcher.h"
#include "ctapi/slots.h"
#include "ctapi/terminal.h"

namespace {

int8_t Init(uint16_t ctn, uint16_t pn) {
  const int8_t admitted = ctapi::AdmitTerminal(ctn, pn);
  return admitted != OK ? admitted : ctapi::OpenTerminal(ctn, pn);
}

int8_t Data(uint16_t ctn, uint8_t* dad, uint8_t* sad, uint16_t lenc, const uint8_t* command,
            uint16_t* lenr, uint8_t* response) {
  return ctapi::DispatchCtData(ctn, dad, sad, lenc, command, lenr, response);
}

int8_t Close(uint16_t ctn) {
  return ctapi::CloseTerminal(ctn);
}

}  // namespace

extern "C" {

int8_t CTAPI_CALL CT_init(uint16_t ctn, uint16_t pn) {
  return Init(ctn, pn);
}

int8_t CTAPI_CALL CT_data(uint16_t ctn, uint8_t* dad, uint8_t* sad, uint16_t lenc, uint8_t* command,
                          uint16_t* lenr, uint8_t* response) {
  return Data(ctn, dad, sad, lenc, command, lenr, response);
}

int8_t CTAPI_CALL CT_close(uint16_t ctn) {
  return Close(ctn);
}

int8_t CTAPI_CALL CTKORVIKV_init(uint16_t ctn, uint16_t pn) {
  return Init(ctn, pn);
}

int8_t CTAPI_CALL CTKORVIKV_data(uint16_t ctn, uint8_t* dad, uint8_t* sad, uint16_t lenc,
                                 uint8_t* command, uint16_t* lenr, uint8_t* response) {
  return Data(ctn, dad, sad, lenc, command, lenr, response);
}

int8_t CTAPI_CALL CTKORVIKV_close(uint16_t ctn) {
  return Close(ctn);
}

}  // extern "C"
