// SPDX-License-Identifier: BSD-3-Clause
// The simulated PIN pad of PC/SC part 10: the feature list, PIN_VERIFY_STRUCTURE and
// PIN_MODIFY_STRUCTURE read byte by byte, the PIN inserted into the template in BCD or ASCII,
// the reader's own answers (time-out on the virtual clock, cancel, differing new PINs, wrong
// length) and the record of what the card received.
#include <gtest/gtest.h>

#include <vector>

#include "pcsc/pcsc.h"
#include "sim/sim.h"

namespace {

using cards::Bytes;

constexpr char kPad[] = "TREVANO Kelvane Cypress 0";
constexpr char kPlain[] = "TREVANO Kelvane Birch 0";
constexpr uint32_t kFeatureRequest = 0x42000000 + 3400;
constexpr uint32_t kVerifyCode = 0x42000000 + 3500 + 6;
constexpr uint32_t kModifyCode = 0x42000000 + 3500 + 7;

const Bytes kOk = {0x90, 0x00};

// PIN_VERIFY_STRUCTURE: time-out, format (bytes, position, coding), block size, digits, template.
Bytes VerifyStructure(uint8_t timeout, uint8_t position, uint8_t coding, uint8_t block,
                      uint8_t min_digits, uint8_t max_digits, const Bytes& apdu) {
  Bytes s = {timeout,
             timeout,
             static_cast<uint8_t>(0x80 | position << 3 | coding),
             block,
             0,
             max_digits,
             min_digits,
             0x02,
             0x01,
             0x09,
             0x04,
             0,
             0,
             0,
             0,
             static_cast<uint8_t>(apdu.size()),
             0,
             0,
             0};
  s.reserve(s.size() + apdu.size());
  s.insert(s.end(), apdu.begin(), apdu.end());
  return s;
}

// PIN_MODIFY_STRUCTURE with BCD coding.
Bytes ModifyStructure(uint8_t old_offset, uint8_t new_offset, uint8_t confirm, const Bytes& apdu) {
  Bytes s = {0, 0, 0x81,    8,    0, old_offset, new_offset,
             8, 4, confirm, 0x02, 3, 0x09,       0x04,
             0, 1, 2,       0,    0, 0,          static_cast<uint8_t>(apdu.size()),
             0, 0, 0};
  s.reserve(s.size() + apdu.size());
  s.insert(s.end(), apdu.begin(), apdu.end());
  return s;
}

Bytes Placeholders(uint8_t ins, size_t count) {
  Bytes apdu = {0x00, ins, 0x00, 0x81, static_cast<uint8_t>(count)};
  apdu.reserve(apdu.size() + count);
  apdu.insert(apdu.end(), count, 0xFF);
  return apdu;
}

class SimPinPadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    sim::ReaderSpec pad{kPad};
    pad.pin_pad = true;
    sim::AddReader(pad);
    sim::AddReader({kPlain});
    ASSERT_EQ(pcsc::SCardEstablishContext(pcsc::kScopeUser, &context_), pcsc::kSuccess);
    uint32_t active = 0;
    ASSERT_EQ(pcsc::SCardConnectA(context_, kPad, pcsc::kShareDirect, 0, &pad_, &active),
              pcsc::kSuccess);
    ASSERT_EQ(pcsc::SCardConnectA(context_, kPlain, pcsc::kShareDirect, 0, &plain_, &active),
              pcsc::kSuccess);
  }

  pcsc::Result Control(pcsc::CardHandle card, uint32_t code, const Bytes& input) {
    output_.assign(64, 0);
    uint32_t returned = 0;
    const pcsc::Result result = pcsc::SCardControl(
        card, code, input.empty() ? nullptr : input.data(), static_cast<uint32_t>(input.size()),
        output_.data(), static_cast<uint32_t>(output_.size()), &returned);
    output_.resize(returned);
    return result;
  }

  static Bytes LastCardCommand() {
    const std::vector<sim::CardCommand> commands = sim::PinPadCommands();
    return commands.empty() ? Bytes{} : commands.back().apdu;
  }

  pcsc::Context context_ = 0;
  pcsc::CardHandle pad_ = 0;
  pcsc::CardHandle plain_ = 0;
  Bytes output_;
};

