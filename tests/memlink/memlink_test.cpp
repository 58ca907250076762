// SPDX-License-Identifier: BSD-3-Clause
// memlink on the reader simulator: the storage-card commands it sends for each call, the card
// type selected once per handle and family, transfers split at 256 bytes, the status mapping,
// the I2C geometry it enforces itself, code changes as present + change, and what it forgets
// when the card is reset or removed.
#include "memlink/memlink.h"

#include <gtest/gtest.h>

#include <vector>

#include "pcsc/pcsc.h"
#include "sim/sim.h"

namespace {

using cards::Bytes;
using cards::CardKind;

constexpr char kReader[] = "TREVANO Kelvane Birch 0";
constexpr char kOtherReader[] = "TREVANO Kelvane Birch 1";

const Bytes kSelect2W = {0xFF, 0xA4, 0x00, 0x00, 0x01, 0x06};
const Bytes kSelect3W = {0xFF, 0xA4, 0x00, 0x00, 0x01, 0x05};
const Bytes kSelectI2cShort = {0xFF, 0xA4, 0x00, 0x00, 0x01, 0x01};
const Bytes kSelectI2cLong = {0xFF, 0xA4, 0x00, 0x00, 0x01, 0x02};
const Bytes kHeader2W = {0xA2, 0x13, 0x10, 0x91};
const Bytes kPin2W = {0x12, 0x34, 0x56};

Bytes Memory(size_t size) {
  Bytes memory(size);
  for (size_t i = 0; i < size; ++i)
    memory[i] = static_cast<uint8_t>(i * 7 + i / 256);
  return memory;
}

cards::CardSpec Spec(CardKind kind, Bytes memory = {}) {
  cards::CardSpec spec;
  spec.kind = kind;
  spec.memory = std::move(memory);
  return spec;
}

cards::CardSpec TwoWire() {
  cards::CardSpec spec = Spec(CardKind::kTwoWire, kHeader2W);
  spec.pin = kPin2W;
  return spec;
}

// The geometry record of MemI2CSetType.
struct Geometry {
  uint8_t bytes[MEMLINK_I2C_TYPE_SIZE];
};
Geometry I2c(uint8_t kind, uint8_t width, uint32_t size) {
  return Geometry{{kind, width, static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                   static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 24)}};
}

class MemlinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    sim::AddReader({kReader});
    ASSERT_EQ(pcsc::SCardEstablishContext(pcsc::kScopeUser, &context_), pcsc::kSuccess);
  }

  // Puts the card in the reader, connects to it and clears the call log.
  void Insert(const cards::CardSpec& spec) {
    sim::InsertCard(kReader, spec);
    card_ = Connect(kReader);
    sim::ClearCalls();
  }

  pcsc::CardHandle Connect(const char* reader) {
    pcsc::CardHandle card = 0;
    uint32_t protocol = 0;
    EXPECT_EQ(pcsc::SCardConnectA(context_, reader, pcsc::kShareShared,
                                  pcsc::kProtocolT0 | pcsc::kProtocolT1, &card, &protocol),
              pcsc::kSuccess);
    return card;
  }

  // The commands memlink sent to `card` since the log was cleared.
  static std::vector<Bytes> Sent(pcsc::CardHandle card) {
    std::vector<Bytes> sent;
    for (const sim::Call& call : sim::Calls()) {
      if (call.fn == sim::Fn::kTransmit && call.card == card) sent.push_back(call.input);
    }
    return sent;
  }
  std::vector<Bytes> Sent() const { return Sent(card_); }

  pcsc::Context context_ = 0;
  pcsc::CardHandle card_ = 0;
};

// ---- Commands and type selection ----

