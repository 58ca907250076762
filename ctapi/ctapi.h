/* SPDX-License-Identifier: BSD-3-Clause */
/* The CT-API of ctkorvin, for applications: open a card terminal, send it commands, close it.
 * Plain C, so that C and C++ programs can include it alike.
 *
 * It declares what the standard CT-API header <ctapi.h> declares, in the same form (the same
 * prototypes; the return codes, addresses and terminal names as enumerators), and uses the
 * standard header's include guard for that part: a unit may include both, in either order, and
 * gets each declaration once. Everything of ctkorvin's own carries a prefix. */
#ifndef CTKORVIN_CTAPI_H
#define CTKORVIN_CTAPI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The calling convention of the exports: callee-pops on 32-bit Windows, the default elsewhere.
 * A Windows client imports the calls from CTKORVIN.dll, so that their addresses are the DLL's;
 * the library itself and programs that link it statically define CTKORVIN_NO_DLLIMPORT. */
#if defined(_WIN32) && !defined(CTKORVIN_NO_DLLIMPORT)
#define CTAPI_CALL __declspec(dllimport) __stdcall
#elif defined(_WIN32)
#define CTAPI_CALL __stdcall
#else
#define CTAPI_CALL
#endif

#ifndef ctapi_h_
#define ctapi_h_ 1

int8_t CTAPI_CALL CT_init(uint16_t ctn, uint16_t pn);
/* Sends `command` (lenc bytes) to the terminal (*dad = CT) or to its card (*dad = ICC1) from
 * *sad (HOST or REMOTE_HOST). *lenr is the capacity of `response` on entry and the length of the
 * answer (ending in SW1 SW2) on return; the addresses come back exchanged. The library never
 * writes to `command`. */
int8_t CTAPI_CALL CT_data(uint16_t ctn, uint8_t* dad, uint8_t* sad, uint16_t lenc, uint8_t* command,
                          uint16_t* lenr, uint8_t* response);
int8_t CTAPI_CALL CT_close(uint16_t ctn);

/* Return codes. */
enum {
  OK = 0,
  ERR_INVALID = -1,
  ERR_CT = -8,
  ERR_TRANS = -10,
  ERR_MEMORY = -11,
  ERR_HOST = -127,
  ERR_HTSI = -128
};

/* Addresses in CT_data. */
enum { HOST = 0x02, REMOTE_HOST = 0x05 };
enum {
  ICC1 = 0x00,
  CT = 0x01,
  ICC2 = 0x02,
  ICC3 = 0x03,
  ICC4 = 0x04,
  ICC5 = 0x05,
  ICC6 = 0x06,
  ICC7 = 0x07,
  ICC8 = 0x08,
  ICC9 = 0x09,
  ICC10 = 0x0a,
  ICC11 = 0x0b,
  ICC12 = 0x0c,
  ICC13 = 0x0d,
  ICC14 = 0x0e
};

#endif /* ctapi_h_ */

/* ctkorvin's code for a PC/SC failure without another mapping. */
#define CTKORVIN_ERR_PCSC (-2)

/* Addresses in CT_data, by ctkorvin's names. */
#define CTAPI_AD_ICC1 0
#define CTAPI_AD_CT 1
#define CTAPI_AD_HOST 2
#define CTAPI_AD_REMOTE_HOST 5

/* Ports may carry this flag: REQUEST ICC then leaves an already powered card powered. */
#define CTAPI_PORT_KEEP_POWER 0x200

/* The same calls under the reader maker's names; they share every terminal with the
 * standard names. */
int8_t CTAPI_CALL CTKORVIKV_init(uint16_t ctn, uint16_t pn);
int8_t CTAPI_CALL CTKORVIKV_data(uint16_t ctn, uint8_t* dad, uint8_t* sad, uint16_t lenc,
                                 uint8_t* command, uint16_t* lenr, uint8_t* response);
int8_t CTAPI_CALL CTKORVIKV_close(uint16_t ctn);

#ifdef __cplusplus
}
#endif

#endif /* CTKORVIN_CTAPI_H */
