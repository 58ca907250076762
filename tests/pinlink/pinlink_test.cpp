// SPDX-License-Identifier: BSD-3-Clause
// pinlink on the reader simulator's PIN pad: the card command the reader builds from the CT-BCS
// data objects (PIN inserted where the template and coding say), the part 10 structures sent to
// the reader, the answers for cancel, time-out and differing new PINs, readers without a PIN
// pad, malformed commands, and the memory-card statuses for 2-wire and 3-wire cards.
#include "pinlink/pinlink.h"

#include <gtest/gtest.h>

#include <vector>

#include "pcsc/pcsc.h"
#include "sim/sim.h"

namespace {

using cards::Bytes;
using cards::CardKind;

constexpr char kReader[] = "TREVANO Kelvane Ash 0";
constexpr uint32_t kFeatureRequest = 0x42000000 + 3400;

const Bytes kOk = {0x90, 0x00};

// The data field of a CT-BCS PIN command: the 0x52 object (control byte, positions, template),
// optionally preceded by a display text and followed by a time-out.
Bytes Command52(uint8_t control, const Bytes& positions, const Bytes& apdu) {
  Bytes value = {control};
  value.insert(value.end(), positions.begin(), positions.end());
  value.insert(value.end(), apdu.begin(), apdu.end());
  Bytes data = {0x52, static_cast<uint8_t>(value.size())};
  data.insert(data.end(), value.begin(), value.end());
  return data;
}
Bytes WithTimeout(Bytes data, uint8_t seconds) {
  data.insert(data.end(), {0x80, 0x01, seconds});
  return data;
}
Bytes Template(uint8_t ins, uint8_t p2, size_t placeholders) {
  Bytes apdu = {0x00, ins, 0x00, p2, static_cast<uint8_t>(placeholders)};
  apdu.insert(apdu.end(), placeholders, 0xFF);
  return apdu;
}
Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Control bytes: PIN length in bits 7-4, coding in bits 1-0.
constexpr uint8_t kBcd4 = 0x40;
constexpr uint8_t kBcd6 = 0x60;
constexpr uint8_t kAsciiVariable = 0x01;

const Bytes kPinBlock1234 = {0x12, 0x34, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const Bytes kPinBlock5678 = {0x56, 0x78, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

class PinlinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    sim::ReaderSpec reader{kReader};
    reader.pin_pad = true;
    sim::AddReader(reader);
    ASSERT_EQ(pcsc::SCardEstablishContext(pcsc::kScopeUser, &context_), pcsc::kSuccess);
  }

  void Insert(const cards::CardSpec& spec) {
    sim::InsertCard(kReader, spec);
    uint32_t protocol = 0;
    ASSERT_EQ(pcsc::SCardConnectA(context_, kReader, pcsc::kShareShared,
                                  pcsc::kProtocolT0 | pcsc::kProtocolT1, &card_, &protocol),
              pcsc::kSuccess);
    sim::ClearCalls();
  }

  static cards::CardSpec ProcessorCard(const Bytes& pin) {
    cards::CardSpec spec;
    spec.pin = pin;
    return spec;
  }

  // The commands the PIN pad sent to the card.
  static std::vector<Bytes> CardReceived() {
    std::vector<Bytes> apdus;
    for (const sim::CardCommand& command : sim::PinPadCommands())
      apdus.push_back(command.apdu);
    return apdus;
  }

  uint32_t Verify(const Bytes& data) {
    answer_length_ = sizeof answer_;
    return SCardSPEVerifyPin(card_, data.data(), static_cast<uint32_t>(data.size()), answer_,
                             &answer_length_);
  }
  uint32_t Change(const Bytes& data) {
    answer_length_ = sizeof answer_;
    return SCardSPEChangePin(card_, data.data(), static_cast<uint32_t>(data.size()), answer_,
                             &answer_length_);
  }
  Bytes Answer() const { return Bytes(answer_, answer_ + answer_length_); }

  pcsc::Context context_ = 0;
  pcsc::CardHandle card_ = 0;
  uint8_t answer_[PINLINK_ANSWER_SIZE] = {};
  uint32_t answer_length_ = 0;
};

// ---- Processor cards: the PIN inserted as template and coding say ----

TEST_F(PinlinkTest, VerifyInsertsABcdPinIntoTheTemplate) {
  Insert(ProcessorCard(kPinBlock1234));
  sim::QueuePinEntries(kReader, {sim::PinDigits("1234")});
  ASSERT_EQ(Verify(Command52(kBcd4, {6}, Template(0x20, 0x81, 8))), 0u);
  EXPECT_EQ(Answer(), kOk);
  EXPECT_EQ(CardReceived(),
            (std::vector<Bytes>{Concat({0x00, 0x20, 0x00, 0x81, 0x08}, kPinBlock1234)}));
}

TEST_F(PinlinkTest, VerifyInsertsAnAsciiPinOfVariableLengthAtItsPosition) {
  // The PIN starts at the second data byte (position 7); the first stays as the template has it.
  const Bytes apdu = {0x00, 0x20, 0x00, 0x01, 0x07, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  const Bytes expected = {0x00, 0x20, 0x00, 0x01, 0x07, 0x01, 0x39, 0x38, 0x37, 0x36, 0x35, 0xFF};
  Insert(ProcessorCard(Bytes(expected.begin() + 5, expected.end())));
  sim::QueuePinEntries(kReader, {sim::PinDigits("98765")});
  ASSERT_EQ(Verify(Command52(kAsciiVariable, {7}, apdu)), 0u);
  EXPECT_EQ(Answer(), kOk);
  EXPECT_EQ(CardReceived(), std::vector<Bytes>{expected});
}

TEST_F(PinlinkTest, VerifySendsThePinVerifyStructureToTheFeatureCode) {
  Insert(ProcessorCard(kPinBlock1234));
  sim::QueuePinEntries(kReader, {sim::PinDigits("1234")});
  ASSERT_EQ(Verify(WithTimeout(Command52(kBcd4, {6}, Template(0x20, 0x81, 8)), 20)), 0u);
  const std::vector<sim::ControlRecord> controls = sim::Controls();
  ASSERT_EQ(controls.size(), 2u);
  EXPECT_EQ(controls[0].code, kFeatureRequest);
  EXPECT_TRUE(controls[0].input.empty());
  EXPECT_EQ(controls[1].code, 0x42000000u + 3500 + 6);
  const Bytes header = {20,   20,   0x81, 0x08, 0x00, 4,    4,    0x02, 0x01, 0x09,
                        0x04, 0x00, 0x00, 0x00, 0x00, 0x0D, 0x00, 0x00, 0x00};
  EXPECT_EQ(controls[1].input, Concat(header, Template(0x20, 0x81, 8)));
}

TEST_F(PinlinkTest, WrongPinsCountDownToBlocked) {
  Insert(ProcessorCard(kPinBlock1234));
  const Bytes data = Command52(kBcd4, {6}, Template(0x20, 0x81, 8));
  const std::vector<Bytes> expected = {{0x63, 0xC2}, {0x63, 0xC1}, {0x63, 0xC0}, {0x69, 0x83}};
  for (const Bytes& sw : expected) {
    sim::QueuePinEntries(kReader, {sim::PinDigits("4321")});
    ASSERT_EQ(Verify(data), 0u);
    EXPECT_EQ(Answer(), sw);
  }
}

TEST_F(PinlinkTest, ChangeInsertsOldAndNewPinAndTheCardTakesTheNewOne) {
  Insert(ProcessorCard(kPinBlock1234));
  sim::QueuePinEntries(kReader,
                       {sim::PinDigits("1234"), sim::PinDigits("5678"), sim::PinDigits("5678")});
  ASSERT_EQ(Change(Command52(kBcd4, {6, 14}, Template(0x24, 0x81, 16))), 0u);
  EXPECT_EQ(Answer(), kOk);
  EXPECT_EQ(CardReceived(),
            (std::vector<Bytes>{
                Concat(Concat({0x00, 0x24, 0x00, 0x81, 0x10}, kPinBlock1234), kPinBlock5678)}));
  sim::QueuePinEntries(kReader, {sim::PinDigits("5678")});
  ASSERT_EQ(Verify(Command52(kBcd4, {6}, Template(0x20, 0x81, 8))), 0u);
  EXPECT_EQ(Answer(), kOk);
}

TEST_F(PinlinkTest, ChangeWithoutNewPositionPutsTheNewPinInTheSecondHalf) {
  Insert(ProcessorCard(kPinBlock1234));
  sim::QueuePinEntries(kReader,
                       {sim::PinDigits("1234"), sim::PinDigits("5678"), sim::PinDigits("5678")});
  ASSERT_EQ(Change(Command52(kBcd4, {6, 0}, Template(0x24, 0x81, 16))), 0u);
  EXPECT_EQ(Answer(), kOk);
  const std::vector<Bytes> received = CardReceived();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(Bytes(received[0].begin() + 13, received[0].end()), kPinBlock5678);
}

// ---- The reader's own answers ----

struct ReaderAnswerCase {
  const char* name;
  bool change;
  std::vector<sim::PinEntry> entries;
  Bytes sw;
};

class PinlinkReaderAnswerTest : public PinlinkTest,
                                public ::testing::WithParamInterface<ReaderAnswerCase> {};

TEST_P(PinlinkReaderAnswerTest, IsPassedOnAndTheCardGetsNothing) {
  Insert(ProcessorCard(kPinBlock1234));
  sim::QueuePinEntries(kReader, GetParam().entries);
  const uint32_t result = GetParam().change
                              ? Change(Command52(kBcd4, {6, 14}, Template(0x24, 0x81, 16)))
                              : Verify(Command52(kBcd4, {6}, Template(0x20, 0x81, 8)));
  ASSERT_EQ(result, 0u);
  EXPECT_EQ(Answer(), GetParam().sw);
  EXPECT_TRUE(CardReceived().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PinlinkReaderAnswerTest,
    ::testing::Values(ReaderAnswerCase{"VerifyCancelled", false, {sim::PinCancel()}, {0x64, 0x01}},
                      ReaderAnswerCase{"VerifyTimedOut", false, {sim::PinTimeout()}, {0x64, 0x00}},
                      ReaderAnswerCase{"ChangeCancelledAtTheNewPin",
                                       true,
                                       {sim::PinDigits("1234"), sim::PinCancel()},
                                       {0x64, 0x01}},
                      ReaderAnswerCase{
                          "ChangeNewPinsDiffer",
                          true,
                          {sim::PinDigits("1234"), sim::PinDigits("5678"), sim::PinDigits("5679")},
                          {0x64, 0x02}}),
    [](const ::testing::TestParamInfo<ReaderAnswerCase>& info) { return info.param.name; });

TEST_F(PinlinkTest, TheTimeOutObjectIsTheReadersTimeOut) {
  Insert(ProcessorCard(kPinBlock1234));
  sim::QueuePinEntries(kReader, {sim::PinTimeout()});
  const uint64_t before = sim::NowMs();
  ASSERT_EQ(Verify(WithTimeout(Command52(kBcd4, {6}, Template(0x20, 0x81, 8)), 15)), 0u);
  EXPECT_EQ(Answer(), (Bytes{0x64, 0x00}));
  EXPECT_EQ(sim::NowMs() - before, 15000u);
}

TEST_F(PinlinkTest, ADisplayTextIsAccepted) {
  Insert(ProcessorCard(kPinBlock1234));
  sim::QueuePinEntries(kReader, {sim::PinDigits("1234")});
  const Bytes data =
      Concat({0x50, 0x03, 'P', 'I', 'N'}, Command52(kBcd4, {6}, Template(0x20, 0x81, 8)));
  ASSERT_EQ(Verify(data), 0u);
  EXPECT_EQ(Answer(), kOk);
}

TEST_F(PinlinkTest, AReaderWithoutPinPadAnswers6D00AndNoPinIsAskedFor) {
  sim::AddReader({"TREVANO Kelvane Birch 0"});
  sim::InsertCard("TREVANO Kelvane Birch 0", ProcessorCard(kPinBlock1234));
  uint32_t protocol = 0;
  ASSERT_EQ(pcsc::SCardConnectA(context_, "TREVANO Kelvane Birch 0", pcsc::kShareShared,
                                pcsc::kProtocolT0 | pcsc::kProtocolT1, &card_, &protocol),
            pcsc::kSuccess);
  sim::ClearCalls();
  ASSERT_EQ(Verify(Command52(kBcd4, {6}, Template(0x20, 0x81, 8))), 0u);
  EXPECT_EQ(Answer(), (Bytes{0x6D, 0x00}));
  ASSERT_EQ(Change(Command52(kBcd4, {6, 14}, Template(0x24, 0x81, 16))), 0u);
  EXPECT_EQ(Answer(), (Bytes{0x6D, 0x00}));
  for (const sim::ControlRecord& control : sim::Controls())
    EXPECT_EQ(control.code, kFeatureRequest);
  EXPECT_EQ(sim::CountCalls(sim::Fn::kTransmit), 0u);
}

TEST_F(PinlinkTest, AFailedPcscCallIsTheResult) {
  Insert(ProcessorCard(kPinBlock1234));
  sim::FailCall(sim::Fn::kControl, 1, pcsc::kRemovedCard);
  EXPECT_EQ(Verify(Command52(kBcd4, {6}, Template(0x20, 0x81, 8))), pcsc::kRemovedCard);
}

// ---- Malformed commands: 69 00 before the reader is asked ----

struct MalformedCase {
  const char* name;
  Bytes data;
};

class PinlinkMalformedTest : public PinlinkTest,
                             public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(PinlinkMalformedTest, Answers6900) {
  Insert(ProcessorCard(kPinBlock1234));
  ASSERT_EQ(Verify(GetParam().data), 0u);
  EXPECT_EQ(Answer(), (Bytes{0x69, 0x00}));
  EXPECT_EQ(sim::CountCalls(sim::Fn::kControl), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PinlinkMalformedTest,
    ::testing::Values(
        MalformedCase{"NoCommandObject", {0x80, 0x01, 0x10}}, MalformedCase{"Empty", {}},
        MalformedCase{"TruncatedObject", {0x52, 0x20, 0x40, 0x06}},
        MalformedCase{"CodingTwo", Command52(0x42, {6}, Template(0x20, 0x81, 8))},
        MalformedCase{"PositionInTheHeader", Command52(kBcd4, {5}, Template(0x20, 0x81, 8))},
        MalformedCase{"PositionAfterTheData", Command52(kBcd4, {14}, Template(0x20, 0x81, 8))},
        MalformedCase{"LcDiffersFromTheData",
                      Command52(kBcd4, {6}, {0x00, 0x20, 0x00, 0x81, 0x08, 0xFF, 0xFF})},
        MalformedCase{"NoDataField", Command52(kBcd4, {6}, {0x00, 0x20, 0x00, 0x81})},
        MalformedCase{"PinLongerThanItsPlaceholders",
                      Command52(0x90, {6}, Template(0x20, 0x81, 4))},
        MalformedCase{"TimeOutOfTwoBytes",
                      Concat(Command52(kBcd4, {6}, Template(0x20, 0x81, 8)), {0x80, 0x02, 0, 1})}),
    [](const ::testing::TestParamInfo<MalformedCase>& info) { return info.param.name; });

// ---- Pointers and lengths ----

TEST_F(PinlinkTest, NullPointersAreRefused) {
  const Bytes data = Command52(kBcd4, {6}, Template(0x20, 0x81, 8));
  uint32_t length = sizeof answer_;
  EXPECT_EQ(SCardSPEVerifyPin(card_, nullptr, 4, answer_, &length), pcsc::kInvalidParameter);
  EXPECT_EQ(SCardSPEVerifyPin(card_, data.data(), 4, nullptr, &length), pcsc::kInvalidParameter);
  EXPECT_EQ(SCardSPEChangePin(card_, data.data(), 4, answer_, nullptr), pcsc::kInvalidParameter);
  EXPECT_EQ(MemPinVerify(card_, data.data(), 4, answer_, nullptr, 0xA2), pcsc::kInvalidParameter);
  EXPECT_EQ(MemPinChange(card_, nullptr, 4, answer_, &length, 0xA2), pcsc::kInvalidParameter);
}

TEST_F(PinlinkTest, AnAnswerNeverGoesPastTheBuffer) {
  Insert(ProcessorCard(kPinBlock1234));
  sim::QueuePinEntries(kReader, {sim::PinDigits("1234")});
  const Bytes data = Command52(kBcd4, {6}, Template(0x20, 0x81, 8));
  uint8_t answer[2] = {0xAA, 0xAA};
  uint32_t length = 1;
  EXPECT_EQ(
      SCardSPEVerifyPin(card_, data.data(), static_cast<uint32_t>(data.size()), answer, &length),
      pcsc::kInsufficientBuffer);
  EXPECT_EQ(length, 2u);
  EXPECT_EQ(answer[0], 0xAA);
  EXPECT_EQ(answer[1], 0xAA);
}

// ---- Memory cards ----

const Bytes kSelect2W = {0xFF, 0xA4, 0x00, 0x00, 0x01, 0x06};
const Bytes kSelect3W = {0xFF, 0xA4, 0x00, 0x00, 0x01, 0x05};
constexpr uint8_t kTwoWire = 0xA2;
constexpr uint8_t kThreeWire = 0x92;

cards::CardSpec MemoryCard(CardKind kind, const Bytes& pin) {
  cards::CardSpec spec;
  spec.kind = kind;
  spec.memory = {static_cast<uint8_t>(kind == CardKind::kTwoWire ? 0xA2 : 0x92), 0x13, 0x10, 0x91};
  spec.pin = pin;
  return spec;
}

class PinlinkMemoryTest : public PinlinkTest {
 protected:
  uint32_t MemVerify(const Bytes& data, uint8_t family) {
    answer_length_ = sizeof answer_;
    return MemPinVerify(card_, data.data(), static_cast<uint32_t>(data.size()), answer_,
                        &answer_length_, family);
  }
  uint32_t MemChange(const Bytes& data, uint8_t family) {
    answer_length_ = sizeof answer_;
    return MemPinChange(card_, data.data(), static_cast<uint32_t>(data.size()), answer_,
                        &answer_length_, family);
  }
  static std::vector<Bytes> Transmitted() {
    std::vector<Bytes> sent;
    for (const sim::Call& call : sim::Calls()) {
      if (call.fn == sim::Fn::kTransmit) sent.push_back(call.input);
    }
    return sent;
  }
};

TEST_F(PinlinkMemoryTest, TwoWireVerifyPresentsTheCodeAfterSelectingTheType) {
  Insert(MemoryCard(CardKind::kTwoWire, {0x12, 0x34, 0x56}));
  sim::QueuePinEntries(kReader, {sim::PinDigits("123456")});
  EXPECT_EQ(MemVerify(Command52(kBcd6, {6}, Template(0x20, 0x00, 3)), kTwoWire), 0u);
  EXPECT_EQ(Transmitted(), std::vector<Bytes>{kSelect2W});
  EXPECT_EQ(CardReceived(), (std::vector<Bytes>{{0xFF, 0x20, 0x00, 0x00, 0x03, 0x12, 0x34, 0x56}}));
}

TEST_F(PinlinkMemoryTest, TwoWireWrongCodesThenBlocked) {
  Insert(MemoryCard(CardKind::kTwoWire, {0x12, 0x34, 0x56}));
  const Bytes data = Command52(kBcd6, {6}, Template(0x20, 0x00, 3));
  for (uint32_t expected :
       {PINLINK_WRONG_PIN, PINLINK_WRONG_PIN, PINLINK_WRONG_PIN, PINLINK_PIN_BLOCKED}) {
    sim::QueuePinEntries(kReader, {sim::PinDigits("654321")});
    EXPECT_EQ(MemVerify(data, kTwoWire), expected);
  }
}

TEST_F(PinlinkMemoryTest, ThreeWireVerifyTakesTwoBytesOfAThreeBytePlaceholder) {
  Insert(MemoryCard(CardKind::kThreeWire, {0x12, 0x34}));
  sim::QueuePinEntries(kReader, {sim::PinDigits("1234")});
  EXPECT_EQ(MemVerify(Command52(kBcd4, {6}, Template(0x20, 0x00, 3)), kThreeWire), 0u);
  EXPECT_EQ(Transmitted(), std::vector<Bytes>{kSelect3W});
  EXPECT_EQ(CardReceived(), (std::vector<Bytes>{{0xFF, 0x20, 0x00, 0x00, 0x02, 0x12, 0x34}}));
}

TEST_F(PinlinkMemoryTest, ThreeWireVerifyWithAsciiCoding) {
  Insert(MemoryCard(CardKind::kThreeWire, {0x31, 0x32}));
  sim::QueuePinEntries(kReader, {sim::PinDigits("12")});
  EXPECT_EQ(MemVerify(Command52(0x21, {6}, Template(0x20, 0x00, 2)), kThreeWire), 0u);
  EXPECT_EQ(CardReceived(), (std::vector<Bytes>{{0xFF, 0x20, 0x00, 0x00, 0x02, 0x31, 0x32}}));
}

TEST_F(PinlinkMemoryTest, TwoWireChangeSendsOldAndNewCodeInOneCommand) {
  Insert(MemoryCard(CardKind::kTwoWire, {0x12, 0x34, 0x56}));
  sim::QueuePinEntries(
      kReader, {sim::PinDigits("123456"), sim::PinDigits("654321"), sim::PinDigits("654321")});
  EXPECT_EQ(MemChange(Command52(kBcd6, {6, 9}, Template(0x24, 0x00, 6)), kTwoWire), 0u);
  EXPECT_EQ(
      CardReceived(),
      (std::vector<Bytes>{{0xFF, 0xD2, 0x00, 0x00, 0x06, 0x12, 0x34, 0x56, 0x65, 0x43, 0x21}}));
  sim::QueuePinEntries(kReader, {sim::PinDigits("654321")});
  EXPECT_EQ(MemVerify(Command52(kBcd6, {6}, Template(0x20, 0x00, 3)), kTwoWire), 0u);
}

TEST_F(PinlinkMemoryTest, ThreeWireChangeWithPaddedPlaceholders) {
  Insert(MemoryCard(CardKind::kThreeWire, {0x12, 0x34}));
  sim::QueuePinEntries(kReader,
                       {sim::PinDigits("1234"), sim::PinDigits("4321"), sim::PinDigits("4321")});
  EXPECT_EQ(MemChange(Command52(kBcd4, {6, 9}, Template(0x24, 0x00, 6)), kThreeWire), 0u);
  EXPECT_EQ(CardReceived(),
            (std::vector<Bytes>{{0xFF, 0xD2, 0x00, 0x00, 0x04, 0x12, 0x34, 0x43, 0x21}}));
}

TEST_F(PinlinkMemoryTest, ChangeWithAWrongOldCodeIsAWrongPin) {
  Insert(MemoryCard(CardKind::kThreeWire, {0x12, 0x34}));
  sim::QueuePinEntries(kReader,
                       {sim::PinDigits("9999"), sim::PinDigits("4321"), sim::PinDigits("4321")});
  EXPECT_EQ(MemChange(Command52(kBcd4, {6, 8}, Template(0x24, 0x00, 4)), kThreeWire),
            PINLINK_WRONG_PIN);
}

struct MemoryStatusCase {
  const char* name;
  bool change;
  std::vector<sim::PinEntry> entries;
  uint32_t status;
};

class PinlinkMemoryStatusTest : public PinlinkMemoryTest,
                                public ::testing::WithParamInterface<MemoryStatusCase> {};

TEST_P(PinlinkMemoryStatusTest, ReaderAnswersBecomeStatuses) {
  Insert(MemoryCard(CardKind::kTwoWire, {0x12, 0x34, 0x56}));
  sim::QueuePinEntries(kReader, GetParam().entries);
  const uint32_t status =
      GetParam().change ? MemChange(Command52(kBcd6, {6, 9}, Template(0x24, 0x00, 6)), kTwoWire)
                        : MemVerify(Command52(kBcd6, {6}, Template(0x20, 0x00, 3)), kTwoWire);
  EXPECT_EQ(status, GetParam().status);
  EXPECT_TRUE(CardReceived().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PinlinkMemoryStatusTest,
    ::testing::Values(
        MemoryStatusCase{"VerifyCancelled", false, {sim::PinCancel()}, PINLINK_CANCELLED},
        MemoryStatusCase{"VerifyTimedOut", false, {sim::PinTimeout()}, pcsc::kTimeout},
        MemoryStatusCase{"ChangeCancelled", true, {sim::PinCancel()}, PINLINK_CANCELLED},
        MemoryStatusCase{
            "ChangeNewCodesDiffer",
            true,
            {sim::PinDigits("123456"), sim::PinDigits("654321"), sim::PinDigits("654320")},
            PINLINK_NEW_PINS_DIFFER}),
    [](const ::testing::TestParamInfo<MemoryStatusCase>& info) { return info.param.name; });

TEST_F(PinlinkMemoryTest, InvalidValuesSendNothing) {
  Insert(MemoryCard(CardKind::kTwoWire, {0x12, 0x34, 0x56}));
  // An I2C card has no code; a malformed object; a template too short for a 2-wire code; a
  // verification template that is not VERIFY.
  EXPECT_EQ(MemVerify(Command52(kBcd6, {6}, Template(0x20, 0x00, 3)), 0x82), PINLINK_INVALID_VALUE);
  EXPECT_EQ(MemVerify({0x52, 0x09, 0x60}, kTwoWire), PINLINK_INVALID_VALUE);
  EXPECT_EQ(MemVerify(Command52(kBcd4, {6}, Template(0x20, 0x00, 2)), kTwoWire),
            PINLINK_INVALID_VALUE);
  EXPECT_EQ(MemVerify(Command52(kBcd6, {6}, Template(0x21, 0x00, 3)), kTwoWire),
            PINLINK_INVALID_VALUE);
  EXPECT_TRUE(sim::Calls().empty());
}

TEST_F(PinlinkMemoryTest, AReaderWithoutPinPadIsAnUnsupportedFeature) {
  sim::AddReader({"TREVANO Kelvane Birch 0"});
  sim::InsertCard("TREVANO Kelvane Birch 0", MemoryCard(CardKind::kTwoWire, {0x12, 0x34, 0x56}));
  uint32_t protocol = 0;
  ASSERT_EQ(pcsc::SCardConnectA(context_, "TREVANO Kelvane Birch 0", pcsc::kShareShared,
                                pcsc::kProtocolT0 | pcsc::kProtocolT1, &card_, &protocol),
            pcsc::kSuccess);
  EXPECT_EQ(MemVerify(Command52(kBcd6, {6}, Template(0x20, 0x00, 3)), kTwoWire),
            pcsc::kUnsupportedFeature);
  EXPECT_TRUE(sim::PinPadCommands().empty());
}

}  // namespace