TEST_F(SimPinPadTest, OnlyAPinPadReaderListsTheTwoFeatures) {
  EXPECT_EQ(pcsc::PlatformControlCode(3400), kFeatureRequest);
  ASSERT_EQ(Control(pad_, kFeatureRequest, {}), pcsc::kSuccess);
  EXPECT_EQ(output_,
            (Bytes{0x06, 0x04, 0x42, 0x00, 0x0D, 0xB2, 0x07, 0x04, 0x42, 0x00, 0x0D, 0xB3}));
  ASSERT_EQ(Control(plain_, kFeatureRequest, {}), pcsc::kSuccess);
  EXPECT_TRUE(output_.empty());
  EXPECT_EQ(Control(plain_, kVerifyCode, VerifyStructure(0, 0, 1, 8, 1, 16, Placeholders(0x20, 8))),
            pcsc::kUnsupportedFeature);
  EXPECT_EQ(Control(plain_, kModifyCode, ModifyStructure(0, 8, 3, Placeholders(0x24, 16))),
            pcsc::kUnsupportedFeature);
}

struct InsertCase {
  const char* name;
  uint8_t position;
  uint8_t coding;
  const char* digits;
  Bytes data;  // the data field the card receives
};

class SimPinPadInsertTest : public SimPinPadTest,
                            public ::testing::WithParamInterface<InsertCase> {};

