// The exported entry points. The reader maker's twins run the very same code, so a terminal
// opened under one name can be used and closed under the other.
#include "ctapi/ctapi.h"
#include "ctapi/dispatcher.h"
#include "ctapi/slots.h"
#include "ctapi/terminal.h"

extern "C" {

int8_t CTAPI_CALL CT_init(uint16_t ctn, uint16_t pn) {
  const int8_t admitted = ctapi::AdmitTerminal(ctn, pn);
  return admitted != OK ? admitted : ctapi::OpenTerminal(ctn, pn);
}

int8_t CTAPI_CALL CT_data(uint16_t ctn, uint8_t* dad, uint8_t* sad, uint16_t lenc,
                          const uint8_t* command, uint16_t* lenr, uint8_t* response) {
  return ctapi::DispatchCtData(ctn, dad, sad, lenc, command, lenr, response);
}

int8_t CTAPI_CALL CT_close(uint16_t ctn) {
  return ctapi::CloseTerminal(ctn);
}

int8_t CTAPI_CALL CTKORVIKV_init(uint16_t ctn, uint16_t pn) {
  return CT_init(ctn, pn);
}

int8_t CTAPI_CALL CTKORVIKV_data(uint16_t ctn, uint8_t* dad, uint8_t* sad, uint16_t lenc,
                                 const uint8_t* command, uint16_t* lenr, uint8_t* response) {
  return CT_data(ctn, dad, sad, lenc, command, lenr, response);
}

int8_t CTAPI_CALL CTKORVIKV_close(uint16_t ctn) {
  return CT_close(ctn);
}

}  // extern "C"
