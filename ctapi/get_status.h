// SPDX-License-Identifier: BSD-3-Clause
// GET STATUS: the terminal's manufacturer data, the card status and the functional units.
#pragma once

#include <cstdint>

#include "ctapi/command.h"

namespace ctapi {

// P1 0x00: the terminal; P1 0x01: ICC 1.
int8_t GetStatusOfTerminal(int slot, uint8_t* sad, uint8_t* dad, uint16_t* lenr, uint8_t* response,
                           const CommandApdu& command);
int8_t GetStatusOfIcc(int slot, uint8_t* sad, uint8_t* dad, uint16_t* lenr, uint8_t* response,
                      const CommandApdu& command);

}  // namespace ctapi
