// SPDX-License-Identifier: BSD-3-Clause
// Reading and writing a memory card's memory through memlink, by the card's family: 2-wire,
// 3-wire (write mode 0), or I2C for every other type.
#pragma once

#include <cstdint>

#include "ctapi/slots.h"

namespace memcard {

// memlink statuses: 0 success, else a wrong or blocked code or a PC/SC-style error.
uint32_t ReadMemory(const ctapi::TerminalSlot& slot, uint32_t address, uint32_t count,
                    uint8_t* buffer, uint32_t i2c_buffer_size);
uint32_t WriteMemory(const ctapi::TerminalSlot& slot, uint32_t address, uint32_t count,
                     const uint8_t* data);

// The tries left by a 3-wire card's error-counter byte (at 0x3FD): 0x80 one, 0xC0 two, up to
// 0xFE seven; any other value none.
uint8_t ThreeWireTriesLeft(uint8_t counter);
constexpr uint32_t kThreeWireCounterPair = 0x3FC;  // read 2 bytes here; the counter is the second

}  // namespace memcard
