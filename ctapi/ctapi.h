/* The CT-API of ctkorvin, for applications: open a card terminal, send it commands, close it.
 * Plain C, so that C and C++ programs can include it alike. */
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

/* Return codes. */
#define OK 0
#define ERR_INVALID -1
#define ERR_CT -8
#define ERR_TRANS -10
#define ERR_MEMORY -11
#define ERR_HOST -127
#define ERR_HTSI -128
/* This library's code for a PC/SC failure without another mapping. */
#define ERR_PCSC -2

/* Addresses in CT_data. */
#define CTAPI_AD_ICC1 0
#define CTAPI_AD_CT 1
#define CTAPI_AD_HOST 2
#define CTAPI_AD_REMOTE_HOST 5

/* Ports may carry this flag: REQUEST ICC then leaves an already powered card powered. */
#define CTAPI_PORT_KEEP_POWER 0x200

int8_t CTAPI_CALL CT_init(uint16_t ctn, uint16_t pn);
/* Sends `command` (lenc bytes) to the terminal (*dad = CTAPI_AD_CT) or to its card
 * (*dad = CTAPI_AD_ICC1) from *sad (CTAPI_AD_HOST or CTAPI_AD_REMOTE_HOST). *lenr is the
 * capacity of `response` on entry and the length of the answer (ending in SW1 SW2) on return;
 * the addresses come back exchanged. */
int8_t CTAPI_CALL CT_data(uint16_t ctn, uint8_t* dad, uint8_t* sad, uint16_t lenc,
                          const uint8_t* command, uint16_t* lenr, uint8_t* response);
int8_t CTAPI_CALL CT_close(uint16_t ctn);

/* The same calls under the reader maker's names; they share every terminal with the
 * standard names. */
int8_t CTAPI_CALL CTKORVIKV_init(uint16_t ctn, uint16_t pn);
int8_t CTAPI_CALL CTKORVIKV_data(uint16_t ctn, uint8_t* dad, uint8_t* sad, uint16_t lenc,
                                 const uint8_t* command, uint16_t* lenr, uint8_t* response);
int8_t CTAPI_CALL CTKORVIKV_close(uint16_t ctn);

#ifdef __cplusplus
}
#endif

#endif /* CTKORVIN_CTAPI_H */
