// SPDX-License-Identifier: BSD-3-Clause
// The processor card model: scripted answers first, then the small file system (SELECT by file
// identifier, READ BINARY, UPDATE BINARY) with the status words of ISO 7816-4 for its mistakes,
// and the PIN with its counter (VERIFY, CHANGE REFERENCE DATA).
#include "sim/cards/card.h"

#include <gtest/gtest.h>

namespace {

using cards::Bytes;

cards::CardSpec SpecWithFiles() {
  cards::CardSpec spec;
  spec.files[0x2F02] = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15};
  spec.files[0x0101] = {0xAA, 0xBB};
  return spec;
}

class CardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    card_ = cards::MakeCard(SpecWithFiles());
    ASSERT_NE(card_, nullptr);
    card_->Reset();
  }
  Bytes Send(const Bytes& apdu) { return card_->Process(apdu); }
  Bytes SelectEf(uint16_t fid) {
    return Send({0x00, 0xA4, 0x02, 0x00, 0x02, static_cast<uint8_t>(fid >> 8),
                 static_cast<uint8_t>(fid & 0xFF)});
  }
  std::unique_ptr<cards::Card> card_;
};

const Bytes kOk = {0x90, 0x00};

// ---- SELECT ----

TEST_F(CardTest, SelectFindsListedFilesAndKeepsTheSelectionOnFailure) {
  EXPECT_EQ(Send({0x00, 0xA4, 0x00, 0x0C, 0x02, 0x3F, 0x00}), kOk);
  EXPECT_EQ(SelectEf(0x2F02), kOk);
  EXPECT_EQ(Send({0x00, 0xA4, 0x00, 0x00, 0x02, 0x01, 0x01}), kOk);
  EXPECT_EQ(SelectEf(0x4711), (Bytes{0x6A, 0x82}));
  EXPECT_EQ(Send({0x00, 0xA4, 0x04, 0x00, 0x02, 0x2F, 0x02}), (Bytes{0x6B, 0x00}));
  EXPECT_EQ(Send({0x00, 0xA4, 0x00, 0x00, 0x01, 0x2F}), (Bytes{0x67, 0x00}));
  EXPECT_EQ(Send({0x00, 0xB0, 0x00, 0x00, 0x00}), (Bytes{0xAA, 0xBB, 0x90, 0x00}));
}

// ---- READ BINARY ----

struct ReadCase {
  const char* what;
  Bytes apdu;
  Bytes expected;
};

TEST_F(CardTest, ReadBinaryHonoursOffsetAndLe) {
  const ReadCase cases[] = {
      {"Le 00 reads all",
       {0x00, 0xB0, 0x00, 0x00, 0x00},
       {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x90, 0x00}},
      {"no Le (T=0 form) reads all",
       {0x00, 0xB0, 0x00, 0x00},
       {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x90, 0x00}},
      {"Le shorter than the file", {0x00, 0xB0, 0x00, 0x01, 0x02}, {0x11, 0x12, 0x90, 0x00}},
      {"Le exactly the rest", {0x00, 0xB0, 0x00, 0x04, 0x02}, {0x14, 0x15, 0x90, 0x00}},
      {"Le beyond the end", {0x00, 0xB0, 0x00, 0x04, 0x05}, {0x14, 0x15, 0x62, 0x82}},
      {"offset at the end", {0x00, 0xB0, 0x00, 0x06, 0x01}, {0x6B, 0x00}},
      {"offset far beyond", {0x00, 0xB0, 0x01, 0x00, 0x01}, {0x6B, 0x00}},
      {"short EF identifier", {0x00, 0xB0, 0x81, 0x00, 0x01}, {0x6A, 0x81}},
      {"data field", {0x00, 0xB0, 0x00, 0x00, 0x01, 0x00}, {0x67, 0x00}},
  };
  ASSERT_EQ(SelectEf(0x2F02), kOk);
  for (const ReadCase& c : cases)
    EXPECT_EQ(Send(c.apdu), c.expected) << c.what;
}

TEST_F(CardTest, ReadBinaryNeedsASelectedElementaryFile) {
  EXPECT_EQ(Send({0x00, 0xB0, 0x00, 0x00, 0x00}), (Bytes{0x69, 0x86}));
  ASSERT_EQ(Send({0x00, 0xA4, 0x00, 0x00, 0x02, 0x3F, 0x00}), kOk);
  EXPECT_EQ(Send({0x00, 0xB0, 0x00, 0x00, 0x00}), (Bytes{0x69, 0x86}));
}

