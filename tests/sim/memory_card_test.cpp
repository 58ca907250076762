// SPDX-License-Identifier: BSD-3-Clause
// The memory-card models (2-wire, 3-wire, I2C) with the reader's storage-card commands: type
// selection, memory ranges, codes and error counters, protection bits, the I2C variants, and
// the answer to reset the reader reports for them.
#include "sim/cards/memory_card.h"

#include <gtest/gtest.h>

#include "pcsc/pcsc.h"
#include "sim/sim.h"

namespace {

using cards::Bytes;
using cards::CardKind;

constexpr uint8_t kTwoWire = 0x06;
constexpr uint8_t kThreeWire = 0x05;
constexpr uint8_t kI2cShort = 0x01;
constexpr uint8_t kI2cLong = 0x02;

const Bytes kOk = {0x90, 0x00};
const Bytes kWrongType = {0x6A, 0x81};
const Bytes kOutside = {0x6B, 0x00};
const Bytes kNotAllowed = {0x69, 0x82};
const Bytes kBlocked = {0x69, 0x83};
const Bytes kNoSuchCommand = {0x6D, 0x00};

Bytes SelectType(uint8_t type) {
  return {0xFF, 0xA4, 0x00, 0x00, 0x01, type};
}
Bytes Read(uint32_t address, uint8_t count) {
  return {0xFF, 0xB0, static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address), count};
}
Bytes Write(uint32_t address, const Bytes& data) {
  Bytes apdu = {0xFF, 0xD0, static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address),
                static_cast<uint8_t>(data.size())};
  apdu.reserve(apdu.size() + data.size());
  apdu.insert(apdu.end(), data.begin(), data.end());
  return apdu;
}
Bytes Present(const Bytes& code) {
  Bytes apdu = {0xFF, 0x20, 0x00, 0x00, static_cast<uint8_t>(code.size())};
  apdu.reserve(apdu.size() + code.size());
  apdu.insert(apdu.end(), code.begin(), code.end());
  return apdu;
}
Bytes Change(const Bytes& code) {
  Bytes apdu = {0xFF, 0xD2, 0x00, 0x01, static_cast<uint8_t>(code.size())};
  apdu.reserve(apdu.size() + code.size());
  apdu.insert(apdu.end(), code.begin(), code.end());
  return apdu;
}
Bytes WithOk(Bytes data) {
  data.insert(data.end(), kOk.begin(), kOk.end());
  return data;
}

cards::CardSpec Spec(CardKind kind, Bytes memory = {}) {
  cards::CardSpec spec;
  spec.kind = kind;
  spec.memory = std::move(memory);
  return spec;
}

const Bytes kHeader2W = {0xA2, 0x13, 0x10, 0x91};
const Bytes kPin2W = {0x12, 0x34, 0x56};
const Bytes kPin3W = {0xAB, 0xCD};

// A card of `spec`, powered, with `type` selected.
std::unique_ptr<cards::Card> Selected(const cards::CardSpec& spec, uint8_t type) {
  auto card = cards::MakeCard(spec);
  EXPECT_NE(card, nullptr);
  EXPECT_EQ(card->Process(SelectType(type)), kOk);
  return card;
}

// ---- Answer to reset ----