TEST_F(MemlinkTest, TheTypeIsSelectedOncePerHandleAndTheProtocolAskedOnce) {
  Insert(TwoWire());
  uint8_t buffer[4] = {};
  ASSERT_EQ(Mem2WRead(card_, 4, buffer, 0), MEMLINK_OK);
  EXPECT_EQ(Bytes(buffer, buffer + 4), kHeader2W);
  ASSERT_EQ(Mem2WRead(card_, 2, buffer, 0x20), MEMLINK_OK);
  EXPECT_EQ(Sent(),
            (std::vector<Bytes>{
                kSelect2W, {0xFF, 0xB0, 0x00, 0x00, 0x04}, {0xFF, 0xB0, 0x00, 0x20, 0x02}}));
  EXPECT_EQ(sim::CountCalls(sim::Fn::kGetAttrib), 1u);
  EXPECT_EQ(sim::Calls()[0].code, pcsc::kAttrCurrentProtocolType);
}

TEST_F(MemlinkTest, APresentedCodeLastsBecauseTheTypeIsNotSelectedAgain) {
  Insert(TwoWire());
  ASSERT_EQ(Mem2WVerify(card_, 3, kPin2W.data()), MEMLINK_OK);
  const uint8_t data[] = {0xC0, 0xC1};
  EXPECT_EQ(Mem2WWrite(card_, 2, data, 0x40), MEMLINK_OK);
  EXPECT_EQ(Sent(), (std::vector<Bytes>{kSelect2W,
                                        {0xFF, 0x20, 0x00, 0x00, 0x03, 0x12, 0x34, 0x56},
                                        {0xFF, 0xD0, 0x00, 0x40, 0x02, 0xC0, 0xC1}}));
}

TEST_F(MemlinkTest, EachHandleSelectsForItself) {
  sim::AddReader({kOtherReader});
  sim::InsertCard(kOtherReader, Spec(CardKind::kThreeWire, {0x92}));
  const pcsc::CardHandle other = Connect(kOtherReader);
  Insert(TwoWire());
  uint8_t buffer[1] = {};
  ASSERT_EQ(Mem3WRead(other, 1, buffer, 0), MEMLINK_OK);
  EXPECT_EQ(buffer[0], 0x92);
  ASSERT_EQ(Mem2WRead(card_, 1, buffer, 0), MEMLINK_OK);
  EXPECT_EQ(buffer[0], 0xA2);
  ASSERT_EQ(Mem3WRead(other, 1, buffer, 1), MEMLINK_OK);
  ASSERT_EQ(Mem2WRead(card_, 1, buffer, 1), MEMLINK_OK);
  EXPECT_EQ(Sent(other),
            (std::vector<Bytes>{
                kSelect3W, {0xFF, 0xB0, 0x00, 0x00, 0x01}, {0xFF, 0xB0, 0x00, 0x01, 0x01}}));
  EXPECT_EQ(Sent(card_),
            (std::vector<Bytes>{
                kSelect2W, {0xFF, 0xB0, 0x00, 0x00, 0x01}, {0xFF, 0xB0, 0x00, 0x01, 0x01}}));
}

TEST_F(MemlinkTest, AnotherFamilyOrAddressWidthSelectsAgain) {
  cards::CardSpec spec = Spec(CardKind::kI2c, {0x82, 0x01});
  spec.memory_size = 4096;
  Insert(spec);
  uint8_t buffer[2] = {};
  EXPECT_EQ(Mem2WRead(card_, 1, buffer, 0), MEMLINK_NOT_TRANSACTED);  // not a 2-wire card
  const Geometry short_addresses = I2c(8, 1, 256);
  const Geometry long_addresses = I2c(8, 2, 4096);
  ASSERT_EQ(MemI2CSetType(card_, short_addresses.bytes, 0), MEMLINK_OK);
  ASSERT_EQ(MemI2CRead(card_, buffer, 2, 0, 2), MEMLINK_OK);
  EXPECT_EQ(Bytes(buffer, buffer + 2), (Bytes{0x82, 0x01}));
  ASSERT_EQ(MemI2CSetType(card_, long_addresses.bytes, 0), MEMLINK_OK);
  ASSERT_EQ(MemI2CRead(card_, buffer, 2, 0x0FFE, 2), MEMLINK_OK);
  ASSERT_EQ(MemI2CSetType(card_, long_addresses.bytes, 0), MEMLINK_OK);
  ASSERT_EQ(MemI2CRead(card_, buffer, 2, 0, 1), MEMLINK_OK);
  EXPECT_EQ(Sent(), (std::vector<Bytes>{kSelect2W,
                                        kSelectI2cShort,
                                        {0xFF, 0xB0, 0x00, 0x00, 0x02},
                                        kSelectI2cLong,
                                        {0xFF, 0xB0, 0x0F, 0xFE, 0x02},
                                        {0xFF, 0xB0, 0x00, 0x00, 0x01}}));
}

