// SPDX-License-Identifier: BSD-3-Clause
// The display and keypad of readers that have them: OUTPUT shows a text, INPUT collects keyed
// characters. Both work with or without a card in the reader.
#pragma once

#include <cstdint>

#include "ctapi/command.h"

namespace ctapi {

int8_t Input(int slot, uint8_t* sad, uint8_t* dad, uint16_t* lenr, uint8_t* response,
             const CommandApdu& command);  // INS 0x16, P1 0x50
int8_t Output(int slot, uint8_t* sad, uint8_t* dad, uint16_t* lenr, uint8_t* response,
              const CommandApdu& command);  // INS 0x17, P1 0x40

}  // namespace ctapi
