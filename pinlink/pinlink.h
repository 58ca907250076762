/* SPDX-License-Identifier: BSD-3-Clause */
/* pinlink: secure PIN entry on the PIN pad of a PC/SC reader. The reader collects the PIN and
 * builds the card command itself (PC/SC part 10: FEATURE_VERIFY_PIN_DIRECT and
 * FEATURE_MODIFY_PIN_DIRECT), so the PIN never passes through the application or this library.
 * Every function takes a card handle the caller connected and returns a 32-bit status. */
#ifndef CTKORVIN_PINLINK_H
#define CTKORVIN_PINLINK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define PINLINK_CALL __stdcall
#else
#define PINLINK_CALL
#endif

/* Statuses besides 0 and the PC/SC results. */
#define PINLINK_WRONG_PIN 0x81100001u
#define PINLINK_PIN_BLOCKED 0x81100002u
#define PINLINK_INVALID_VALUE 0x80100011u
#define PINLINK_CANCELLED 0x8010006Eu
#define PINLINK_NEW_PINS_DIFFER 0x81F00012u

#define PINLINK_ANSWER_SIZE 512

/* Processor cards. `data` is the data field of the CT-BCS command PERFORM VERIFICATION or
 * MODIFY VERIFICATION DATA (its data objects: 0x52 the command to perform, 0x50 a display
 * text, 0x80 a time-out in seconds). On success `answer` holds *answer_length bytes ending in
 * a status word: the card's (90 00, 63 Cx, ...) or the terminal's (64 00 time-out, 64 01
 * cancelled, 64 02 the new PINs differ, 69 00 or 6D 00 the command cannot be done). */
uint32_t PINLINK_CALL SCardSPEVerifyPin(uint32_t card, const uint8_t* data, uint32_t length,
                                        uint8_t* answer, uint32_t* answer_length);
uint32_t PINLINK_CALL SCardSPEChangePin(uint32_t card, const uint8_t* data, uint32_t length,
                                        uint8_t* answer, uint32_t* answer_length);

/* Synchronous memory cards of the family `family` (0xA2 2-wire, 0x92 3-wire): the PIN typed on
 * the PIN pad goes to the card as the reader's PRESENT CODE (FF 20 00 00 Lc code) or CHANGE
 * CODE with old and new code (FF D2 00 00 Lc OLD NEW). Statuses: 0, PINLINK_WRONG_PIN,
 * PINLINK_PIN_BLOCKED, PINLINK_CANCELLED, PINLINK_NEW_PINS_DIFFER, PINLINK_INVALID_VALUE, or a
 * PC/SC result. */
uint32_t PINLINK_CALL MemPinVerify(uint32_t card, const uint8_t* data, uint32_t length,
                                   uint8_t* answer, uint32_t* answer_length, uint8_t family);
uint32_t PINLINK_CALL MemPinChange(uint32_t card, const uint8_t* data, uint32_t length,
                                   uint8_t* answer, uint32_t* answer_length, uint8_t family);

#ifdef __cplusplus
}
#endif

#endif /* CTKORVIN_PINLINK_H */