TEST_F(MemlinkTest, ProtectionAndErrorCounterCommands) {
  cards::CardSpec spec = TwoWire();
  spec.protection = 0xFFFFFFFE;
  spec.error_counter = 3;
  Insert(spec);
  uint8_t bits[4] = {};
  ASSERT_EQ(Mem2WReadProtect(card_, 4, bits), MEMLINK_OK);
  EXPECT_EQ(Bytes(bits, bits + 4), (Bytes{0xFE, 0xFF, 0xFF, 0xFF}));
  uint8_t counter = 0xEE;
  ASSERT_EQ(Mem2WReadErrorCounter(card_, &counter), MEMLINK_OK);
  EXPECT_EQ(counter, 3);
  ASSERT_EQ(Mem2WVerify(card_, 3, kPin2W.data()), MEMLINK_OK);
  EXPECT_EQ(Mem2WWriteProtect(card_, 0x01, 0x13), MEMLINK_OK);
  EXPECT_EQ(Mem2WWriteProtect(card_, 0x02, 0x00), MEMLINK_NOT_TRANSACTED);  // not its value
  ASSERT_EQ(Mem2WReadProtect(card_, 4, bits), MEMLINK_OK);
  EXPECT_EQ(bits[0], 0xFC);
  const std::vector<Bytes> sent = Sent();
  ASSERT_EQ(sent.size(), 7u);
  EXPECT_EQ(sent[1], (Bytes{0xFF, 0xB2, 0x00, 0x00, 0x04}));
  EXPECT_EQ(sent[2], (Bytes{0xFF, 0xB1, 0x00, 0x00, 0x04}));
  EXPECT_EQ(sent[4], (Bytes{0xFF, 0xD1, 0x00, 0x01, 0x01, 0x13}));
}

// ---- Long transfers ----

TEST_F(MemlinkTest, TransfersAbove256BytesAreSplit) {
  cards::CardSpec spec = Spec(CardKind::kI2c, Memory(2048));
  spec.memory_size = 2048;
  Insert(spec);
  const Geometry geometry = I2c(8, 1, 2048);
  ASSERT_EQ(MemI2CSetType(card_, geometry.bytes, 0), MEMLINK_OK);
  Bytes buffer(600);
  ASSERT_EQ(MemI2CRead(card_, buffer.data(), 600, 0x10, 600), MEMLINK_OK);
  const Bytes memory = Memory(2048);
  EXPECT_EQ(buffer, Bytes(memory.begin() + 0x10, memory.begin() + 0x10 + 600));
  const Bytes data(300, 0x5A);
  ASSERT_EQ(MemI2CWrite(card_, data.data(), 300, 0x600, 300), MEMLINK_OK);
  const std::vector<Bytes> sent = Sent();
  ASSERT_EQ(sent.size(), 6u);
  EXPECT_EQ(sent[1], (Bytes{0xFF, 0xB0, 0x00, 0x10, 0x00}));
  EXPECT_EQ(sent[2], (Bytes{0xFF, 0xB0, 0x01, 0x10, 0x00}));
  EXPECT_EQ(sent[3], (Bytes{0xFF, 0xB0, 0x02, 0x10, 0x58}));
  EXPECT_EQ(Bytes(sent[4].begin(), sent[4].begin() + 5), (Bytes{0xFF, 0xD0, 0x06, 0x00, 0x00}));
  EXPECT_EQ(sent[4].size(), 5u + 256);
  EXPECT_EQ(Bytes(sent[5].begin(), sent[5].begin() + 5), (Bytes{0xFF, 0xD0, 0x07, 0x00, 0x2C}));
  EXPECT_EQ(sent[5].size(), 5u + 44);
  ASSERT_EQ(MemI2CRead(card_, buffer.data(), 600, 0x5FF, 302), MEMLINK_OK);
  EXPECT_EQ(buffer[0], memory[0x5FF]);
  EXPECT_EQ(Bytes(buffer.begin() + 1, buffer.begin() + 301), data);
  EXPECT_EQ(buffer[301], memory[0x72C]);
}