TEST_P(SimPinPadInsertTest, ThePinLandsWhereAndHowTheStructureSays) {
  sim::InsertCard(kPad, cards::CardSpec{});
  sim::QueuePinEntries(kPad, {sim::PinDigits(GetParam().digits)});
  ASSERT_EQ(Control(pad_, kVerifyCode,
                    VerifyStructure(0, GetParam().position, GetParam().coding, 6, 1, 12,
                                    Placeholders(0x20, 8))),
            pcsc::kSuccess);
  EXPECT_EQ(output_, (Bytes{0x6A, 0x88}));  // a card without PIN answers it
  Bytes expected = {0x00, 0x20, 0x00, 0x81, 0x08};
  expected.insert(expected.end(), GetParam().data.begin(), GetParam().data.end());
  EXPECT_EQ(LastCardCommand(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimPinPadInsertTest,
    ::testing::Values(
        InsertCase{"BcdEven", 0, 1, "1234", {0x12, 0x34, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        InsertCase{
            "BcdOddPadsWithF", 0, 1, "12345", {0x12, 0x34, 0x5F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        InsertCase{"BcdAtOffsetTwo", 2, 1, "987", {0xFF, 0xFF, 0x98, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF}},
        InsertCase{"Ascii", 1, 2, "0429", {0xFF, 0x30, 0x34, 0x32, 0x39, 0xFF, 0xFF, 0xFF}}),
    [](const ::testing::TestParamInfo<InsertCase>& info) { return info.param.name; });

TEST_F(SimPinPadTest, TheCardsAnswerComesBack) {
  cards::CardSpec spec;
  spec.pin = {0x12, 0x34, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  sim::InsertCard(kPad, spec);
  sim::QueuePinEntries(kPad, {sim::PinDigits("1234"), sim::PinDigits("1111")});
  const Bytes request = VerifyStructure(0, 0, 1, 8, 4, 8, Placeholders(0x20, 8));
  ASSERT_EQ(Control(pad_, kVerifyCode, request), pcsc::kSuccess);
  EXPECT_EQ(output_, kOk);
  ASSERT_EQ(Control(pad_, kVerifyCode, request), pcsc::kSuccess);
  EXPECT_EQ(output_, (Bytes{0x63, 0xC2}));
  ASSERT_EQ(sim::PinPadCommands().size(), 2u);
  EXPECT_EQ(sim::PinPadCommands()[1].response, (Bytes{0x63, 0xC2}));
  EXPECT_EQ(sim::PinPadCommands()[1].reader, kPad);
}

TEST_F(SimPinPadTest, ModifyInsertsOldAndNewAfterTheConfirmation) {
  sim::InsertCard(kPad, cards::CardSpec{});
  sim::QueuePinEntries(kPad,
                       {sim::PinDigits("1234"), sim::PinDigits("5678"), sim::PinDigits("5678")});
  ASSERT_EQ(Control(pad_, kModifyCode, ModifyStructure(0, 8, 3, Placeholders(0x24, 16))),
            pcsc::kSuccess);
  Bytes expected = {0x00, 0x24, 0x00, 0x81, 0x10, 0x12, 0x34, 0xFF, 0xFF, 0xFF, 0xFF,
                    0xFF, 0xFF, 0x56, 0x78, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(LastCardCommand(), expected);
  // Without the current PIN only the new one and its confirmation are taken.
  sim::QueuePinEntries(kPad, {sim::PinDigits("4444"), sim::PinDigits("4444")});
  ASSERT_EQ(Control(pad_, kModifyCode, ModifyStructure(0, 8, 1, Placeholders(0x24, 16))),
            pcsc::kSuccess);
  EXPECT_EQ(LastCardCommand()[5], 0xFF);
  EXPECT_EQ(LastCardCommand()[13], 0x44);
}

struct ReaderAnswerCase {
  const char* name;
  std::vector<sim::PinEntry> entries;
  Bytes sw;
  uint64_t waited_ms;
};

class SimPinPadAnswerTest : public SimPinPadTest,
                            public ::testing::WithParamInterface<ReaderAnswerCase> {};

TEST_P(SimPinPadAnswerTest, TheReaderAnswersAndTheCardGetsNothing) {
  sim::InsertCard(kPad, cards::CardSpec{});
  sim::QueuePinEntries(kPad, GetParam().entries);
  const uint64_t before = sim::NowMs();
  Bytes request = ModifyStructure(0, 8, 3, Placeholders(0x24, 16));
  request[0] = 12;  // bTimerOut
  ASSERT_EQ(Control(pad_, kModifyCode, request), pcsc::kSuccess);
  EXPECT_EQ(output_, GetParam().sw);
  EXPECT_EQ(sim::NowMs() - before, GetParam().waited_ms);
  EXPECT_TRUE(sim::PinPadCommands().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimPinPadAnswerTest,
    ::testing::Values(
        ReaderAnswerCase{"Cancel", {sim::PinCancel()}, {0x64, 0x01}, 0},
        ReaderAnswerCase{
            "TimeOut", {sim::PinDigits("1234"), sim::PinTimeout()}, {0x64, 0x00}, 12000},
        ReaderAnswerCase{"EmptyQueueIsATimeOut", {}, {0x64, 0x00}, 12000},
        ReaderAnswerCase{"NewPinsDiffer",
                         {sim::PinDigits("1234"), sim::PinDigits("5678"), sim::PinDigits("5679")},
                         {0x64, 0x02},
                         0},
        ReaderAnswerCase{"TooShort", {sim::PinDigits("123")}, {0x64, 0x03}, 0},
        ReaderAnswerCase{"TooLong", {sim::PinDigits("123456789")}, {0x64, 0x03}, 0},
        ReaderAnswerCase{"NotDigits", {sim::PinDigits("12a4")}, {0x64, 0x03}, 0}),
    [](const ::testing::TestParamInfo<ReaderAnswerCase>& info) { return info.param.name; });

TEST_F(SimPinPadTest, WithoutATimeOutTheReaderWaitsThirtySeconds) {
  sim::InsertCard(kPad, cards::CardSpec{});
  ASSERT_EQ(Control(pad_, kVerifyCode, VerifyStructure(0, 0, 1, 8, 1, 16, Placeholders(0x20, 8))),
            pcsc::kSuccess);
  EXPECT_EQ(output_, (Bytes{0x64, 0x00}));
  EXPECT_EQ(sim::NowMs(), 30000u);
}

TEST_F(SimPinPadTest, MalformedStructuresAndAnEmptySlot) {
  EXPECT_EQ(Control(pad_, kVerifyCode, VerifyStructure(0, 0, 1, 8, 1, 16, Placeholders(0x20, 8))),
            pcsc::kNoSmartcard);
  sim::InsertCard(kPad, cards::CardSpec{});
  Bytes wrong_length = VerifyStructure(0, 0, 1, 8, 1, 16, Placeholders(0x20, 8));
  wrong_length[15] = 9;
  EXPECT_EQ(Control(pad_, kVerifyCode, wrong_length), pcsc::kInvalidParameter);
  EXPECT_EQ(Control(pad_, kVerifyCode, Bytes(10, 0)), pcsc::kInvalidParameter);
  Bytes bit_units = VerifyStructure(0, 1, 1, 8, 1, 16, Placeholders(0x20, 8));
  bit_units[2] &= 0x7F;
  EXPECT_EQ(Control(pad_, kVerifyCode, bit_units), pcsc::kInvalidParameter);
  EXPECT_EQ(Control(pad_, kModifyCode, Bytes(23, 0)), pcsc::kInvalidParameter);
  EXPECT_TRUE(sim::PinPadCommands().empty());
}

}  // namespace
