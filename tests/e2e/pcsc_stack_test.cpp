// SPDX-License-Identifier: BSD-3-Clause
// The end-to-end stack itself, seen through pcsc-lite: the private pcscd lists both vpcd slots
// under the names the tests expect, kv-vicc's card sits in its slot with its ATR, and APDUs reach
// the card model and come back with its answers.
#include <gtest/gtest.h>
#include <winscard.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "sim/cards/card.h"
#include "tests/e2e/e2e_layout.h"

namespace {

using cards::Bytes;

class PcscStackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(getenv("PCSCLITE_CSOCK_NAME"), nullptr)
        << "e2e_tests needs the private pcscd: run it through ctest -R e2e (run-e2e.sh)";
    ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context_),
              SCARD_S_SUCCESS);
  }

  void TearDown() override {
    if (card_ != 0) SCardDisconnect(card_, SCARD_RESET_CARD);
    if (context_ != 0) SCardReleaseContext(context_);
  }

  LONG Connect(int slot) {
    return SCardConnect(context_, e2e::SlotName(slot).c_str(), SCARD_SHARE_SHARED,
                        SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card_, &protocol_);
  }

  // One APDU to the card; an empty answer when the transmission fails.
  Bytes Transmit(const Bytes& command) {
    Bytes response(258);
    DWORD length = static_cast<DWORD>(response.size());
    const SCARD_IO_REQUEST* pci = protocol_ == SCARD_PROTOCOL_T1 ? SCARD_PCI_T1 : SCARD_PCI_T0;
    const LONG result =
        SCardTransmit(card_, pci, command.data(), static_cast<DWORD>(command.size()), nullptr,
                      response.data(), &length);
    EXPECT_EQ(result, SCARD_S_SUCCESS) << pcsc_stringify_error(result);
    response.resize(result == SCARD_S_SUCCESS ? length : 0);
    return response;
  }

  std::vector<std::string> Readers() {
    DWORD size = 0;
    if (SCardListReaders(context_, nullptr, nullptr, &size) != SCARD_S_SUCCESS) return {};
    std::vector<char> buffer(size);
    if (SCardListReaders(context_, nullptr, buffer.data(), &size) != SCARD_S_SUCCESS) return {};
    std::vector<std::string> names;
    for (size_t at = 0; at < buffer.size() && buffer[at] != '\0'; at += names.back().size() + 1) {
      names.emplace_back(&buffer[at]);
    }
    return names;
  }

  SCARDCONTEXT context_ = 0;
  SCARDHANDLE card_ = 0;
  DWORD protocol_ = 0;
};

Bytes Concat(Bytes data, const Bytes& tail) {
  data.insert(data.end(), tail.begin(), tail.end());
  return data;
}

const Bytes kSelectFile = Concat({0x00, 0xA4, 0x00, 0x0C, 0x02}, e2e::Hex(KV_E2E_CARD_FILE_ID));
const Bytes kReadBinary = {0x00, 0xB0, 0x00, 0x00, 0x00};
const Bytes kStatusOk = {0x90, 0x00};
const Bytes kNoCurrentEf = {0x69, 0x86};

// --- readers and slots ---------------------------------------------------------------------------

TEST_F(PcscStackTest, ListsBothVpcdSlotsUnderTheFriendlyName) {
  const std::vector<std::string> expected = {e2e::SlotName(0), e2e::SlotName(1)};
  EXPECT_EQ(Readers(), expected);
  EXPECT_EQ(e2e::SlotName(1), "TREVANO Kelvane Birch 00 01");
}

TEST_F(PcscStackTest, SlotWithKvViccHoldsTheCardAndTheOtherIsEmpty) {
  const std::string card_slot = e2e::SlotName(e2e::kCardSlot);
  const std::string empty_slot = e2e::SlotName(e2e::kEmptySlot);
  SCARD_READERSTATE states[2] = {};
  states[0].szReader = card_slot.c_str();
  states[1].szReader = empty_slot.c_str();
  ASSERT_EQ(SCardGetStatusChange(context_, 0, states, 2), SCARD_S_SUCCESS);

  EXPECT_NE(states[0].dwEventState & SCARD_STATE_PRESENT, 0u);
  const Bytes atr(states[0].rgbAtr, states[0].rgbAtr + states[0].cbAtr);
  EXPECT_EQ(atr, e2e::CardInSlot().atr);
  EXPECT_NE(states[1].dwEventState & SCARD_STATE_EMPTY, 0u);
  EXPECT_EQ(states[1].dwEventState & SCARD_STATE_PRESENT, 0u);
}

TEST_F(PcscStackTest, EmptySlotRefusesAConnection) {
  EXPECT_EQ(Connect(e2e::kEmptySlot), SCARD_E_NO_SMARTCARD);
}

