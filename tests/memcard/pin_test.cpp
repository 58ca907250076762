// SPDX-License-Identifier: BSD-3-Clause
// PIN entry for memory cards on the PIN pad: the checks of the command to perform, the PIN typed
// on the simulated PIN pad and presented as the reader's storage-card command, and the answers
// with the address of who answered.
#include <vector>

#include "ctapi/ctapi.h"
#include "pcsc/pcsc.h"
#include "tests/ctapi/ctapi_fixture.h"
#include "tests/memcard/memory_card_fixture.h"

namespace {

using ctapitest::Bytes;
using ctapitest::CtData;
using ctapitest::Exchange;

constexpr char kPinPad[] = "TREVANO Kelvane Maple 0";

// PERFORM VERIFICATION with a 0x52 object: control byte, insertion position, the card command.
Bytes Verify(uint8_t control, Bytes template_command) {
  Bytes object = {0x52, static_cast<uint8_t>(2 + template_command.size()), control, 0x06};
  object.reserve(object.size() + template_command.size());
  object.insert(object.end(), template_command.begin(), template_command.end());
  Bytes command = {0x20, 0x18, 0x01, 0x00, static_cast<uint8_t>(object.size())};
  command.reserve(command.size() + object.size());
  command.insert(command.end(), object.begin(), object.end());
  return command;
}

const Bytes kTwoWireTemplate = {0x00, 0x20, 0x00, 0x00, 0x03, 0xFF, 0xFF, 0xFF};
// MODIFY VERIFICATION DATA of a 2-wire code: old code at 6, new code at 9, 6 BCD digits each.
const Bytes kTwoWireModify = {0x20, 0x19, 0x01, 0x00, 0x10, 0x52, 0x0E, 0x60, 0x06, 0x09, 0x00,
                              0x24, 0x00, 0x00, 0x06, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

class MemoryPinTest : public ctapitest::CtapiTest {
 protected:
  void PowerOnPinPad(const cards::CardSpec& card) {
    sim::ReaderSpec reader;
    reader.name = kPinPad;
    reader.pin_pad = true;
    sim::AddReader(reader);
    sim::InsertCard(kPinPad, card);
    ASSERT_EQ(CT_init(1, 60), OK);
    ASSERT_EQ(CtData(1, 1, {0x20, 0x12, 0x01, 0x00, 0x00}).response, (Bytes{0x90, 0x00}));
    sim::ClearCalls();
  }
  static cards::CardSpec TwoWire() {
    cards::CardSpec card = memcardtest::TwoWireCard({0xA2, 0x13, 0x10, 0x84, 0x61, 0x00});
    card.pin = {0x12, 0x34, 0x56};
    return card;
  }
};

TEST_F(MemoryPinTest, TwoWireCodeOnThePinPad) {
  PowerOnPinPad(TwoWire());
  sim::QueuePinEntries(kPinPad, {sim::PinDigits("123456")});
  Exchange right = CtData(1, 1, Verify(0x60, kTwoWireTemplate));
  EXPECT_EQ(right.code, OK);
  EXPECT_EQ(right.response, (Bytes{0x90, 0x00}));
  EXPECT_EQ(right.sad, 0);
  ASSERT_FALSE(sim::PinPadCommands().empty());
  EXPECT_EQ(sim::PinPadCommands().back().apdu,
            (Bytes{0xFF, 0x20, 0x00, 0x00, 0x03, 0x12, 0x34, 0x56}));

  sim::QueuePinEntries(kPinPad, {sim::PinDigits("000000")});
  Exchange wrong = CtData(1, 1, Verify(0x60, kTwoWireTemplate));
  EXPECT_EQ(wrong.response, (Bytes{0x63, 0xC2}));
  EXPECT_EQ(wrong.sad, 0);
  sim::QueuePinEntries(kPinPad, {sim::PinCancel()});
  Exchange cancelled = CtData(1, 1, Verify(0x60, kTwoWireTemplate));
  EXPECT_EQ(cancelled.response, (Bytes{0x64, 0x01}));
  EXPECT_EQ(cancelled.sad, 1);
}

TEST_F(MemoryPinTest, TwoWireCodeChanged) {
  PowerOnPinPad(TwoWire());
  sim::QueuePinEntries(
      kPinPad, {sim::PinDigits("123456"), sim::PinDigits("654321"), sim::PinDigits("654320")});
  Exchange differ = CtData(1, 1, kTwoWireModify);
  EXPECT_EQ(differ.response, (Bytes{0x64, 0x02}));
  EXPECT_EQ(differ.sad, 1);
  sim::QueuePinEntries(
      kPinPad, {sim::PinDigits("123456"), sim::PinDigits("654321"), sim::PinDigits("654321")});
  EXPECT_EQ(CtData(1, 1, kTwoWireModify).response, (Bytes{0x90, 0x00}));
  sim::QueuePinEntries(kPinPad, {sim::PinDigits("654321")});
  EXPECT_EQ(CtData(1, 1, Verify(0x60, kTwoWireTemplate)).response, (Bytes{0x90, 0x00}));
}

TEST_F(MemoryPinTest, CommandObjectChecks) {
  PowerOnPinPad(TwoWire());
  struct Case {
    Bytes command;
    Bytes response;
  };
  const Case cases[] = {
      {Verify(0x60, {0x00, 0x21, 0x00, 0x00, 0x03, 0xFF, 0xFF, 0xFF}), {0x69, 0x00}},  // INS
      {Verify(0x60, {0x80, 0x20, 0x00, 0x00, 0x03, 0xFF, 0xFF, 0xFF}), {0x6E, 0x00}},  // CLA
      {Verify(0x62, kTwoWireTemplate), {0x69, 0x00}},                                  // coding
      {Verify(0x60, {0x00, 0x20, 0x01, 0x00, 0x03, 0xFF, 0xFF, 0xFF}), {0x69, 0x00}},  // P1
      {Verify(0x60, {0x00, 0x20, 0x00, 0x00, 0x04, 0xFF, 0xFF, 0xFF}), {0x69, 0x00}},  // Lc
      {Verify(0x70, kTwoWireTemplate), {0x69, 0x00}},                    // 7 BCD digits
      {Verify(0x41, kTwoWireTemplate), {0x69, 0x00}},                    // 4 ASCII digits
      {{0x20, 0x18, 0x01, 0x00, 0x03, 0x50, 0x01, 0x41}, {0x69, 0x00}},  // no 0x52 object
  };
  for (const Case& c : cases) {
    Exchange out = CtData(1, 1, c.command);
    EXPECT_EQ(out.response, c.response) << c.command.size() << " " << int(c.command[7]);
    EXPECT_EQ(out.sad, 1);
  }
  EXPECT_TRUE(sim::PinPadCommands().empty());
  // Three ASCII digits are accepted.
  sim::QueuePinEntries(kPinPad, {sim::PinDigits("123")});
  EXPECT_NE(CtData(1, 1, Verify(0x31, kTwoWireTemplate)).response, (Bytes{0x69, 0x00}));
}

TEST_F(MemoryPinTest, ThreeWirePlaceholders) {
  cards::CardSpec card = memcardtest::ThreeWireCard({0x92, 0x23, 0x10, 0x84, 0x61, 0x00});
  card.pin = {0x12, 0x34};
  card.error_counter = 0xFC;
  PowerOnPinPad(card);
  EXPECT_EQ(CtData(1, 1, Verify(0x40, {0x00, 0x20, 0x00, 0x00, 0x03, 0xFF, 0xFF, 0x00})).response,
            (Bytes{0x69, 0x00}));
  sim::QueuePinEntries(kPinPad, {sim::PinDigits("1111")});
  EXPECT_EQ(CtData(1, 1, Verify(0x40, {0x00, 0x20, 0x00, 0x00, 0x03, 0xFF, 0xFF, 0xFF})).response,
            (Bytes{0x63, 0xC5}));
  sim::QueuePinEntries(kPinPad, {sim::PinDigits("1234")});
  EXPECT_EQ(CtData(1, 1, Verify(0x40, {0x00, 0x20, 0x00, 0x00, 0x02, 0xFF, 0xFF})).response,
            (Bytes{0x90, 0x00}));
}

TEST_F(MemoryPinTest, I2cCardsHaveNoCode) {
  PowerOnPinPad(memcardtest::I2cCard({0x82, 0x10, 0x10, 0x84, 0x61, 0x00}, 256));
  Exchange out = CtData(1, 1, Verify(0x60, kTwoWireTemplate));
  EXPECT_EQ(out.response, (Bytes{0x69, 0x00}));
  EXPECT_TRUE(sim::PinPadCommands().empty());
  EXPECT_EQ(sim::CountCalls(sim::Fn::kControl), 0u);
}

}  // namespace
