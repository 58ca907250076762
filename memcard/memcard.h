// SPDX-License-Identifier: BSD-3-Clause
// Synchronous memory cards: the detection that runs whenever a card is powered, and the entry
// through which every command to a memory card reaches the emulated file commands.
#pragma once

#include <cstdint>

namespace memcard {

constexpr uint32_t kTypeI2c = 0x82;
constexpr uint32_t kTypeThreeWire = 0x92;
constexpr uint32_t kTypeTwoWire = 0xA2;
constexpr uint32_t kAtrBufferSize = 33;

// Decides whether the card just powered in `slot` is a memory card, of which family, how large
// and where its files lie. For a memory card the answer-to-reset in `atr` becomes the 4 header
// bytes and *atr_length 4. Sets card_refused when the card cannot be used.
void DetectMemoryCard(int slot, uint8_t* atr, uint32_t* atr_length);

// Every command to the card while memory_card is 1; always returns 0 with a response ending in
// SW1 SW2.
int8_t MemoryCardCommand(int slot, uint16_t* lenc, const uint8_t* command, uint16_t* lenr,
                         uint8_t* response);

// PERFORM VERIFICATION and MODIFY VERIFICATION DATA on a memory card: the PIN is typed on the
// PIN pad and presented by pinlink. Always 0, with SW1 SW2 alone; *sad is ICC 1 when the card
// answered (90 00, 69 83, 63 Cx), the terminal otherwise.
int8_t MemoryPinVerify(int slot, uint8_t* sad, uint8_t* dad, uint16_t* lenc, const uint8_t* command,
                       uint16_t* lenr, uint8_t* response);
int8_t MemoryPinModify(int slot, uint8_t* sad, uint8_t* dad, uint16_t* lenc, const uint8_t* command,
                       uint16_t* lenr, uint8_t* response);

}  // namespace memcard
