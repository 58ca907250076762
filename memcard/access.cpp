// SPDX-License-Identifier: BSD-3-Clause
// Memory access by card family.
#include "memcard/access.h"

#include "memcard/memcard.h"
#include "memlink/memlink.h"

namespace memcard {
namespace {

struct CounterByte {
  uint8_t value;
  uint8_t tries;
};
constexpr CounterByte kThreeWireTries[] = {{0x80, 1}, {0xC0, 2}, {0xE0, 3}, {0xF0, 4},
                                           {0xF8, 5}, {0xFC, 6}, {0xFE, 7}};

}  // namespace

uint8_t ThreeWireTriesLeft(uint8_t counter) {
  for (const CounterByte& entry : kThreeWireTries) {
    if (entry.value == counter) return entry.tries;
  }
  return 0;
}

uint32_t ReadMemory(const ctapi::TerminalSlot& slot, uint32_t address, uint32_t count,
                    uint8_t* buffer, uint32_t i2c_buffer_size) {
  switch (slot.memory_card_type) {
    case kTypeTwoWire:
      return Mem2WRead(slot.card_handle, count, buffer, address);
    case kTypeThreeWire:
      return Mem3WRead(slot.card_handle, count, buffer, address);
    default:
      return MemI2CRead(slot.card_handle, buffer, i2c_buffer_size, address, count);
  }
}

uint32_t WriteMemory(const ctapi::TerminalSlot& slot, uint32_t address, uint32_t count,
                     const uint8_t* data) {
  switch (slot.memory_card_type) {
    case kTypeTwoWire:
      return Mem2WWrite(slot.card_handle, count, data, address);
    case kTypeThreeWire:
      return Mem3WWrite(slot.card_handle, count, data, address, 0);
    default:
      return MemI2CWrite(slot.card_handle, data, count, address, count);
  }
}

}  // namespace memcard
