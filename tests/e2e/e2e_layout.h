// SPDX-License-Identifier: BSD-3-Clause
// What the end-to-end stack holds, as tests/e2e/CMakeLists.txt sets it up: one vpcd reader with
// two slots, and in slot 00 00 a kv-vicc processor card. The values arrive as KV_E2E_*
// definitions from the same CMake variables that make the kv-vicc command line.
#pragma once

#include <cstdint>
#include <string>

#include "sim/cards/card.h"

namespace e2e {

constexpr char kReader[] = KV_E2E_READER;
constexpr int kCardSlot = 0;
constexpr int kEmptySlot = 1;

// pcsc-lite's name of a vpcd slot: the friendly name, the reader number, the slot number.
inline std::string SlotName(int slot) {
  return std::string(kReader) + " 00 0" + std::to_string(slot);
}

// Hex digits to bytes; the layout's values are well-formed by construction.
inline cards::Bytes Hex(const char* text) {
  cards::Bytes bytes;
  auto nibble = [](char c) {
    return static_cast<uint8_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
  };
  for (const char* p = text; p[0] != '\0' && p[1] != '\0'; p += 2) {
    bytes.push_back(static_cast<uint8_t>(nibble(p[0]) << 4 | nibble(p[1])));
  }
  return bytes;
}

// The card kv-vicc plays in the card slot, as the card model sees it.
inline cards::CardSpec CardInSlot() {
  cards::CardSpec spec;
  spec.atr = Hex(KV_E2E_CARD_ATR);
  spec.script[Hex(KV_E2E_CARD_SCRIPT_COMMAND)] = Hex(KV_E2E_CARD_SCRIPT_RESPONSE);
  const cards::Bytes fid = Hex(KV_E2E_CARD_FILE_ID);
  spec.files[static_cast<uint16_t>(fid.at(0) << 8 | fid.at(1))] = Hex(KV_E2E_CARD_FILE_DATA);
  return spec;
}

}  // namespace e2e
