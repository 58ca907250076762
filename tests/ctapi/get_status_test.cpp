// SPDX-License-Identifier: BSD-3-Clause
// GET STATUS on the simulator: the manufacturer data object with the driver family texts, the
// card status object of both handlers, the functional units, the refusals and the buffer limits.
#include "ctapi/get_status.h"

#include <cstring>
#include <string>
#include <vector>

#include "ctapi/command.h"
#include "ctapi/ctapi.h"
#include "ctapi/power.h"
#include "pcsc/pcsc.h"
#include "support/strings.h"
#include "tests/ctapi/ctapi_fixture.h"

namespace {

using ctapitest::Bytes;
using ctapitest::Exchange;
using ctapitest::Join;
using ctapitest::Text;
using Handler = ctapi::TerminalHandler;

constexpr char kBirch0[] = "TREVANO Kelvane Birch 0";      // port 1, neither display nor PIN pad
constexpr char kCypress0[] = "TREVANO Kelvane Cypress 0";  // port 30, display and PIN pad

const Bytes kIdentity = {'K', 'O', 'R', 'V', 'I', 'K', 'V', ' ', ' ', ' ', '0', '4', '.', '0', '0'};

class GetStatusTest : public ctapitest::TerminalOneTest {
 protected:
  // Calls `handler` with the parsed `command` and a response of `capacity` bytes, from SAD 5.
  Exchange Call(Handler handler, const Bytes& command, uint16_t capacity = 64) {
    return ctapitest::CallHandler(handler, index(), command, capacity, ctapi::kAddressRemoteHost);
  }

  Exchange Terminal(uint8_t p2, uint16_t capacity = 64) {
    return Call(ctapi::GetStatusOfTerminal, {0x20, 0x13, 0x00, p2, 0x00}, capacity);
  }
  Exchange Icc(uint8_t p2, uint16_t capacity = 64) {
    return Call(ctapi::GetStatusOfIcc, {0x20, 0x13, 0x01, p2, 0x00}, capacity);
  }

