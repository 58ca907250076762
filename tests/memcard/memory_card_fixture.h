// SPDX-License-Identifier: BSD-3-Clause
// Memory cards in simulated readers, for the tests of the detection and of the emulated file
// and code commands: card builders and a fixture that powers the card through the CT-API.
#pragma once

#include <utility>
#include <vector>

#include "ctapi/ctapi.h"
#include "tests/ctapi/ctapi_fixture.h"

namespace memcardtest {

using ctapitest::Bytes;

inline cards::CardSpec TwoWireCard(Bytes memory) {
  cards::CardSpec card;
  card.kind = cards::CardKind::kTwoWire;
  card.memory = std::move(memory);
  return card;
}

// A 3-wire card of 1024 bytes; what `memory` leaves open reads FF.
inline cards::CardSpec ThreeWireCard(Bytes memory, bool pin_area_plain = false) {
  cards::CardSpec card;
  card.kind = cards::CardKind::kThreeWire;
  card.memory = std::move(memory);
  card.memory.resize(1024, 0xFF);
  card.pin_area_plain = pin_area_plain;
  return card;
}

inline cards::CardSpec I2cCard(Bytes memory, uint32_t size, uint8_t address_width = 1) {
  cards::CardSpec card;
  card.kind = cards::CardKind::kI2c;
  card.memory = std::move(memory);
  card.memory_size = size;
  card.address_width = address_width;
  return card;
}

class MemoryCardTest : public ctapitest::CtapiTest {
 protected:
  // Puts `card` into `reader`, opens terminal 1 on port `pn` and powers the card.
  void Power(const cards::CardSpec& card, const char* reader = "TREVANO Kelvane Alder 0",
             uint16_t pn = 20) {
    Open(reader, pn, card);
    ASSERT_EQ(ctapitest::CtData(1, 1, {0x20, 0x12, 0x01, 0x00, 0x00}).response,
              (Bytes{0x90, 0x00}));
  }
  // A command to the card of terminal 1: its whole answer.
  Bytes Card(const Bytes& command, uint16_t capacity = 1024) {
    const ctapitest::Exchange answer = ctapitest::CtData(1, 0, command, capacity);
    EXPECT_EQ(answer.code, OK);
    return answer.response;
  }
  static Bytes Sw(const Bytes& response) {
    return response.size() < 2 ? response : Bytes(response.end() - 2, response.end());
  }
  static Bytes Data(const Bytes& response) {
    return response.size() < 2 ? Bytes{} : Bytes(response.begin(), response.end() - 2);
  }
};

}  // namespace memcardtest