// ---- UPDATE BINARY ----

TEST_F(CardTest, UpdateBinaryWritesTheLiveCardAndSurvivesAReset) {
  ASSERT_EQ(SelectEf(0x2F02), kOk);
  EXPECT_EQ(Send({0x00, 0xD6, 0x00, 0x02, 0x02, 0xC0, 0xC1}), kOk);
  card_->Reset();
  EXPECT_EQ(Send({0x00, 0xB0, 0x00, 0x00, 0x00}), (Bytes{0x69, 0x86}));  // selection is lost
  ASSERT_EQ(SelectEf(0x2F02), kOk);
  EXPECT_EQ(Send({0x00, 0xB0, 0x00, 0x00, 0x00}),
            (Bytes{0x10, 0x11, 0xC0, 0xC1, 0x14, 0x15, 0x90, 0x00}));
  EXPECT_EQ(card_->spec().files.at(0x2F02)[2], 0x12);  // the CardSpec stays as it was
}

TEST_F(CardTest, UpdateBinaryRefusesWritesOutsideTheFile) {
  ASSERT_EQ(SelectEf(0x0101), kOk);
  EXPECT_EQ(Send({0x00, 0xD6, 0x00, 0x01, 0x02, 0x01, 0x02}), (Bytes{0x6A, 0x84}));
  EXPECT_EQ(Send({0x00, 0xD6, 0x00, 0x03, 0x01, 0x01}), (Bytes{0x6B, 0x00}));
  EXPECT_EQ(Send({0x00, 0xD6, 0x00, 0x00}), (Bytes{0x67, 0x00}));
  EXPECT_EQ(Send({0x00, 0xB0, 0x00, 0x00, 0x00}), (Bytes{0xAA, 0xBB, 0x90, 0x00}));
}

// ---- Everything else ----

TEST_F(CardTest, UnknownClassInstructionAndMalformedCommands) {
  EXPECT_EQ(Send({0x80, 0xB0, 0x00, 0x00, 0x00}), (Bytes{0x6E, 0x00}));
  EXPECT_EQ(Send({0x00, 0xCA, 0x00, 0x00, 0x00}), (Bytes{0x6D, 0x00}));
  EXPECT_EQ(Send({0x00, 0xB0, 0x00}), (Bytes{0x67, 0x00}));
  EXPECT_EQ(Send({0x00, 0xB0, 0x00, 0x00, 0x00, 0x01, 0x00}), (Bytes{0x67, 0x00}));  // extended
}

TEST(CardScriptTest, ScriptedAnswersComeFirstAndMatchExactly) {
  cards::CardSpec spec = SpecWithFiles();
  spec.script[{0x80, 0xCA, 0x9F, 0x7F, 0x00}] = {0x01, 0x02, 0x90, 0x00};
  spec.script[{0x00, 0xA4, 0x02, 0x00, 0x02, 0x2F, 0x02}] = {0x61, 0x10};
  auto card = cards::MakeCard(spec);
  EXPECT_EQ(card->Process({0x80, 0xCA, 0x9F, 0x7F, 0x00}), (Bytes{0x01, 0x02, 0x90, 0x00}));
  EXPECT_EQ(card->Process({0x80, 0xCA, 0x9F, 0x7F}), (Bytes{0x6E, 0x00}));
  EXPECT_EQ(card->Process({0x00, 0xA4, 0x02, 0x00, 0x02, 0x2F, 0x02}), (Bytes{0x61, 0x10}));
}

// Replayed answers go out in order to whatever comes, before the script and the card's own
// handling, and a reset does not start them again; both card families replay them.
TEST(CardScriptTest, RepliesAreReplayedInOrderOverResets) {
  const Bytes select = {0x00, 0xA4, 0x02, 0x00, 0x02, 0x2F, 0x02};
  const Bytes read_memory = {0xFF, 0xB0, 0x00, 0x00, 0x02};
  struct Case {
    cards::CardKind kind;
    Bytes later;     // a command once the replies are used up
    Bytes answered;  // the card's own answer to it
  };
  const Case cases[] = {
      {cards::CardKind::kProcessor, select, {0x61, 0x10}},     // the script's answer
      {cards::CardKind::kTwoWire, read_memory, {0x6A, 0x81}},  // no type selected yet
  };
  for (const Case& c : cases) {
    cards::CardSpec spec = SpecWithFiles();
    spec.kind = c.kind;
    spec.script[select] = {0x61, 0x10};
    spec.replies = {{0x6F, 0x00}, {}, {0x01}};
    auto card = cards::MakeCard(spec);
    EXPECT_EQ(card->Process(select), (Bytes{0x6F, 0x00}));
    card->Reset();
    EXPECT_EQ(card->Process({0x00}), Bytes{});
    EXPECT_EQ(card->Process(c.later), Bytes{0x01});
    EXPECT_EQ(card->Process(c.later), c.answered);
  }
}

