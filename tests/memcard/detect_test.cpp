// SPDX-License-Identifier: BSD-3-Clause
// Memory-card detection at power-up, seen through REQUEST ICC on the simulator: the families,
// sizes and file layouts it finds, the cards it refuses, the I2C address-width write test, the
// 3-wire PIN-area probe, and the command entry that memory cards reach afterwards.
#include <string>
#include <vector>

#include "ctapi/ctapi.h"
#include "memcard/memcard.h"
#include "pcsc/pcsc.h"
#include "tests/ctapi/ctapi_fixture.h"
#include "tests/memcard/memory_card_fixture.h"

namespace {

using ctapitest::Bytes;
using ctapitest::Exchange;
using ctapitest::TransmittedApdus;
using memcardtest::I2cCard;
using memcardtest::ThreeWireCard;
using memcardtest::TwoWireCard;
constexpr uint32_t kNone = 0xFFFFFFFF;

class DetectTest : public ctapitest::CtapiTest {
 protected:
  // A command of terminal 1 from SAD 2, with room for 300 bytes.
  Exchange Send(uint8_t dad, const Bytes& command) {
    return ctapitest::CtData(1, dad, command, 300);
  }
  // REQUEST ICC, answering the card's answer-to-reset.
  Exchange Request() { return Send(1, {0x20, 0x12, 0x01, 0x01, 0x00}); }
  static bool IsWrite(const Bytes& apdu) { return apdu.size() > 1 && apdu[1] == 0xD0; }

