/* SPDX-License-Identifier: BSD-3-Clause */
/* memlink: the memory-card library. It drives synchronous memory cards (2-wire, 3-wire and I2C)
 * through the reader's storage-card commands, sent with SCardTransmit on the card handle that
 * the caller connected. Every function takes that handle first and returns a 32-bit status:
 * 0 success, 0x81100001 wrong PIN, 0x81100002 PIN blocked, 0x80100016 any other refusal of the
 * card, or the result of a failed PC/SC call. */
#ifndef CTKORVIN_MEMLINK_H
#define CTKORVIN_MEMLINK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define MEMLINK_CALL __stdcall
#else
#define MEMLINK_CALL
#endif

#define MEMLINK_OK 0x00000000u
#define MEMLINK_WRONG_PIN 0x81100001u
#define MEMLINK_PIN_BLOCKED 0x81100002u
#define MEMLINK_NOT_TRANSACTED 0x80100016u

/* The geometry record of MemI2CSetType: kind (always 8), address width in bytes (1 or 2), memory
 * size in bytes (little-endian, unaligned). */
#define MEMLINK_I2C_TYPE_SIZE 6

/* 2-wire cards. */
uint32_t MEMLINK_CALL Mem2WRead(uint32_t card, uint32_t count, uint8_t* buffer, uint32_t address);
uint32_t MEMLINK_CALL Mem2WWrite(uint32_t card, uint32_t count, const uint8_t* data,
                                 uint32_t address);
uint32_t MEMLINK_CALL Mem2WReadProtect(uint32_t card, uint32_t count, uint8_t* buffer);
uint32_t MEMLINK_CALL Mem2WWriteProtect(uint32_t card, uint8_t address, uint8_t value);
uint32_t MEMLINK_CALL Mem2WVerify(uint32_t card, uint8_t length, const uint8_t* pin);
uint32_t MEMLINK_CALL Mem2WChange(uint32_t card, uint32_t old_length, const uint8_t* old_pin,
                                  uint32_t new_length, const uint8_t* new_pin);
uint32_t MEMLINK_CALL Mem2WReadErrorCounter(uint32_t card, uint8_t* counter);

/* 3-wire cards. */
uint32_t MEMLINK_CALL Mem3WRead(uint32_t card, uint32_t count, uint8_t* buffer, uint32_t address);
uint32_t MEMLINK_CALL Mem3WWrite(uint32_t card, uint32_t count, const uint8_t* data,
                                 uint32_t address, uint32_t mode);
uint32_t MEMLINK_CALL Mem3WVerify(uint32_t card, uint8_t length, const uint8_t* pin);
uint32_t MEMLINK_CALL Mem3WChange(uint32_t card, uint32_t old_length, const uint8_t* old_pin,
                                  uint32_t new_length, const uint8_t* new_pin);

/* I2C cards. */
uint32_t MEMLINK_CALL MemI2CSetType(uint32_t card, const uint8_t* type, uint32_t reserved);
uint32_t MEMLINK_CALL MemI2CRead(uint32_t card, uint8_t* buffer, uint32_t buffer_size,
                                 uint32_t address, uint32_t count);
uint32_t MEMLINK_CALL MemI2CWrite(uint32_t card, const uint8_t* data, uint32_t data_size,
                                  uint32_t address, uint32_t count);

#ifdef __cplusplus
}
#endif

#endif /* CTKORVIN_MEMLINK_H */
