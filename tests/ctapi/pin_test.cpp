// SPDX-License-Identifier: BSD-3-Clause
// PERFORM VERIFICATION and MODIFY VERIFICATION DATA on processor cards: the checks before the
// PIN pad, the PIN typed on the simulated PIN pad and inserted into the card command, the answer
// as pinlink gives it with the address of who answered, and the connection given back.
#include "ctapi/pin.h"

#include <vector>

#include "ctapi/ctapi.h"
#include "pcsc/pcsc.h"
#include "tests/ctapi/ctapi_fixture.h"

namespace {

using ctapitest::Bytes;
using ctapitest::CtData;
using ctapitest::Exchange;

constexpr char kPinPad[] = "TREVANO Kelvane Maple 0";  // a PIN pad, no display

// PERFORM VERIFICATION of a 4-digit BCD PIN into VERIFY 00 20 00 01 with 4 bytes.
const Bytes kVerify = {0x20, 0x18, 0x01, 0x00, 0x0D, 0x52, 0x0B, 0x40, 0x06,
                       0x00, 0x20, 0x00, 0x01, 0x04, 0xFF, 0xFF, 0xFF, 0xFF};
// MODIFY VERIFICATION DATA: old PIN at 6, new PIN at 10, 4 bytes each.
const Bytes kModify = {0x20, 0x19, 0x01, 0x00, 0x12, 0x52, 0x10, 0x40, 0x06, 0x0A, 0x00, 0x24,
                       0x00, 0x01, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

class PinTest : public ctapitest::CtapiTest {
 protected:
  void OpenPinPad(bool with_card = true) {
    sim::ReaderSpec reader;
    reader.name = kPinPad;
    reader.pin_pad = true;
    sim::AddReader(reader);
    if (with_card) {
      cards::CardSpec card;
      card.pin = {0x12, 0x34, 0xFF, 0xFF};
      card.script[Bytes{0x00, 0x20, 0x00, 0x01, 0x04, 0x99, 0x99, 0xFF, 0xFF}] =
          Bytes(20, 0xAB);  // an answer with data, ending in AB AB
      sim::InsertCard(kPinPad, card);
    }
    ASSERT_EQ(CT_init(1, 60), OK);
  }
  void Request() { ASSERT_EQ(CtData(1, 1, {0x20, 0x12, 0x01, 0x00, 0x00}).code, OK); }
};

TEST_F(PinTest, RefusedBeforeThePinPad) {
  OpenPinPad(false);
  EXPECT_EQ(CtData(1, 1, kVerify).response, (Bytes{0x64, 0xA1}));
  sim::InsertCard(kPinPad, cards::CardSpec{});
  EXPECT_EQ(CtData(1, 1, kVerify).response, (Bytes{0x64, 0xA2}));
  Request();
  Bytes with_le = kVerify;
  with_le.push_back(0x00);
  EXPECT_EQ(CtData(1, 1, with_le).response, (Bytes{0x67, 0x00}));
  // Without a data field there is nothing to perform; nothing past the command is read.
  EXPECT_EQ(CtData(1, 1, {0x20, 0x18, 0x01, 0x00}).response, (Bytes{0x67, 0x00}));
  EXPECT_EQ(CtData(1, 1, {0x20, 0x18, 0x01, 0x00, 0x00}).response, (Bytes{0x67, 0x00}));
  EXPECT_TRUE(sim::PinPadCommands().empty());
}

TEST_F(PinTest, VerifiedOnThePinPad) {
  OpenPinPad();
  Request();
  sim::ClearCalls();
  sim::QueuePinEntries(kPinPad, {sim::PinDigits("1234")});
  Exchange right = CtData(1, 1, kVerify);
  EXPECT_EQ(right.code, OK);
  EXPECT_EQ(right.response, (Bytes{0x90, 0x00}));
  EXPECT_EQ(right.sad, 0);  // the card answered
  EXPECT_EQ(right.dad, 2);
  ASSERT_EQ(sim::PinPadCommands().size(), 1u);
  EXPECT_EQ(sim::PinPadCommands()[0].apdu,
            (Bytes{0x00, 0x20, 0x00, 0x01, 0x04, 0x12, 0x34, 0xFF, 0xFF}));
  // The kept card connection was used and stays.
  EXPECT_EQ(sim::CountCalls(sim::Fn::kConnect), 0u);
  EXPECT_NE(SlotAt(0).card_handle, ctapi::kNoCardHandle);

  sim::QueuePinEntries(kPinPad, {sim::PinDigits("4321")});
  Exchange wrong = CtData(1, 1, kVerify);
  EXPECT_EQ(wrong.response, (Bytes{0x63, 0xC2}));
  EXPECT_EQ(wrong.sad, 0);
  sim::QueuePinEntries(kPinPad, {sim::PinCancel()});
  Exchange cancelled = CtData(1, 1, kVerify);
  EXPECT_EQ(cancelled.response, (Bytes{0x64, 0x01}));
  EXPECT_EQ(cancelled.sad, 1);  // the terminal answered
}

TEST_F(PinTest, PinChangedOnThePinPad) {
  OpenPinPad();
  Request();
  sim::ClearCalls();
  sim::QueuePinEntries(kPinPad,
                       {sim::PinDigits("1234"), sim::PinDigits("5678"), sim::PinDigits("5678")});
  Exchange changed = CtData(1, 1, kModify);
  EXPECT_EQ(changed.response, (Bytes{0x90, 0x00}));
  EXPECT_EQ(changed.sad, 0);
  ASSERT_EQ(sim::PinPadCommands().size(), 1u);
  EXPECT_EQ(sim::PinPadCommands()[0].apdu,
            (Bytes{0x00, 0x24, 0x00, 0x01, 0x08, 0x12, 0x34, 0xFF, 0xFF, 0x56, 0x78, 0xFF, 0xFF}));
  sim::QueuePinEntries(kPinPad, {sim::PinDigits("5678")});
  EXPECT_EQ(CtData(1, 1, kVerify).response, (Bytes{0x90, 0x00}));
}

TEST_F(PinTest, AnswerLongerThanTheBuffer) {
  OpenPinPad();
  Request();
  sim::QueuePinEntries(kPinPad, {sim::PinDigits("9999")});
  Exchange small = CtData(1, 1, kVerify, 10);
  EXPECT_EQ(small.code, ERR_MEMORY);
  EXPECT_EQ(small.response, (Bytes{0x64, 0x00}));
  EXPECT_EQ(small.sad, 1);
  sim::QueuePinEntries(kPinPad, {sim::PinDigits("9999")});
  Exchange whole = CtData(1, 1, kVerify, 20);
  EXPECT_EQ(whole.response, Bytes(20, 0xAB));
  EXPECT_EQ(whole.sad, 0);
}

TEST_F(PinTest, AfterEjectTheCardMustBeRequested) {
  OpenPinPad();
  Request();
  ASSERT_EQ(CtData(1, 1, {0x20, 0x15, 0x01, 0x00}).response, (Bytes{0x90, 0x00}));
  sim::ClearCalls();
  EXPECT_EQ(CtData(1, 1, kVerify).response, (Bytes{0x64, 0x00}));
  EXPECT_EQ(SlotAt(0).icc_active, 0u);
  EXPECT_TRUE(sim::PinPadCommands().empty());
}

TEST_F(PinTest, RefusedReconnectGoesDirectAndGivesItBackAfterAnyAnswer) {
  OpenPinPad();
  Request();
  sim::HoldExclusively(kPinPad, true);
  sim::ClearCalls();
  // An answer too long for the buffer: ERR_MEMORY, and the own connection is still given back.
  sim::QueuePinEntries(kPinPad, {sim::PinDigits("9999")});
  const uint64_t before = sim::NowMs();
  Exchange small = CtData(1, 1, kVerify, 10);
  EXPECT_EQ(small.code, ERR_MEMORY);
  EXPECT_EQ(small.response, (Bytes{0x64, 0x00}));
  EXPECT_EQ(SlotAt(0).card_handle, ctapi::kNoCardHandle);
  EXPECT_EQ(SlotAt(0).direct_connected, 1u);
  bool told = false;
  for (const sim::ControlRecord& control : sim::Controls()) {
    told = told || control.code == pcsc::kCtlBeforeDirectClose;
  }
  EXPECT_TRUE(told);
  EXPECT_GE(sim::NowMs() - before, 700u);
  EXPECT_EQ(sim::OpenConnections(), 0u);
}

}  // namespace