// ---- Statuses ----

struct StatusCase {
  Bytes answer;
  uint32_t status;
};

TEST_F(MemlinkTest, StatusWordsMapToStatuses) {
  const Bytes verify = {0xFF, 0x20, 0x00, 0x00, 0x03, 0x01, 0x02, 0x03};
  const StatusCase cases[] = {
      {{0x90, 0x00}, MEMLINK_OK},
      {{0x63, 0xC2}, MEMLINK_WRONG_PIN},
      {{0x63, 0xC0}, MEMLINK_WRONG_PIN},
      {{0x69, 0x83}, MEMLINK_PIN_BLOCKED},
      {{0x69, 0x82}, MEMLINK_NOT_TRANSACTED},
      {{0x6B, 0x00}, MEMLINK_NOT_TRANSACTED},
      {{0x6A, 0x81}, MEMLINK_NOT_TRANSACTED},
      {{0x62, 0x00}, MEMLINK_NOT_TRANSACTED},
      {{0x90}, MEMLINK_NOT_TRANSACTED},  // no status word at all
  };
  for (const StatusCase& c : cases) {
    cards::CardSpec spec = TwoWire();
    spec.script[verify] = c.answer;
    sim::Reset();
    sim::AddReader({kReader});
    ASSERT_EQ(pcsc::SCardEstablishContext(pcsc::kScopeUser, &context_), pcsc::kSuccess);
    Insert(spec);
    EXPECT_EQ(Mem2WVerify(card_, 3, verify.data() + 5), c.status)
        << std::hex << int(c.answer[0]) << " " << int(c.answer.back());
  }
}

TEST_F(MemlinkTest, AReadAnswerOfTheWrongLengthIsARefusal) {
  cards::CardSpec spec = TwoWire();
  spec.script[{0xFF, 0xB0, 0x00, 0x00, 0x04}] = {0x01, 0x02, 0x90, 0x00};
  Insert(spec);
  uint8_t buffer[4] = {};
  EXPECT_EQ(Mem2WRead(card_, 4, buffer, 0), MEMLINK_NOT_TRANSACTED);
}

TEST_F(MemlinkTest, AFailedPcscCallPassesItsResultThrough) {
  Insert(TwoWire());
  uint8_t buffer[1] = {};
  sim::FailCall(sim::Fn::kGetAttrib, 1, pcsc::kCommError);
  EXPECT_EQ(Mem2WRead(card_, 1, buffer, 0), pcsc::kCommError);
  sim::FailCall(sim::Fn::kTransmit, 1, pcsc::kUnresponsiveCard);
  EXPECT_EQ(Mem2WRead(card_, 1, buffer, 0), pcsc::kUnresponsiveCard);
  sim::FailCall(sim::Fn::kTransmit, 2, pcsc::kCommError);
  EXPECT_EQ(Mem2WRead(card_, 1, buffer, 0), pcsc::kCommError);  // the select went through
  EXPECT_EQ(Mem2WRead(card_, 1, buffer, 0), MEMLINK_OK);
  EXPECT_EQ(buffer[0], 0xA2);
  EXPECT_EQ(Mem2WRead(0xFFFFFFFF, 1, buffer, 0), pcsc::kInvalidHandle);
}

// ---- Resets and removals ----

TEST_F(MemlinkTest, ACardResetReportedByTransmitMakesItSelectAgain) {
  Insert(TwoWire());
  uint8_t buffer[1] = {};
  ASSERT_EQ(Mem2WRead(card_, 1, buffer, 0), MEMLINK_OK);
  sim::FailCall(sim::Fn::kTransmit, 1, pcsc::kCardWasReset);
  EXPECT_EQ(Mem2WRead(card_, 1, buffer, 0), pcsc::kCardWasReset);
  sim::ClearCalls();
  ASSERT_EQ(Mem2WRead(card_, 1, buffer, 0), MEMLINK_OK);
  EXPECT_EQ(Sent(), (std::vector<Bytes>{kSelect2W, {0xFF, 0xB0, 0x00, 0x00, 0x01}}));
  EXPECT_EQ(sim::CountCalls(sim::Fn::kGetAttrib), 1u);
}