TEST(MemoryCardAtrTest, TheReaderReportsTheHeaderOrI2cForMemoryCards) {
  EXPECT_EQ(cards::MakeCard(Spec(CardKind::kTwoWire, kHeader2W))->Atr(),
            (Bytes{0x3B, 0x04, 0xA2, 0x13, 0x10, 0x91}));
  EXPECT_EQ(cards::MakeCard(Spec(CardKind::kThreeWire, {0x92, 0x23, 0x10, 0x91}))->Atr(),
            (Bytes{0x3B, 0x04, 0x92, 0x23, 0x10, 0x91}));
  EXPECT_EQ(cards::MakeCard(Spec(CardKind::kI2c, {0x82, 0x01}))->Atr(),
            (Bytes{0x3B, 0x04, 0x49, 0x32, 0x43, 0x2E}));
  EXPECT_EQ(cards::MakeCard(Spec(CardKind::kTwoWire))->Atr(),
            (Bytes{0x3B, 0x04, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(MemoryCardAtrTest, AWrittenHeaderShowsAfterTheNextReset) {
  cards::CardSpec spec = Spec(CardKind::kThreeWire, {0x92, 0x23, 0x10, 0x91});
  spec.pin_area_plain = true;
  auto card = Selected(spec, kThreeWire);
  ASSERT_EQ(card->Process(Write(0, {0x11})), kOk);
  EXPECT_EQ(card->Atr()[2], 0x92);
  card->Reset();
  EXPECT_EQ(card->Atr(), (Bytes{0x3B, 0x04, 0x11, 0x23, 0x10, 0x91}));
}

// ---- SELECT CARD TYPE ----

struct SelectCase {
  CardKind kind;
  uint8_t type;
  bool fits;
};

TEST(MemoryCardSelectTest, OnlyTheCardsOwnFamilyCanBeSelected) {
  const SelectCase cases[] = {
      {CardKind::kTwoWire, kTwoWire, true},    {CardKind::kTwoWire, kThreeWire, false},
      {CardKind::kTwoWire, kI2cShort, false},  {CardKind::kThreeWire, kThreeWire, true},
      {CardKind::kThreeWire, kTwoWire, false}, {CardKind::kThreeWire, kI2cLong, false},
      {CardKind::kI2c, kI2cShort, true},       {CardKind::kI2c, kI2cLong, true},
      {CardKind::kI2c, kTwoWire, false},       {CardKind::kI2c, 0x07, false},
  };
  for (const SelectCase& c : cases) {
    auto card = cards::MakeCard(Spec(c.kind, {0x42}));
    const Bytes answer = card->Process(SelectType(c.type));
    EXPECT_EQ(answer, c.fits ? kOk : kWrongType) << int(c.kind) << " type " << int(c.type);
    EXPECT_EQ(card->Process(Read(0, 1)), c.fits ? WithOk({0x42}) : kWrongType)
        << int(c.kind) << " type " << int(c.type);
  }
}

TEST(MemoryCardSelectTest, MemoryCommandsNeedATypeSelectedInThisPowerCycle) {
  auto card = cards::MakeCard(Spec(CardKind::kTwoWire, kHeader2W));
  EXPECT_EQ(card->Process(Read(0, 4)), kWrongType);
  EXPECT_EQ(card->Process({0xFF, 0xB2, 0x00, 0x00, 0x04}), kWrongType);
  ASSERT_EQ(card->Process(SelectType(kTwoWire)), kOk);
  EXPECT_EQ(card->Process(Read(0, 4)), WithOk(kHeader2W));
  card->Reset();
  EXPECT_EQ(card->Process(Read(0, 4)), kWrongType);
  ASSERT_EQ(card->Process(SelectType(kTwoWire)), kOk);
  ASSERT_EQ(card->Process(SelectType(kI2cShort)), kWrongType);  // a failed select leaves none
  EXPECT_EQ(card->Process(Read(0, 4)), kWrongType);
}

TEST(MemoryCardSelectTest, MalformedAndForeignCommands) {
  auto card = Selected(Spec(CardKind::kI2c), kI2cShort);
  EXPECT_EQ(card->Process({0xFF, 0xA4, 0x00, 0x00, 0x02, 0x01, 0x00}), (Bytes{0x67, 0x00}));
  EXPECT_EQ(card->Process({0xFF, 0xA4, 0x01, 0x00, 0x01, 0x01}), (Bytes{0x6A, 0x86}));
  EXPECT_EQ(card->Process({0x00, 0xB0, 0x00, 0x00, 0x01}), (Bytes{0x6E, 0x00}));
  EXPECT_EQ(card->Process({0xFF, 0xCA, 0x00, 0x00, 0x00}), kNoSuchCommand);
  EXPECT_EQ(card->Process({0xFF, 0xB0, 0x00}), (Bytes{0x67, 0x00}));
  EXPECT_EQ(card->Process({0xFF, 0xB0, 0x00, 0x00, 0x01, 0x00}), (Bytes{0x67, 0x00}));
  EXPECT_EQ(card->Process({0xFF, 0xD0, 0x00, 0x00, 0x02, 0x01}), (Bytes{0x67, 0x00}));
  // The 2-wire commands and the code are not there on an I2C card.
  EXPECT_EQ(card->Process({0xFF, 0xB2, 0x00, 0x00, 0x04}), kNoSuchCommand);
  EXPECT_EQ(card->Process({0xFF, 0xB1, 0x00, 0x00, 0x04}), kNoSuchCommand);
  EXPECT_EQ(card->Process(Present({0x01, 0x02})), kNoSuchCommand);
}

TEST(MemoryCardSelectTest, ScriptedAnswersComeFirst) {
  cards::CardSpec spec = Spec(CardKind::kTwoWire);
  spec.script[Read(0, 4)] = {0x6F, 0x00};
  auto card = Selected(spec, kTwoWire);
  EXPECT_EQ(card->Process(Read(0, 4)), (Bytes{0x6F, 0x00}));
}

// ---- Memory ranges ----

struct RangeCase {
  const char* what;
  CardKind kind;
  uint32_t memory_size;  // 0 = the family's
  uint32_t address;
  uint8_t count;
  bool inside;
};

TEST(MemoryCardRangeTest, ReadsInsideTheMemoryAnswerAndOthersAre6B00) {
  const RangeCase cases[] = {
      {"2-wire last byte", CardKind::kTwoWire, 0, 255, 1, true},
      {"2-wire N 00 is 256", CardKind::kTwoWire, 0, 0, 0, true},
      {"2-wire past the end", CardKind::kTwoWire, 0, 255, 2, false},
      {"2-wire address 256", CardKind::kTwoWire, 0, 256, 1, false},
      {"3-wire last byte", CardKind::kThreeWire, 0, 1023, 1, true},
      {"3-wire address 1024", CardKind::kThreeWire, 0, 1024, 1, false},
      {"I2C default 256", CardKind::kI2c, 0, 256, 1, false},
      {"I2C 128", CardKind::kI2c, 128, 127, 1, true},
      {"I2C 128 past the end", CardKind::kI2c, 128, 128, 1, false},
      {"I2C 2048 last byte", CardKind::kI2c, 2048, 2047, 1, true},
      {"I2C 2048 past the end", CardKind::kI2c, 2048, 2048, 1, false},
      {"I2C 65536 last byte", CardKind::kI2c, 65536, 0xFFFF, 1, true},
      {"I2C 65536 last 256", CardKind::kI2c, 65536, 0xFF00, 0, true},
      {"I2C below 128 is 128", CardKind::kI2c, 16, 127, 1, true},
  };
  for (const RangeCase& c : cases) {
    cards::CardSpec spec = Spec(c.kind);
    spec.memory_size = c.memory_size;
    spec.pin_area_plain = true;
    const uint8_t type = c.kind == CardKind::kTwoWire
                             ? kTwoWire
                             : (c.kind == CardKind::kThreeWire ? kThreeWire : kI2cShort);
    auto card = Selected(spec, type);
    if (c.kind == CardKind::kTwoWire) {
      ASSERT_EQ(card->Process(Present({0xFF, 0xFF, 0xFF})), kOk);
    }
    const Bytes answer = card->Process(Read(c.address, c.count));
    const size_t expected = c.count == 0 ? 256 : c.count;
    if (c.inside) {
      EXPECT_EQ(answer, WithOk(Bytes(expected, 0xFF))) << c.what;
    } else {
      EXPECT_EQ(answer, kOutside) << c.what;
    }
    EXPECT_EQ(card->Process(Write(c.address, Bytes(c.count == 0 ? 256 : c.count, 0x00))),
              c.inside ? kOk : kOutside)
        << c.what;
  }
}

TEST(MemoryCardRangeTest, ContentsOutliveResetsAndTheSpecStaysAsItWas) {
  auto card = Selected(Spec(CardKind::kI2c, {0x82, 0x01, 0x02}), kI2cShort);
  ASSERT_EQ(card->Process(Write(1, {0xAA, 0xBB, 0xCC})), kOk);
  card->Reset();
  ASSERT_EQ(card->Process(SelectType(kI2cShort)), kOk);
  EXPECT_EQ(card->Process(Read(0, 5)), WithOk({0x82, 0xAA, 0xBB, 0xCC, 0xFF}));
  EXPECT_EQ(card->spec().memory, (Bytes{0x82, 0x01, 0x02}));
}

// ---- 2-wire cards ----

cards::CardSpec TwoWire() {
  cards::CardSpec spec = Spec(CardKind::kTwoWire, kHeader2W);
  spec.pin = kPin2W;
  return spec;
}

Bytes ErrorCounter(cards::Card& card) {
  return card.Process({0xFF, 0xB1, 0x00, 0x00, 0x04});
}

TEST(MemoryCardTwoWireTest, WrongCodesCountDownThreeTwoOneAndThenBlock) {
  auto card = Selected(TwoWire(), kTwoWire);
  EXPECT_EQ(ErrorCounter(*card), WithOk({0x07, 0x00, 0x00, 0x00}));
  const Bytes wrong = {0x00, 0x00, 0x00};
  EXPECT_EQ(card->Process(Present(wrong)), (Bytes{0x63, 0xC2}));
  EXPECT_EQ(ErrorCounter(*card), WithOk({0x03, 0x00, 0x00, 0x00}));
  EXPECT_EQ(card->Process(Present(wrong)), (Bytes{0x63, 0xC1}));
  EXPECT_EQ(ErrorCounter(*card), WithOk({0x01, 0x00, 0x00, 0x00}));
  EXPECT_EQ(card->Process(Present(wrong)), (Bytes{0x63, 0xC0}));
  EXPECT_EQ(ErrorCounter(*card), WithOk({0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(card->Process(Present(kPin2W)), kBlocked);
  card->Reset();
  ASSERT_EQ(card->Process(SelectType(kTwoWire)), kOk);
  EXPECT_EQ(card->Process(Present(kPin2W)), kBlocked);  // the counter is in the card's EEPROM
}

TEST(MemoryCardTwoWireTest, TheRightCodeRestoresTheTriesAndShowsTheCode) {
  cards::CardSpec spec = TwoWire();
  spec.error_counter = 1;
  auto card = Selected(spec, kTwoWire);
  EXPECT_EQ(card->Process(Present(kPin2W)), kOk);
  EXPECT_EQ(ErrorCounter(*card), WithOk({0x07, 0x12, 0x34, 0x56}));
  EXPECT_EQ(card->Process(Present({0x12, 0x34})), (Bytes{0x67, 0x00}));
}

TEST(MemoryCardTwoWireTest, WritesNeedTheCodeOfThisPowerCycle) {
  auto card = Selected(TwoWire(), kTwoWire);
  EXPECT_EQ(card->Process(Write(0x40, {0x01})), kNotAllowed);
  ASSERT_EQ(card->Process(Present(kPin2W)), kOk);
  EXPECT_EQ(card->Process(Write(0x40, {0x01, 0x02})), kOk);
  EXPECT_EQ(card->Process(Read(0x40, 2)), WithOk({0x01, 0x02}));
  ASSERT_EQ(card->Process(SelectType(kTwoWire)), kOk);  // selecting again powers the card up
  EXPECT_EQ(card->Process(Write(0x40, {0x03})), kNotAllowed);
  ASSERT_EQ(card->Process(Present(kPin2W)), kOk);
  card->Reset();
  ASSERT_EQ(card->Process(SelectType(kTwoWire)), kOk);
  EXPECT_EQ(card->Process(Write(0x40, {0x03})), kNotAllowed);
  EXPECT_EQ(card->Process(Read(0x40, 2)), WithOk({0x01, 0x02}));
}

TEST(MemoryCardTwoWireTest, ProtectionBitsGuardTheFirst32BytesForGood) {
  cards::CardSpec spec = TwoWire();
  spec.protection = 0xFFFFFFFE;  // address 0 protected
  auto card = Selected(spec, kTwoWire);
  const Bytes read_bits = {0xFF, 0xB2, 0x00, 0x00, 0x04};
  EXPECT_EQ(card->Process(read_bits), WithOk({0xFE, 0xFF, 0xFF, 0xFF}));
  ASSERT_EQ(card->Process(Present(kPin2W)), kOk);
  EXPECT_EQ(card->Process(Write(0, {0xA2})), kNotAllowed);
  EXPECT_EQ(card->Process(Write(1, {0x77})), kOk);
  // Protecting address 9 (value FF) needs its value; a wrong one is refused.
  EXPECT_EQ(card->Process({0xFF, 0xD1, 0x00, 0x09, 0x01, 0x00}), (Bytes{0x6A, 0x80}));
  EXPECT_EQ(card->Process({0xFF, 0xD1, 0x00, 0x09, 0x01, 0xFF}), kOk);
  EXPECT_EQ(card->Process({0xFF, 0xD1, 0x00, 0x20, 0x01, 0xFF}), kOutside);
  EXPECT_EQ(card->Process(read_bits), WithOk({0xFE, 0xFD, 0xFF, 0xFF}));
  EXPECT_EQ(card->Process(Write(8, {0x00, 0x00})), kNotAllowed);  // covers 9: nothing written
  EXPECT_EQ(card->Process(Read(8, 2)), WithOk({0xFF, 0xFF}));
  EXPECT_EQ(card->Process(Write(32, {0x00})), kOk);  // beyond the protected area
  card->Reset();
  ASSERT_EQ(card->Process(SelectType(kTwoWire)), kOk);
  EXPECT_EQ(card->Process(read_bits), WithOk({0xFE, 0xFD, 0xFF, 0xFF}));
  EXPECT_EQ(card->Process({0xFF, 0xD1, 0x00, 0x0A, 0x01, 0xFF}), kNotAllowed);  // no code
}

TEST(MemoryCardTwoWireTest, ChangeCodeNeedsThePresentedCode) {
  auto card = Selected(TwoWire(), kTwoWire);
  const Bytes fresh = {0x65, 0x43, 0x21};
  EXPECT_EQ(card->Process(Change(fresh)), kNotAllowed);
  ASSERT_EQ(card->Process(Present(kPin2W)), kOk);
  // P2 00 carries the old code as well: three bytes are too few.
  EXPECT_EQ(card->Process({0xFF, 0xD2, 0x00, 0x00, 0x03, 0x65, 0x43, 0x21}), (Bytes{0x67, 0x00}));
  EXPECT_EQ(card->Process({0xFF, 0xD2, 0x00, 0x02, 0x03, 0x65, 0x43, 0x21}), (Bytes{0x6A, 0x86}));
  EXPECT_EQ(card->Process(Change(fresh)), kOk);
  card->Reset();
  ASSERT_EQ(card->Process(SelectType(kTwoWire)), kOk);
  EXPECT_EQ(card->Process(Present(kPin2W)), (Bytes{0x63, 0xC2}));
  EXPECT_EQ(card->Process(Present(fresh)), kOk);
}

TEST(MemoryCardTwoWireTest, TheTransportCodeIsAllFF) {
  auto card = Selected(Spec(CardKind::kTwoWire), kTwoWire);
  EXPECT_EQ(card->Process(Present({0xFF, 0xFF, 0xFF})), kOk);
}

// ---- 3-wire cards ----

cards::CardSpec ThreeWire() {
  cards::CardSpec spec = Spec(CardKind::kThreeWire, {0x92, 0x23, 0x10, 0x91});
  spec.pin = kPin3W;
  return spec;
}

TEST(MemoryCardThreeWireTest, TheCounterIsMemoryAndTheCodeAreaReadsZero) {
  auto card = Selected(ThreeWire(), kThreeWire);
  EXPECT_EQ(card->Process(Read(0x3FC, 4)), WithOk({0xFF, 0xFF, 0x00, 0x00}));
  EXPECT_EQ(card->Process(Write(0x3FE, {0x5A, 0xA5})), kNotAllowed);
  ASSERT_EQ(card->Process(Present(kPin3W)), kOk);
  EXPECT_EQ(card->Process(Write(0x3FE, {0x5A, 0xA5})), kNotAllowed);
  EXPECT_EQ(card->Process(Write(0x3FD, {0xFF})), kNotAllowed);
  EXPECT_EQ(card->Process(Write(0x3FC, {0x01, 0x02})), kNotAllowed);  // reaches the counter
  EXPECT_EQ(card->Process(Write(0x3FB, {0x01})), kOk);
  EXPECT_EQ(card->Process(Read(0x3FB, 5)), WithOk({0x01, 0xFF, 0xFF, 0x00, 0x00}));
}

TEST(MemoryCardThreeWireTest, EightTriesEachClearingOneMoreBit) {
  auto card = Selected(ThreeWire(), kThreeWire);
  const uint8_t counters[] = {0xFE, 0xFC, 0xF8, 0xF0, 0xE0, 0xC0, 0x80, 0x00};
  for (uint8_t i = 0; i < 8; ++i) {
    EXPECT_EQ(card->Process(Present({0x00, 0x00})), (Bytes{0x63, static_cast<uint8_t>(0xC7 - i)}));
    EXPECT_EQ(card->Process(Read(0x3FD, 1)), WithOk({counters[i]}));
  }
  EXPECT_EQ(card->Process(Present(kPin3W)), kBlocked);
}

TEST(MemoryCardThreeWireTest, TheRightCodeRestoresTheCounterAndAllowsChanges) {
  cards::CardSpec spec = ThreeWire();
  spec.error_counter = 0xF8;
  auto card = Selected(spec, kThreeWire);
  EXPECT_EQ(card->Process(Present({0x00, 0x00})), (Bytes{0x63, 0xC4}));
  EXPECT_EQ(card->Process(Present(kPin3W)), kOk);
  EXPECT_EQ(card->Process(Read(0x3FD, 1)), WithOk({0xFF}));
  EXPECT_EQ(card->Process(Change({0x11, 0x22})), kOk);
  card->Reset();
  ASSERT_EQ(card->Process(SelectType(kThreeWire)), kOk);
  EXPECT_EQ(card->Process(Present({0x11, 0x22})), kOk);
}

TEST(MemoryCardThreeWireTest, WithoutACodeTheLastBytesArePlainMemory) {
  cards::CardSpec spec = Spec(CardKind::kThreeWire, {0x92});
  spec.pin_area_plain = true;
  auto card = Selected(spec, kThreeWire);
  EXPECT_EQ(card->Process(Read(0x3FD, 3)), WithOk({0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(card->Process(Write(0x3FE, {0x5A, 0xA5})), kOk);
  EXPECT_EQ(card->Process(Read(0x3FE, 2)), WithOk({0x5A, 0xA5}));
  EXPECT_EQ(card->Process(Present({0x5A, 0xA5})), kNoSuchCommand);
  EXPECT_EQ(card->Process({0xFF, 0xB2, 0x00, 0x00, 0x04}), kNoSuchCommand);
}

// ---- I2C cards ----

TEST(MemoryCardI2cTest, TheOtherAddressWidthReadsButDropsWrites) {
  cards::CardSpec spec = Spec(CardKind::kI2c, {0x82, 0x01});
  spec.address_width = 2;
  spec.memory_size = 4096;
  auto card = Selected(spec, kI2cShort);
  EXPECT_EQ(card->Process(Read(0, 2)), WithOk({0x82, 0x01}));
  EXPECT_EQ(card->Process(Write(0, {0x7D})), kOk);
  EXPECT_EQ(card->Process(Read(0, 1)), WithOk({0x82}));
  ASSERT_EQ(card->Process(SelectType(kI2cLong)), kOk);
  EXPECT_EQ(card->Process(Write(0xFFF, {0x7D})), kOk);
  EXPECT_EQ(card->Process(Read(0xFFF, 1)), WithOk({0x7D}));
}

TEST(MemoryCardI2cTest, AFixedFirstByteAcknowledgesWritesAndKeepsItsValue) {
  cards::CardSpec spec = Spec(CardKind::kI2c, {0x82, 0x01, 0x02});
  spec.first_byte_fixed = true;
  auto card = Selected(spec, kI2cShort);
  EXPECT_EQ(card->Process(Write(0, {0x7D, 0x7E})), kOk);
  EXPECT_EQ(card->Process(Read(0, 3)), WithOk({0x82, 0x7E, 0x02}));
}

// ---- In a simulated reader ----

class MemoryCardInReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    sim::AddReader({kReader});
    ASSERT_EQ(pcsc::SCardEstablishContext(pcsc::kScopeUser, &context_), pcsc::kSuccess);
  }
  Bytes Transmit(pcsc::CardHandle card, uint32_t protocol, const Bytes& apdu) {
    const pcsc::IoRequest pci{protocol, sizeof(pcsc::IoRequest)};
    uint8_t buffer[258];
    uint32_t length = sizeof buffer;
    if (pcsc::SCardTransmit(card, &pci, apdu.data(), static_cast<uint32_t>(apdu.size()), nullptr,
                            buffer, &length) != pcsc::kSuccess) {
      return {};
    }
    return Bytes(buffer, buffer + length);
  }
  static constexpr char kReader[] = "TREVANO Kelvane Birch 0";
  pcsc::Context context_ = 0;
};

TEST_F(MemoryCardInReaderTest, StatusAndAttributeReportTheMadeAnswerToReset) {
  sim::InsertCard(kReader, Spec(CardKind::kTwoWire, kHeader2W));
  const Bytes expected = {0x3B, 0x04, 0xA2, 0x13, 0x10, 0x91};
  pcsc::ReaderState state{};
  state.reader = kReader;
  ASSERT_EQ(pcsc::SCardGetStatusChangeA(context_, 0, &state, 1), pcsc::kSuccess);
  EXPECT_EQ(Bytes(state.atr, state.atr + state.atr_length), expected);
  pcsc::CardHandle card = 0;
  uint32_t protocol = 0;
  ASSERT_EQ(pcsc::SCardConnectA(context_, kReader, pcsc::kShareShared,
                                pcsc::kProtocolT0 | pcsc::kProtocolT1, &card, &protocol),
            pcsc::kSuccess);
  EXPECT_EQ(protocol, pcsc::kProtocolT0);
  uint8_t atr[pcsc::kMaxAtrSize] = {};
  uint32_t atr_length = sizeof atr;
  ASSERT_EQ(pcsc::SCardGetAttrib(card, pcsc::kAttrAtrString, atr, &atr_length), pcsc::kSuccess);
  EXPECT_EQ(Bytes(atr, atr + atr_length), expected);
}

TEST_F(MemoryCardInReaderTest, AResetThroughReconnectKeepsTheMemoryAndDropsTheType) {
  sim::InsertCard(kReader, Spec(CardKind::kI2c, {0x82}));
  pcsc::CardHandle card = 0;
  uint32_t protocol = 0;
  ASSERT_EQ(pcsc::SCardConnectA(context_, kReader, pcsc::kShareShared,
                                pcsc::kProtocolT0 | pcsc::kProtocolT1, &card, &protocol),
            pcsc::kSuccess);
  ASSERT_EQ(Transmit(card, protocol, SelectType(kI2cShort)), kOk);
  ASSERT_EQ(Transmit(card, protocol, Write(1, {0x55})), kOk);
  ASSERT_EQ(pcsc::SCardReconnect(card, pcsc::kShareShared, pcsc::kProtocolT0, pcsc::kResetCard,
                                 &protocol),
            pcsc::kSuccess);
  EXPECT_EQ(Transmit(card, protocol, Read(0, 2)), kWrongType);
  ASSERT_EQ(Transmit(card, protocol, SelectType(kI2cShort)), kOk);
  EXPECT_EQ(Transmit(card, protocol, Read(0, 2)), WithOk({0x82, 0x55}));
}

// ---- CHANGE CODE with the old code (FF D2 00 00) ----

Bytes ChangeWithOld(const Bytes& old_code, const Bytes& new_code) {
  Bytes apdu = {0xFF, 0xD2, 0x00, 0x00, static_cast<uint8_t>(old_code.size() + new_code.size())};
  apdu.reserve(apdu.size() + old_code.size() + new_code.size());
  apdu.insert(apdu.end(), old_code.begin(), old_code.end());
  apdu.insert(apdu.end(), new_code.begin(), new_code.end());
  return apdu;
}

TEST(MemoryCardChangeWithOldTest, TwoWireRightOldCodeWritesTheNewOneWithoutPresenting) {
  auto card = Selected(TwoWire(), kTwoWire);
  const Bytes fresh = {0x65, 0x43, 0x21};
  EXPECT_EQ(card->Process(ChangeWithOld(kPin2W, fresh)), kOk);
  EXPECT_EQ(card->Process(Write(40, {0x01})), kOk);  // the code counts as presented
  card->Reset();
  ASSERT_EQ(card->Process(SelectType(kTwoWire)), kOk);
  EXPECT_EQ(card->Process(Present(fresh)), kOk);
}

TEST(MemoryCardChangeWithOldTest, AWrongOldCodeCostsATryAndChangesNothing) {
  cards::CardSpec spec = Spec(CardKind::kThreeWire);
  spec.pin = kPin3W;
  auto card = Selected(spec, kThreeWire);
  EXPECT_EQ(card->Process(ChangeWithOld({0x00, 0x00}, {0x11, 0x22})), (Bytes{0x63, 0xC7}));
  EXPECT_EQ(card->Process(Present(kPin3W)), kOk);
  EXPECT_EQ(card->Process(ChangeWithOld(kPin3W, {0x11})), (Bytes{0x67, 0x00}));
}

TEST(MemoryCardChangeWithOldTest, ABlockedCodeCannotBeChanged) {
  cards::CardSpec spec = TwoWire();
  spec.error_counter = 0;
  auto card = Selected(spec, kTwoWire);
  EXPECT_EQ(card->Process(ChangeWithOld(kPin2W, {0x65, 0x43, 0x21})), kBlocked);
}

}  // namespace