  // A header and a directory object of `length` bytes at the address H4 names.
  static Bytes Layout(Bytes header, uint8_t length) {
    Bytes memory = header;
    const uint32_t directory = header[3] == 0x84 ? 4 : (header[3] & 0x7F);
    memory.resize(directory, 0x00);
    memory.push_back(0x61);
    memory.push_back(length);
    return memory;
  }
};

TEST_F(DetectTest, TwoWireCardWithAtrFile) {
  Open("TREVANO Kelvane Birch 0", 1, TwoWireCard(Layout({0xA2, 0x13, 0x10, 0x91}, 5)));
  Exchange answer = Request();
  EXPECT_EQ(answer.code, OK);
  EXPECT_EQ(answer.response, (Bytes{0xA2, 0x13, 0x10, 0x91, 0x90, 0x00}));
  const ctapi::TerminalSlot& slot = SlotAt(0);
  EXPECT_EQ(slot.memory_card, 1u);
  EXPECT_EQ(slot.memory_card_type, 0xA2u);
  EXPECT_EQ(slot.memory_size, 256u);
  EXPECT_EQ(Bytes(slot.memory_card_header, slot.memory_card_header + 4),
            (Bytes{0xA2, 0x13, 0x10, 0x91}));
  EXPECT_EQ(slot.header_first, 0u);
  EXPECT_EQ(slot.header_last, 3u);
  EXPECT_EQ(slot.atr_file_first, 4u);
  EXPECT_EQ(slot.atr_file_last, 16u);
  EXPECT_EQ(slot.dir_file_first, 17u);
  EXPECT_EQ(slot.dir_file_last, 17u + 1 + 5);
  EXPECT_EQ(slot.selected_first, kNone);
  EXPECT_EQ(slot.selected_last, kNone);
  EXPECT_EQ(slot.card_refused, 0u);
  // The historical bytes of a memory card are the last two header bytes.
  EXPECT_EQ(Send(1, {0x20, 0x12, 0x01, 0x02, 0x00}).response, (Bytes{0x10, 0x91, 0x90, 0x00}));
}

TEST_F(DetectTest, HeaderWithoutAtrFileAndSizes) {
  struct Case {
    uint8_t h2;
    uint32_t size;
  };
  const Case cases[] = {{0x00, 256},  {0x0B, 128},  {0x1F, 512}, {0x20, 1024}, {0x2A, 2048},
                        {0x33, 4096}, {0x38, 8192}, {0x40, 256}, {0xFF, 256}};
  for (const Case& c : cases) {
    sim::Reset();
    Open("TREVANO Kelvane Birch 0", 1, TwoWireCard(Layout({0xA2, c.h2, 0x10, 0x84}, 2)));
    ASSERT_EQ(Request().response.back(), 0x00);
    const ctapi::TerminalSlot& slot = SlotAt(0);
    EXPECT_EQ(slot.memory_size, c.size) << std::hex << int(c.h2);
    EXPECT_EQ(slot.atr_file_first, kNone);
    EXPECT_EQ(slot.atr_file_last, kNone);
    EXPECT_EQ(slot.dir_file_first, 4u);
    EXPECT_EQ(slot.dir_file_last, 7u);
    ASSERT_EQ(CT_close(1), OK);
  }
}

TEST_F(DetectTest, UnknownMemoryCardIsRefused) {
  Open("TREVANO Kelvane Birch 0", 1, TwoWireCard({0x55, 0x13, 0x10, 0x91}));
  EXPECT_EQ(Request().response, (Bytes{0x64, 0x00}));
  EXPECT_EQ(SlotAt(0).card_refused, 1u);
  EXPECT_EQ(SlotAt(0).memory_card, 0u);
  EXPECT_EQ(Send(0, {0x00, 0xB0, 0x00, 0x00, 0x01}).response, (Bytes{0x64, 0xA2}));
}

TEST_F(DetectTest, ProcessorCardIsLeftAlone) {
  cards::CardSpec card;
  card.atr = {0x3B, 0x95, 0x13, 0x81, 0x01, 0x80, 0x73, 0xFF, 0x01, 0x00, 0x0B};
  Open("TREVANO Kelvane Birch 0", 1, card);
  Exchange answer = Request();
  EXPECT_EQ(Bytes(answer.response.begin(), answer.response.end() - 2), card.atr);
  EXPECT_EQ(Bytes(answer.response.end() - 2, answer.response.end()), (Bytes{0x90, 0x01}));
  EXPECT_EQ(SlotAt(0).memory_card, 0u);
  EXPECT_EQ(SlotAt(0).header_first, kNone);
  EXPECT_TRUE(TransmittedApdus().empty());
}

TEST_F(DetectTest, FailedDirectoryReadLeavesOnlyTheWholeMemory) {
  // Count the card commands of a detection, then make its last one, the directory read, fail.
  Open("TREVANO Kelvane Birch 0", 1, TwoWireCard(Layout({0xA2, 0x13, 0x10, 0x91}, 5)));
  sim::ClearCalls();
  ASSERT_EQ(Request().response.back(), 0x00);
  const size_t commands = TransmittedApdus().size();
  ASSERT_GE(commands, 1u);
  EXPECT_EQ(TransmittedApdus().back(), (Bytes{0xFF, 0xB0, 0x00, 0x11, 0x02}));
  sim::FailCall(sim::Fn::kTransmit, static_cast<uint32_t>(commands), pcsc::kCommError);
  Exchange answer = Send(1, {0x20, 0x12, 0x01, 0x01, 0x00});
  EXPECT_EQ(answer.response, (Bytes{0xA2, 0x13, 0x10, 0x91, 0x90, 0x00}));
  const ctapi::TerminalSlot& slot = SlotAt(0);
  EXPECT_EQ(slot.memory_card, 1u);
  EXPECT_EQ(slot.header_first, kNone);
  EXPECT_EQ(slot.atr_file_first, kNone);
  EXPECT_EQ(slot.dir_file_first, kNone);
  EXPECT_EQ(slot.dir_file_last, kNone);
}

TEST_F(DetectTest, ThreeWirePinArea) {
  struct Case {
    const char* what;
    bool plain_card;
    Bytes at_3fe;  // memory at 0x3FE of a card without a code
    uint32_t pin_area_plain;
    bool writes;
  };
  const Case cases[] = {
      {"a card with a code: the area reads 00 00 and refuses the probe", false, {}, 0, true},
      {"plain memory holding 12 34", true, {0x12, 0x34}, 1, false},
      {"plain memory holding 00 00", true, {0x00, 0x00}, 1, true},
  };
  for (const Case& c : cases) {
    sim::Reset();
    Bytes memory = Layout({0x92, 0x23, 0x10, 0x91}, 3);
    memory.resize(1024, 0xFF);
    if (c.plain_card) {
      memory[0x3FE] = c.at_3fe[0];
      memory[0x3FF] = c.at_3fe[1];
    }
    Open("TREVANO Kelvane Birch 0", 1, ThreeWireCard(memory, c.plain_card));
    ASSERT_EQ(Request().response, (Bytes{0x92, 0x23, 0x10, 0x91, 0x90, 0x00})) << c.what;
    const ctapi::TerminalSlot& slot = SlotAt(0);
    EXPECT_EQ(slot.memory_card_type, 0x92u) << c.what;
    EXPECT_EQ(slot.memory_size, 1024u) << c.what;
    EXPECT_EQ(slot.pin_area_plain, c.pin_area_plain) << c.what;
    // A refused probe write says only that the area is not plain memory: the layout stands.
    EXPECT_EQ(slot.dir_file_first, 17u) << c.what;
    EXPECT_EQ(slot.dir_file_last, 17u + 1 + 3) << c.what;
    bool wrote = false;
    for (const Bytes& apdu : TransmittedApdus())
      wrote = wrote || IsWrite(apdu);
    EXPECT_EQ(wrote, c.writes) << c.what;
    ASSERT_EQ(CT_close(1), OK);
  }
}

TEST_F(DetectTest, I2cCardSizeProbe) {
  Open("TREVANO Kelvane Birch 0", 1, I2cCard(Layout({0x11, 0x22, 0x33, 0x84}, 4), 1024, 1));
  Exchange answer = Request();
  EXPECT_EQ(answer.response, (Bytes{0x11, 0x22, 0x33, 0x84, 0x90, 0x00}));
  const ctapi::TerminalSlot& slot = SlotAt(0);
  EXPECT_EQ(slot.memory_card_type, 0x82u);
  EXPECT_EQ(slot.memory_size, 1024u);
  EXPECT_EQ(slot.dir_file_first, 4u);
  EXPECT_EQ(slot.dir_file_last, 9u);
  EXPECT_EQ(slot.vendor_option, 0u);
  for (const Bytes& apdu : TransmittedApdus())
    EXPECT_FALSE(IsWrite(apdu));
}

TEST_F(DetectTest, I2cHeaderNamesTheSize) {
  // H1 = 0x82: the size comes from H2, whatever the probe would find.
  Open("TREVANO Kelvane Birch 0", 1, I2cCard(Layout({0x82, 0x20, 0x33, 0x84}, 1), 256, 1));
  ASSERT_EQ(Request().response.back(), 0x00);
  EXPECT_EQ(SlotAt(0).memory_size, 1024u);
}

TEST_F(DetectTest, I2cVendorValueReplacesTheSize) {
  Open("TREVANO Kelvane Birch 0", 1, I2cCard(Layout({0x11, 0x22, 0x33, 0x84}, 1), 512, 1));
  ASSERT_EQ(Send(1, {0x20, 0xFF, 0x00, 0x02, 0x02, 0x20, 0x00}).response, (Bytes{0x90, 0x00}));
  ASSERT_EQ(Request().response.back(), 0x00);
  EXPECT_EQ(SlotAt(0).memory_size, 0x2000u);
}

TEST_F(DetectTest, I2cWriteTestOnFscReaders) {
  // The first byte of this card cannot be changed: the test write does not show, so the card
  // is taken for one with two-byte addresses.
  cards::CardSpec card = I2cCard(Layout({0x11, 0x22, 0x33, 0x84}, 2), 4096, 2);
  card.first_byte_fixed = true;
  Open("FSC SCR USB 2A 0", 225, card);
  ASSERT_EQ(Request().response, (Bytes{0x11, 0x22, 0x33, 0x84, 0x90, 0x00}));
  const ctapi::TerminalSlot& slot = SlotAt(0);
  EXPECT_EQ(slot.vendor_option, 1u);
  EXPECT_EQ(slot.memory_size, 4096u);
  EXPECT_EQ(slot.dir_file_last, 7u);

  // A card that takes the test write uses one-byte addresses; its first byte is put back.
  sim::Reset();
  AddReaders({"Vuzoded Divudaz USB Smartcard Reader 0"});
  sim::InsertCard("Vuzoded Divudaz USB Smartcard Reader 0",
                  I2cCard(Layout({0x11, 0x22, 0x33, 0x84}, 2), 512, 1));
  ASSERT_EQ(CT_init(2, 210), OK);
  const Bytes request = {0x20, 0x12, 0x01, 0x01, 0x00};
  const Exchange first = ctapitest::CtData(2, 1, request, 64);
  ASSERT_EQ(first.code, OK);
  ASSERT_EQ(first.response, (Bytes{0x11, 0x22, 0x33, 0x84, 0x90, 0x00}));
  EXPECT_EQ(SlotAt(1).memory_size, 512u);  // found by the size probe
  size_t writes = 0;
  for (const Bytes& apdu : TransmittedApdus())
    writes += IsWrite(apdu) ? 1 : 0;
  EXPECT_EQ(writes, 2u);
  // Powered again, the card shows its first byte unchanged.
  const Exchange again = ctapitest::CtData(2, 1, request, 64);
  ASSERT_EQ(again.code, OK);
  ASSERT_FALSE(again.response.empty());
  EXPECT_EQ(again.response[0], 0x11);
}

TEST_F(DetectTest, CommandEntryOfMemoryCards) {
  Open("TREVANO Kelvane Birch 0", 1, TwoWireCard(Layout({0xA2, 0x13, 0x10, 0x91}, 5)));
  ASSERT_EQ(Request().response.back(), 0x00);
  struct Case {
    Bytes command;
    Bytes response;
  };
  const Case cases[] = {
      {{0x00}, {0x67, 0x00}},  // too short to name an instruction
      {{}, {0x67, 0x00}},
      {{0x80, 0xB0, 0x00, 0x00, 0x01}, {0x6E, 0x00}},  // class
      {{0x00, 0xC0, 0x00, 0x00, 0x01}, {0x6D, 0x00}},  // not an instruction of memory cards
      // The file commands are routed to their emulation.
      {{0x00, 0xB0, 0x00, 0x00, 0x01}, {0x6A, 0x82}},  // nothing selected yet
      {{0x00, 0xA4, 0x00, 0x00, 0x02, 0x3F, 0x00}, {0x90, 0x00}},
      {{0x00, 0xB0, 0x00, 0x00, 0x01}, {0xA2, 0x90, 0x00}},
  };
  for (const Case& c : cases) {
    Exchange answer = Send(0, c.command);
    EXPECT_EQ(answer.code, OK);
    EXPECT_EQ(answer.response, c.response) << c.command.size();
  }
  // A connection that cannot be refreshed answers 6F 00.
  sim::FailCall(sim::Fn::kReconnect, 1, pcsc::kSharingViolation);
  EXPECT_EQ(Send(0, {0x00, 0xB0, 0x00, 0x00, 0x01}).response, (Bytes{0x6F, 0x00}));
}

}  // namespace