TEST_F(MemlinkTest, ASelectionLostBehindItsBackIsMadeAgainOnce) {
  Insert(TwoWire());
  uint8_t buffer[1] = {};
  ASSERT_EQ(Mem2WRead(card_, 1, buffer, 0), MEMLINK_OK);
  uint32_t protocol = 0;
  ASSERT_EQ(pcsc::SCardReconnect(card_, pcsc::kShareShared, pcsc::kProtocolT0, pcsc::kResetCard,
                                 &protocol),
            pcsc::kSuccess);
  sim::ClearCalls();
  ASSERT_EQ(Mem2WRead(card_, 1, buffer, 1), MEMLINK_OK);
  EXPECT_EQ(buffer[0], 0x13);
  const Bytes read = {0xFF, 0xB0, 0x00, 0x01, 0x01};
  EXPECT_EQ(Sent(), (std::vector<Bytes>{read, kSelect2W, read}));
}

TEST_F(MemlinkTest, AWrongFamilyIsNotRetried) {
  Insert(Spec(CardKind::kI2c));
  uint8_t buffer[1] = {};
  EXPECT_EQ(Mem3WRead(card_, 1, buffer, 0), MEMLINK_NOT_TRANSACTED);
  EXPECT_EQ(Mem3WRead(card_, 1, buffer, 0), MEMLINK_NOT_TRANSACTED);
  EXPECT_EQ(Sent(), (std::vector<Bytes>{kSelect3W, kSelect3W}));
}

TEST_F(MemlinkTest, ARemovedCardEndsTheHandlesState) {
  cards::CardSpec spec = Spec(CardKind::kI2c, {0x82});
  Insert(spec);
  const Geometry geometry = I2c(8, 1, 256);
  ASSERT_EQ(MemI2CSetType(card_, geometry.bytes, 0), MEMLINK_OK);
  uint8_t buffer[1] = {};
  ASSERT_EQ(MemI2CRead(card_, buffer, 1, 0, 1), MEMLINK_OK);
  sim::RemoveCard(kReader);
  EXPECT_EQ(MemI2CRead(card_, buffer, 1, 0, 1), pcsc::kRemovedCard);
  sim::ClearCalls();
  EXPECT_EQ(MemI2CRead(card_, buffer, 1, 0, 1), MEMLINK_NOT_TRANSACTED);  // geometry forgotten
  EXPECT_TRUE(Sent().empty());
}

// ---- Codes ----

TEST_F(MemlinkTest, ChangePresentsTheOldCodeThenChangesIt) {
  Insert(TwoWire());
  const uint8_t fresh[] = {0x65, 0x43, 0x21};
  ASSERT_EQ(Mem2WChange(card_, 3, kPin2W.data(), 3, fresh), MEMLINK_OK);
  EXPECT_EQ(Sent(), (std::vector<Bytes>{kSelect2W,
                                        {0xFF, 0x20, 0x00, 0x00, 0x03, 0x12, 0x34, 0x56},
                                        {0xFF, 0xD2, 0x00, 0x01, 0x03, 0x65, 0x43, 0x21}}));
  sim::ClearCalls();
  EXPECT_EQ(Mem2WChange(card_, 3, kPin2W.data(), 3, fresh), MEMLINK_WRONG_PIN);
  EXPECT_EQ(Sent().size(), 1u);  // no change after a wrong old code
  uint8_t counter = 0;
  ASSERT_EQ(Mem2WReadErrorCounter(card_, &counter), MEMLINK_OK);
  EXPECT_EQ(counter, 3);
  EXPECT_EQ(Mem2WVerify(card_, 3, fresh), MEMLINK_OK);
}

