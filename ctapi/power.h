// SPDX-License-Identifier: BSD-3-Clause
// The card power commands of the terminal: RESET CT (of the terminal and of ICC 1), REQUEST
// ICC, DEACTIVATE ICC and EJECT ICC.
#pragma once

#include <cstdint>

#include "ctapi/command.h"

namespace ctapi {

constexpr uint32_t kAtrBufferSize = 33;

int8_t ResetCt(int slot, uint8_t* sad, uint8_t* dad, uint16_t* lenr, uint8_t* response,
               const CommandApdu& command);  // INS 0x10 / 0x11, P1 0 or 1
int8_t RequestIcc(int slot, uint8_t* sad, uint8_t* dad, uint16_t* lenr, uint8_t* response,
                  const CommandApdu& command);
int8_t DeactivateIcc(int slot, uint8_t* sad, uint8_t* dad, uint16_t* lenr, uint8_t* response,
                     const CommandApdu& command);
int8_t EjectIcc(int slot, uint8_t* sad, uint8_t* dad, uint16_t* lenr, uint8_t* response,
                const CommandApdu& command);

// The historical bytes of a processor card's answer-to-reset: where they start and how many.
// Only bytes inside the answer-to-reset are ever named.
void HistoricalBytes(const uint8_t* atr, uint32_t length, uint32_t* first, uint32_t* count);

}  // namespace ctapi