// --- the card
// --------------------------------------------------------------------------------------

TEST_F(PcscStackTest, ConnectionShowsTheCardsAtrAndItsOnlyProtocol) {
  ASSERT_EQ(Connect(e2e::kCardSlot), SCARD_S_SUCCESS);
  char name[256];
  DWORD name_length = sizeof name;
  DWORD state = 0;
  DWORD protocol = 0;
  uint8_t atr[MAX_ATR_SIZE];
  DWORD atr_length = sizeof atr;
  ASSERT_EQ(SCardStatus(card_, name, &name_length, &state, &protocol, atr, &atr_length),
            SCARD_S_SUCCESS);
  EXPECT_EQ(std::string(name), e2e::SlotName(e2e::kCardSlot));
  EXPECT_EQ(Bytes(atr, atr + atr_length), e2e::CardInSlot().atr);
  // The ATR names no protocol, which means T=0.
  EXPECT_EQ(protocol, static_cast<DWORD>(SCARD_PROTOCOL_T0));
}

TEST_F(PcscStackTest, ScriptedCommandGetsItsScriptedAnswer) {
  ASSERT_EQ(Connect(e2e::kCardSlot), SCARD_S_SUCCESS);
  EXPECT_EQ(Transmit(e2e::Hex(KV_E2E_CARD_SCRIPT_COMMAND)), e2e::Hex(KV_E2E_CARD_SCRIPT_RESPONSE));
}

TEST_F(PcscStackTest, FileGivenOnTheCommandLineCanBeSelectedAndRead) {
  ASSERT_EQ(Connect(e2e::kCardSlot), SCARD_S_SUCCESS);
  EXPECT_EQ(Transmit(kSelectFile), kStatusOk);
  EXPECT_EQ(Transmit(kReadBinary), Concat(e2e::Hex(KV_E2E_CARD_FILE_DATA), kStatusOk));
}

// Every command travels unchanged both ways: the card behind pcscd answers a command sequence
// exactly as the same card model does in process.
TEST_F(PcscStackTest, AnswersLikeTheCardModelInProcess) {
  const Bytes kCommands[] = {
      kReadBinary,                                 // nothing selected yet
      {0x00, 0xA4, 0x00, 0x0C, 0x02, 0x4F, 0x99},  // no such file
      kSelectFile,                                 // the file of kv-vicc's command line
      {0x00, 0xB0, 0x00, 0x04, 0x04},              // four bytes from offset 4
      {0x00, 0xD6, 0x00, 0x00, 0x02, 0xAA, 0xBB},  // UPDATE BINARY
      kReadBinary,                                 // shows the update
      {0x00, 0x12, 0x00, 0x00},                    // unknown instruction
      {0xA0, 0xB0, 0x00, 0x00, 0x01},              // unknown class
      e2e::Hex(KV_E2E_CARD_SCRIPT_COMMAND),        // scripted, not a file command
      {0x00, 0xD6, 0x00, 0x00, 0x02, 0x01, 0x02},  // the file as it was, for the next test
  };
  std::unique_ptr<cards::Card> model = cards::MakeCard(e2e::CardInSlot());
  ASSERT_NE(model, nullptr);
  ASSERT_EQ(Connect(e2e::kCardSlot), SCARD_S_SUCCESS);
  model->Reset();
  for (const Bytes& command : kCommands) {
    const Bytes expected = model->Process(command);
    ASSERT_GE(expected.size(), 2u);
    EXPECT_EQ(Transmit(command), expected) << "command " << ::testing::PrintToString(command);
  }
}

TEST_F(PcscStackTest, ResetLosesTheSelection) {
  ASSERT_EQ(Connect(e2e::kCardSlot), SCARD_S_SUCCESS);
  ASSERT_EQ(Transmit(kSelectFile), kStatusOk);
  DWORD protocol = 0;
  ASSERT_EQ(
      SCardReconnect(card_, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0, SCARD_RESET_CARD, &protocol),
      SCARD_S_SUCCESS);
  EXPECT_EQ(Transmit(kReadBinary), kNoCurrentEf);
}

// Each APDU is one frame each way; a link that stalls (a delayed ACK, a lost frame) makes this
// crawl or hang instead of finishing.
TEST_F(PcscStackTest, ManyRoundTripsInARowAllArrive) {
  ASSERT_EQ(Connect(e2e::kCardSlot), SCARD_S_SUCCESS);
  const Bytes command = e2e::Hex(KV_E2E_CARD_SCRIPT_COMMAND);
  const Bytes expected = e2e::Hex(KV_E2E_CARD_SCRIPT_RESPONSE);
  int answered = 0;
  for (int i = 0; i < 200; ++i)
    answered += Transmit(command) == expected ? 1 : 0;
  EXPECT_EQ(answered, 200);
}

}  // namespace