TEST_F(MemlinkTest, ThreeWireCodesAndTheirCounter) {
  cards::CardSpec spec = Spec(CardKind::kThreeWire, {0x92});
  spec.pin = {0xAB, 0xCD};
  Insert(spec);
  const uint8_t wrong[] = {0x00, 0x00};
  const uint8_t right[] = {0xAB, 0xCD};
  const uint8_t fresh[] = {0x11, 0x22};
  EXPECT_EQ(Mem3WVerify(card_, 2, wrong), MEMLINK_WRONG_PIN);
  uint8_t area[4] = {};
  ASSERT_EQ(Mem3WRead(card_, 4, area, 0x3FC), MEMLINK_OK);
  EXPECT_EQ(Bytes(area, area + 4), (Bytes{0xFF, 0xFE, 0x00, 0x00}));
  ASSERT_EQ(Mem3WChange(card_, 2, right, 2, fresh), MEMLINK_OK);
  const uint8_t probe[] = {0x5A, 0xA5};
  EXPECT_EQ(Mem3WWrite(card_, 2, probe, 0x3FE, 0), MEMLINK_NOT_TRANSACTED);
  EXPECT_EQ(Mem3WWrite(card_, 2, probe, 0x100, 0), MEMLINK_OK);
  const std::vector<Bytes> sent = Sent();
  ASSERT_EQ(sent.size(), 7u);
  EXPECT_EQ(sent[1], (Bytes{0xFF, 0x20, 0x00, 0x00, 0x02, 0x00, 0x00}));
  EXPECT_EQ(sent[4], (Bytes{0xFF, 0xD2, 0x00, 0x01, 0x02, 0x11, 0x22}));
}

TEST_F(MemlinkTest, ABlockedCodeIsReportedAsBlocked) {
  cards::CardSpec spec = TwoWire();
  spec.error_counter = 0;
  Insert(spec);
  EXPECT_EQ(Mem2WVerify(card_, 3, kPin2W.data()), MEMLINK_PIN_BLOCKED);
}

// ---- I2C geometry ----

TEST_F(MemlinkTest, I2cTransfersStayInsideTheGeometryWithoutAskingTheCard) {
  cards::CardSpec spec = Spec(CardKind::kI2c, Memory(512));
  spec.memory_size = 512;
  Insert(spec);
  uint8_t buffer[16] = {};
  EXPECT_EQ(MemI2CRead(card_, buffer, 16, 0, 1), MEMLINK_NOT_TRANSACTED);  // no geometry yet
  const Geometry geometry = I2c(8, 1, 256);
  ASSERT_EQ(MemI2CSetType(card_, geometry.bytes, 0), MEMLINK_OK);
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(MemI2CRead(card_, buffer, 16, 256, 1), MEMLINK_NOT_TRANSACTED);
  EXPECT_EQ(MemI2CRead(card_, buffer, 16, 250, 7), MEMLINK_NOT_TRANSACTED);
  EXPECT_EQ(MemI2CWrite(card_, buffer, 16, 255, 2), MEMLINK_NOT_TRANSACTED);
  EXPECT_EQ(MemI2CRead(card_, buffer, 16, 0xFFFFFFFF, 2), MEMLINK_NOT_TRANSACTED);
  EXPECT_TRUE(Sent().empty());
  ASSERT_EQ(MemI2CRead(card_, buffer, 16, 250, 6), MEMLINK_OK);
  EXPECT_EQ(buffer[5], Memory(512)[255]);
  // The size probe of a card that is smaller than the geometry: the card refuses.
  const Geometry larger = I2c(8, 1, 1024);
  ASSERT_EQ(MemI2CSetType(card_, larger.bytes, 0), MEMLINK_OK);
  EXPECT_EQ(MemI2CRead(card_, buffer, 1, 1023, 1), MEMLINK_NOT_TRANSACTED);
  EXPECT_EQ(Sent().back(), (Bytes{0xFF, 0xB0, 0x03, 0xFF, 0x01}));
}

struct GeometryCase {
  const char* what;
  Geometry record;
  uint32_t status;
};

