// SPDX-License-Identifier: BSD-3-Clause
// The commands a memory card understands as if it were a processor card with files: SELECT
// FILE, READ BINARY, UPDATE BINARY, VERIFY, CHANGE REFERENCE DATA, and this library's READ and
// WRITE PROTECTION MEMORY for 2-wire cards. Each answers data and SW1 SW2, or SW1 SW2 alone,
// and returns 0.
#pragma once

#include <cstdint>

namespace memcard {

int8_t SelectFile(int slot, uint16_t* lenc, const uint8_t* command, uint16_t* lenr,
                  uint8_t* response);
int8_t ReadBinary(int slot, uint16_t* lenc, const uint8_t* command, uint16_t* lenr,
                  uint8_t* response);
int8_t UpdateBinary(int slot, uint16_t* lenc, const uint8_t* command, uint16_t* lenr,
                    uint8_t* response);
int8_t Verify(int slot, uint16_t* lenc, const uint8_t* command, uint16_t* lenr, uint8_t* response);
int8_t ChangeReferenceData(int slot, uint16_t* lenc, const uint8_t* command, uint16_t* lenr,
                           uint8_t* response);
int8_t ReadProtectionMemory(int slot, uint16_t* lenc, const uint8_t* command, uint16_t* lenr,
                            uint8_t* response);
int8_t WriteProtectionMemory(int slot, uint16_t* lenc, const uint8_t* command, uint16_t* lenr,
                             uint8_t* response);

}  // namespace memcard