// ---- The PIN: VERIFY and CHANGE REFERENCE DATA with a counter ----

const Bytes kPin = {0x12, 0x34, 0xFF, 0xFF};

cards::CardSpec SpecWithPin(int tries_left = -1) {
  cards::CardSpec spec;
  spec.pin = kPin;
  spec.pin_tries_left = tries_left;
  return spec;
}

Bytes Verify(const Bytes& pin) {
  Bytes apdu = {0x00, 0x20, 0x00, 0x81, static_cast<uint8_t>(pin.size())};
  apdu.reserve(apdu.size() + pin.size());
  apdu.insert(apdu.end(), pin.begin(), pin.end());
  return apdu;
}

Bytes ChangeReference(const Bytes& old_pin, const Bytes& new_pin) {
  Bytes apdu = {0x00, 0x24, 0x00, 0x81, static_cast<uint8_t>(old_pin.size() + new_pin.size())};
  apdu.reserve(apdu.size() + old_pin.size() + new_pin.size());
  apdu.insert(apdu.end(), old_pin.begin(), old_pin.end());
  apdu.insert(apdu.end(), new_pin.begin(), new_pin.end());
  return apdu;
}

TEST(CardPinTest, WrongPinsCountDownARightOneRestoresTheTries) {
  auto card = cards::MakeCard(SpecWithPin());
  const Bytes wrong = {0x43, 0x21, 0xFF, 0xFF};
  EXPECT_EQ(card->Process(Verify(wrong)), (Bytes{0x63, 0xC2}));
  EXPECT_EQ(card->Process(Verify(wrong)), (Bytes{0x63, 0xC1}));
  EXPECT_EQ(card->Process({0x00, 0x20, 0x00, 0x81}), (Bytes{0x63, 0xC1}));  // asks, costs none
  EXPECT_EQ(card->Process(Verify(kPin)), kOk);
  EXPECT_EQ(card->Process(Verify(wrong)), (Bytes{0x63, 0xC2}));
}

TEST(CardPinTest, TheLastWrongPinBlocksAndSurvivesAReset) {
  auto card = cards::MakeCard(SpecWithPin(1));
  EXPECT_EQ(card->Process(Verify({0x00, 0x00, 0xFF, 0xFF})), (Bytes{0x63, 0xC0}));
  card->Reset();
  EXPECT_EQ(card->Process(Verify(kPin)), (Bytes{0x69, 0x83}));
  EXPECT_EQ(card->Process(ChangeReference(kPin, kPin)), (Bytes{0x69, 0x83}));
}

TEST(CardPinTest, ChangeReferenceDataChecksTheOldPinAndKeepsTheNewOne) {
  auto card = cards::MakeCard(SpecWithPin());
  const Bytes fresh = {0x56, 0x78, 0xFF, 0xFF};
  EXPECT_EQ(card->Process(ChangeReference(fresh, fresh)), (Bytes{0x63, 0xC2}));
  EXPECT_EQ(card->Process(ChangeReference(kPin, fresh)), kOk);
  card->Reset();
  EXPECT_EQ(card->Process(Verify(kPin)), (Bytes{0x63, 0xC2}));
  EXPECT_EQ(card->Process(Verify(fresh)), kOk);
  EXPECT_EQ(card->Process(ChangeReference(fresh, {0x11})), (Bytes{0x67, 0x00}));
}

TEST(CardPinTest, ACardWithoutPinAndWrongParameters) {
  auto card = cards::MakeCard(cards::CardSpec{});
  EXPECT_EQ(card->Process(Verify(kPin)), (Bytes{0x6A, 0x88}));
  EXPECT_EQ(card->Process(ChangeReference(kPin, kPin)), (Bytes{0x6A, 0x88}));
  auto with_pin = cards::MakeCard(SpecWithPin());
  EXPECT_EQ(with_pin->Process({0x00, 0x20, 0x01, 0x81, 0x04, 0x12, 0x34, 0xFF, 0xFF}),
            (Bytes{0x6A, 0x86}));
}

}  // namespace