TEST_F(MemlinkTest, InvalidGeometryRecordsAreRefusedAndKeepThePreviousOne) {
  Insert(Spec(CardKind::kI2c, Memory(256)));
  const GeometryCase cases[] = {
      {"kind 7", I2c(7, 1, 256), pcsc::kInvalidValue},
      {"width 0", I2c(8, 0, 256), pcsc::kInvalidValue},
      {"width 3", I2c(8, 3, 256), pcsc::kInvalidValue},
      {"size 0", I2c(8, 1, 0), pcsc::kInvalidValue},
      {"size 65537", I2c(8, 2, 65537), pcsc::kInvalidValue},
      {"size 65536", I2c(8, 2, 65536), MEMLINK_OK},
      {"size 128", I2c(8, 1, 128), MEMLINK_OK},
  };
  for (const GeometryCase& c : cases)
    EXPECT_EQ(MemI2CSetType(card_, c.record.bytes, 0), c.status) << c.what;
  uint8_t buffer[1] = {};
  EXPECT_EQ(MemI2CRead(card_, buffer, 1, 127, 1), MEMLINK_OK);
  EXPECT_EQ(MemI2CRead(card_, buffer, 1, 128, 1), MEMLINK_NOT_TRANSACTED);
  const Geometry wrong = I2c(8, 5, 4096);
  EXPECT_EQ(MemI2CSetType(card_, wrong.bytes, 0), pcsc::kInvalidValue);
  EXPECT_EQ(MemI2CRead(card_, buffer, 1, 128, 1), MEMLINK_NOT_TRANSACTED);
}

// ---- Arguments ----

TEST_F(MemlinkTest, BadArgumentsAreRefusedBeforeAnythingIsSent) {
  Insert(TwoWire());
  uint8_t buffer[8] = {};
  const Geometry geometry = I2c(8, 1, 256);
  EXPECT_EQ(Mem2WRead(card_, 1, nullptr, 0), pcsc::kInvalidParameter);
  EXPECT_EQ(Mem2WWrite(card_, 1, nullptr, 0), pcsc::kInvalidParameter);
  EXPECT_EQ(Mem2WReadProtect(card_, 4, nullptr), pcsc::kInvalidParameter);
  EXPECT_EQ(Mem2WReadProtect(card_, 3, buffer), pcsc::kInvalidValue);
  EXPECT_EQ(Mem2WVerify(card_, 3, nullptr), pcsc::kInvalidParameter);
  EXPECT_EQ(Mem2WVerify(card_, 2, buffer), pcsc::kInvalidValue);
  EXPECT_EQ(Mem2WChange(card_, 3, nullptr, 3, buffer), pcsc::kInvalidParameter);
  EXPECT_EQ(Mem2WChange(card_, 3, buffer, 2, buffer), pcsc::kInvalidValue);
  EXPECT_EQ(Mem2WReadErrorCounter(card_, nullptr), pcsc::kInvalidParameter);
  EXPECT_EQ(Mem3WRead(card_, 1, nullptr, 0), pcsc::kInvalidParameter);
  EXPECT_EQ(Mem3WWrite(card_, 1, buffer, 0, 1), pcsc::kInvalidValue);
  EXPECT_EQ(Mem3WVerify(card_, 3, buffer), pcsc::kInvalidValue);
  EXPECT_EQ(Mem3WChange(card_, 2, buffer, 3, buffer), pcsc::kInvalidValue);
  EXPECT_EQ(MemI2CSetType(card_, nullptr, 0), pcsc::kInvalidParameter);
  ASSERT_EQ(MemI2CSetType(card_, geometry.bytes, 0), MEMLINK_OK);
  EXPECT_EQ(MemI2CRead(card_, nullptr, 8, 0, 1), pcsc::kInvalidParameter);
  EXPECT_EQ(MemI2CRead(card_, buffer, 8, 0, 9), pcsc::kInvalidValue);
  EXPECT_EQ(MemI2CWrite(card_, buffer, 2, 0, 3), pcsc::kInvalidValue);
  EXPECT_EQ(Mem2WRead(card_, 2, buffer, 0xFFFF), MEMLINK_NOT_TRANSACTED);  // beyond AH AL
  EXPECT_EQ(Mem2WRead(card_, 0, buffer, 0), MEMLINK_OK);
  EXPECT_TRUE(Sent().empty());
}

}  // namespace