  // A power command of the terminal from SAD 2; its status word.
  Bytes Power(const Bytes& command, Handler handler) {
    Exchange reply = ctapitest::CallHandler(handler, index(), command, 64, ctapi::kAddressHost);
    EXPECT_EQ(reply.code, OK);
    return reply.response;
  }
};

// --- manufacturer data -----------------------------------------------------------------------

TEST_F(GetStatusTest, ManufacturerDataOfAPcscReader) {
  Open(kBirch0, 1);
  sim::ClearCalls();
  Exchange reply = Terminal(0x46);
  EXPECT_EQ(reply.code, OK);
  EXPECT_EQ(reply.response, Join({{0x46, 0x0F}, kIdentity, {0x90, 0x00}}));
  EXPECT_EQ(reply.response.size(), 19u);
  EXPECT_TRUE(sim::Calls().empty());  // the identity needs no reader

  Exchange small = Terminal(0x46, 18);
  EXPECT_EQ(small.code, ERR_MEMORY);
  EXPECT_EQ(small.response, Bytes({0x64, 0x00}));
}

struct FamilyCase {
  const char* reader_name;
  const char* text;  // "" for none
};

TEST_F(GetStatusTest, FamilyTextFollowsTheNameWithoutItsLastCharacter) {
  const FamilyCase cases[] = {
      {"\\\\.\\CT-SERIAL-1", "Kelvane SERIAL"},
      {"\\\\.\\Kelvane0", "Kelvane SERIAL"},
      {"\\\\.\\CT-Elm-3", "Kelvane USB"},
      {"\\\\.\\CT-Yew-0", "Kelvane PCMCIA"},
      {"\\\\.\\CT-Elm-12", ""},  // the stem must match exactly
      {"\\\\.\\CT-Elm-", ""},
      {"\\\\.\\ct-elm-1", ""},
      {"", ""},
  };
  Open(kBirch0, 1);
  for (const FamilyCase& c : cases) {
    SafeStrCopy(slot().reader_name, ctapi::kReaderNameSize, c.reader_name);
    const Bytes text = Text(c.text);
    const Bytes expected =
        Join({{0x46, static_cast<uint8_t>(15 + text.size())}, kIdentity, text, {0x90, 0x00}});
    Exchange reply = Terminal(0x46);
    EXPECT_EQ(reply.code, OK) << c.reader_name;
    EXPECT_EQ(reply.response, expected) << c.reader_name;
    Exchange small = Terminal(0x46, static_cast<uint16_t>(expected.size() - 1));
    EXPECT_EQ(small.code, ERR_MEMORY) << c.reader_name;
    EXPECT_EQ(small.response, Bytes({0x64, 0x00})) << c.reader_name;
  }
}

TEST_F(GetStatusTest, AnUnterminatedReaderNameIsReadUpTo127Characters) {
  Open(kBirch0, 1);
  std::memset(slot().reader_name, 'A', ctapi::kReaderNameSize);
  EXPECT_EQ(Terminal(0x46).response.size(), 19u);
}

// --- refusals --------------------------------------------------------------------------------

struct RefusalCase {
  const char* what;
  Handler handler;
  Bytes command;
  Bytes response;
};

TEST_F(GetStatusTest, Refusals) {
  Open(kBirch0, 1);
  const RefusalCase cases[] = {
      {"terminal, no Le", ctapi::GetStatusOfTerminal, {0x20, 0x13, 0x00, 0x46}, {0x67, 0x00}},
      {"terminal, Le 5", ctapi::GetStatusOfTerminal, {0x20, 0x13, 0x00, 0x46, 0x05}, {0x6C, 0x00}},
      {"terminal, P2 0x47",
       ctapi::GetStatusOfTerminal,
       {0x20, 0x13, 0x00, 0x47, 0x00},
       {0x6A, 0x00}},
      {"ICC, no Le", ctapi::GetStatusOfIcc, {0x20, 0x13, 0x01, 0x80}, {0x67, 0x00}},
      {"ICC, Le 1", ctapi::GetStatusOfIcc, {0x20, 0x13, 0x01, 0x80, 0x01}, {0x6C, 0x00}},
      {"ICC, P2 0x81", ctapi::GetStatusOfIcc, {0x20, 0x13, 0x01, 0x81, 0x00}, {0x6A, 0x00}},
      {"ICC, P2 0x46", ctapi::GetStatusOfIcc, {0x20, 0x13, 0x01, 0x46, 0x00}, {0x6A, 0x00}},
  };
  for (const RefusalCase& c : cases) {
    sim::ClearCalls();
    Exchange reply = Call(c.handler, c.command);
    EXPECT_EQ(reply.code, OK) << c.what;
    EXPECT_EQ(reply.response, c.response) << c.what;
    EXPECT_TRUE(sim::Calls().empty()) << c.what;
  }
}

// --- card status -----------------------------------------------------------------------------

TEST_F(GetStatusTest, CardStatusFollowsTheSlotAndThePowerUp) {
  Open(kBirch0, 1);
  for (Handler handler : {ctapi::GetStatusOfTerminal, ctapi::GetStatusOfIcc}) {
    const uint8_t p1 = handler == ctapi::GetStatusOfIcc ? 0x01 : 0x00;
    const Bytes command = {0x20, 0x13, p1, 0x80, 0x00};
    ASSERT_EQ(Power({0x20, 0x11, 0x00, 0x00}, ctapi::ResetCt), Bytes({0x90, 0x00}));
    sim::RemoveCard(kBirch0);
    EXPECT_EQ(Call(handler, command).response, Bytes({0x80, 0x01, 0x00, 0x90, 0x00}));
    // A card left activated in the slot record counts for nothing once the slot is empty.
    slot().icc_active = 1;
    EXPECT_EQ(Call(handler, command).response, Bytes({0x80, 0x01, 0x00, 0x90, 0x00}));
    slot().icc_active = 0;

    sim::InsertCard(kBirch0, ctapitest::CardWithAtr(
                                 {0x3B, 0x85, 0x80, 0x01, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4A}));
    EXPECT_EQ(Call(handler, command).response, Bytes({0x80, 0x01, 0x03, 0x90, 0x00}));

    ASSERT_EQ(Power({0x20, 0x12, 0x01, 0x00}, ctapi::RequestIcc), Bytes({0x90, 0x01}));
    sim::ClearCalls();
    EXPECT_EQ(Call(handler, command).response, Bytes({0x80, 0x01, 0x05, 0x90, 0x00}));
    ASSERT_EQ(sim::Calls().size(), 1u);
    EXPECT_EQ(sim::Calls()[0].fn, sim::Fn::kGetStatusChange);
    EXPECT_EQ(sim::Calls()[0].timeout_ms, 1u);
  }
}

TEST_F(GetStatusTest, CardStatusNeedsFiveBytes) {
  Open(kBirch0, 1);
  sim::ClearCalls();
  Exchange terminal = Terminal(0x80, 4);
  EXPECT_EQ(terminal.code, ERR_MEMORY);
  EXPECT_EQ(terminal.response, Bytes({0x64, 0x00}));
  EXPECT_TRUE(sim::Calls().empty());  // refused before the reader is asked
  Exchange icc = Icc(0x80, 4);
  EXPECT_EQ(icc.code, ERR_MEMORY);
  EXPECT_EQ(icc.response, Bytes({0x64, 0x00}));
}

struct QueryFailureCase {
  uint32_t result;
  int8_t terminal_code;
  Bytes icc_response;
};

TEST_F(GetStatusTest, AFailedQueryIsReportedDifferentlyByTheTwoHandlers) {
  const QueryFailureCase cases[] = {
      {pcsc::kNoSmartcard, CTKORVIN_ERR_PCSC, {0x64, 0xA1}},
      {pcsc::kRemovedCard, CTKORVIN_ERR_PCSC, {0x64, 0xA2}},
      {pcsc::kPlatformBufferTooSmall, ERR_MEMORY, {0x64, 0x00}},
      {pcsc::kNoService, CTKORVIN_ERR_PCSC, {0x64, 0x00}},
  };
  Open(kBirch0, 1);
  for (const QueryFailureCase& c : cases) {
    sim::FailCall(sim::Fn::kGetStatusChange, 1, c.result);
    Exchange terminal = Terminal(0x80);
    EXPECT_EQ(terminal.code, c.terminal_code) << std::hex << c.result;
    EXPECT_EQ(terminal.response, Bytes({0x64, 0x00})) << std::hex << c.result;
    sim::FailCall(sim::Fn::kGetStatusChange, 1, c.result);
    Exchange icc = Icc(0x80);
    EXPECT_EQ(icc.code, OK) << std::hex << c.result;
    EXPECT_EQ(icc.response, c.icc_response) << std::hex << c.result;
  }
}

// --- functional units ------------------------------------------------------------------------

TEST_F(GetStatusTest, FunctionalUnitsOfListedReaders) {
  AddReaders({kBirch0, kCypress0});
  ASSERT_EQ(CT_init(1, 30), OK);
  EXPECT_EQ(Terminal(0x81).response, Bytes({0x81, 0x03, 0x01, 0x40, 0x50, 0x90, 0x00}));
  ASSERT_EQ(CT_close(1), OK);
  ASSERT_EQ(CT_init(1, 1), OK);
  EXPECT_EQ(Terminal(0x81).response, Bytes({0x81, 0x01, 0x01, 0x90, 0x00}));
}

struct UnitsCase {
  const char* what;
  uint8_t reader_units;
  uint8_t capabilities;
  uint8_t reader_class;
  Bytes units;
};

TEST_F(GetStatusTest, FunctionalUnitsFromTheSlotRecord) {
  const UnitsCase cases[] = {
      {"two slots", 2, 0, 0, {0x01, 0x02}},
      {"no slot", 0, 0, 0, {}},
      {"capability bit 2", 1, 0x04, 0, {0x01, 0x60}},
      {"every class bit", 1, 0x07, 0x1F, {0x01, 0x40, 0x50, 0x60, 0x70, 0x71, 0x72, 0x73, 0x74}},
      {"class bits 1 and 4 only, bits above 4 ignored", 1, 0, 0xF2, {0x01, 0x71, 0x74}},
      {"at most 14 slots",
       200,
       0x03,
       0,
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0x40, 0x50}},
  };
  Open(kBirch0, 1);
  for (const UnitsCase& c : cases) {
    slot().reader_units = c.reader_units;
    slot().capabilities = c.capabilities;
    slot().reader_class = c.reader_class;
    const Bytes expected =
        Join({{0x81, static_cast<uint8_t>(c.units.size())}, c.units, {0x90, 0x00}});
    Exchange reply = Terminal(0x81);
    EXPECT_EQ(reply.code, OK) << c.what;
    EXPECT_EQ(reply.response, expected) << c.what;
    Exchange small = Terminal(0x81, static_cast<uint16_t>(expected.size() - 1));
    EXPECT_EQ(small.code, ERR_MEMORY) << c.what;
    EXPECT_EQ(small.response, Bytes({0x64, 0x00})) << c.what;
  }
}

// --- through CT_data --------------------------------------------------------------------------

TEST_F(GetStatusTest, ThroughCtData) {
  Open(kBirch0, 1);
  const Exchange out = ctapitest::CtData(1, ctapi::kAddressCt, {0x20, 0x13, 0x00, 0x46, 0x00}, 32,
                                         ctapi::kAddressHost);
  ASSERT_EQ(out.code, OK);
  EXPECT_EQ(out.response, Join({{0x46, 0x0F}, kIdentity, {0x90, 0x00}}));
  EXPECT_EQ(out.sad, ctapi::kAddressCt);
  EXPECT_EQ(out.dad, ctapi::kAddressHost);
}

}  // namespace
