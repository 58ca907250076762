// SPDX-License-Identifier: BSD-3-Clause
// The card power commands on the simulator: RESET CT of the terminal and of ICC 1, REQUEST ICC
// with its waiting time and the keep-power rule, DEACTIVATE ICC, EJECT ICC with its data
// objects, the historical bytes, and the response buffer limits.
#include "ctapi/power.h"

#include <string>
#include <vector>

#include "ctapi/command.h"
#include "ctapi/ctapi.h"
#include "pcsc/pcsc.h"
#include "tests/ctapi/ctapi_fixture.h"

namespace {

using ctapi::kNoCardHandle;
using ctapitest::Bytes;
using ctapitest::CardWithAtr;
using ctapitest::Exchange;
using ctapitest::Join;
using Handler = ctapi::TerminalHandler;

constexpr char kBirch0[] = "TREVANO Kelvane Birch 0";                   // port 1
constexpr char kO2Micro0[] = "O2Micro PCMCIA Reader 0";                 // port 200
constexpr char kVuzoded0[] = "Vuzoded Divudaz USB Smartcard Reader 0";  // port 210
constexpr char kFsc0[] = "FSC SCR USB 2A 0";                            // port 225

// T=1 card whose answer ends in a check byte: 5 historical bytes 4A..4E, then TCK 4A.
const Bytes kT1Atr = {0x3B, 0x85, 0x80, 0x01, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4A};
// T=0-only card without check byte: 5 historical bytes 41..45 at the end.
const Bytes kT0Atr = {0x3B, 0x15, 0x11, 0x41, 0x42, 0x43, 0x44, 0x45};

class PowerTest : public ctapitest::TerminalOneTest {
 protected:
  // Calls `handler` with the parsed `command` and a response of `capacity` bytes, from SAD 2.
  Exchange Call(Handler handler, const Bytes& command, uint16_t capacity = 64) {
    return ctapitest::CallHandler(handler, index(), command, capacity, ctapi::kAddressHost);
  }

  // REQUEST ICC without data and waiting, the card answering 90 01.
  void PowerUp() {
    ASSERT_EQ(Call(ctapi::RequestIcc, {0x20, 0x12, 0x01, 0x00}).response, Bytes({0x90, 0x01}));
  }

  size_t CountDisconnects(uint32_t disposition) {
    size_t count = 0;
    for (const sim::Call& call : sim::Calls())
      if (call.fn == sim::Fn::kDisconnect && call.disposition == disposition) ++count;
    return count;
  }

  std::vector<uint32_t> QueryTimeouts() {
    std::vector<uint32_t> timeouts;
    for (const sim::Call& call : sim::Calls())
      if (call.fn == sim::Fn::kGetStatusChange) timeouts.push_back(call.timeout_ms);
    return timeouts;
  }
};

// --- historical bytes ------------------------------------------------------------------------

struct HistoricalCase {
  const char* what;
  Bytes atr;
  uint32_t first;
  uint32_t count;
};

TEST(PowerHistoricalBytesTest, CheckByteRuleAndShortAnswers) {
  const HistoricalCase cases[] = {
      {"check byte: the K bytes before it", kT1Atr, 4, 5},
      {"no check byte: the last K bytes", kT0Atr, 3, 5},
      {"K = 0", {0x3B, 0x80, 0x01, 0x81}, 3, 0},
      // Too short for K: only what lies after TS and T0 (and before a check byte).
      {"short with check byte", {0x3B, 0x8F, 0x80, 0x01, 0x41, 0x4F}, 1, 4},
      {"short without check byte", {0x3B, 0x0F, 0x41, 0x42}, 2, 2},
      {"TS and T0 only", {0x3B, 0x05}, 2, 0},
      {"TS only", {0x3B}, 0, 0},
      {"empty", {}, 0, 0},
  };
  for (const HistoricalCase& c : cases) {
    uint32_t first = 99;
    uint32_t count = 99;
    ctapi::HistoricalBytes(c.atr.data(), static_cast<uint32_t>(c.atr.size()), &first, &count);
    EXPECT_EQ(first, c.first) << c.what;
    EXPECT_EQ(count, c.count) << c.what;
    EXPECT_LE(first + count, c.atr.size()) << c.what;
  }
}

// --- RESET CT of the terminal ----------------------------------------------------------------

TEST_F(PowerTest, ResetTerminalDropsTheConnectionAndBarsTheCard) {
  Open(kBirch0, 1);
  sim::InsertCard(kBirch0, CardWithAtr(kT1Atr));
  PowerUp();
  ASSERT_NE(slot().card_handle, kNoCardHandle);
  sim::ClearCalls();
  EXPECT_EQ(Call(ctapi::ResetCt, {0x20, 0x11, 0x00, 0x00}).response, Bytes({0x90, 0x00}));
  EXPECT_EQ(CountDisconnects(pcsc::kResetCard), 1u);
  EXPECT_EQ(slot().card_handle, kNoCardHandle);
  EXPECT_EQ(slot().icc_active, 0u);
  EXPECT_EQ(slot().card_refused, 1u);
  EXPECT_EQ(sim::OpenConnections(), 0u);
}

TEST_F(PowerTest, ResetTerminalThenRequestPowersTheCardAgain) {
  Open(kBirch0, 1);
  sim::InsertCard(kBirch0, CardWithAtr(kT1Atr));
  ASSERT_EQ(Call(ctapi::ResetCt, {0x20, 0x10, 0x00, 0x00}).response, Bytes({0x90, 0x00}));
  ASSERT_EQ(slot().card_refused, 1u);
  PowerUp();  // the detection clears the bar before the test of it
  EXPECT_EQ(slot().card_refused, 0u);
  EXPECT_EQ(slot().icc_active, 1u);
}

struct RefusalCase {
  const char* what;
  Bytes command;
  Bytes response;
};

TEST_F(PowerTest, ResetRefusalsTouchNoReader) {
  Open(kBirch0, 1);
  sim::InsertCard(kBirch0, CardWithAtr(kT1Atr));
  const RefusalCase cases[] = {
      {"terminal, data field (INS 0x10)", {0x20, 0x10, 0x00, 0x00, 0x01, 0x00}, {0x6C, 0x00}},
      {"terminal, Le", {0x20, 0x11, 0x00, 0x00, 0x05}, {0x6C, 0x00}},
      {"terminal, P2 1", {0x20, 0x11, 0x00, 0x01}, {0x6A, 0x00}},
      {"ICC, data field (INS 0x10)", {0x20, 0x10, 0x01, 0x01, 0x01, 0x00}, {0x6C, 0x00}},
      {"ICC, Le", {0x20, 0x11, 0x01, 0x00, 0x01}, {0x6C, 0x00}},
      {"ICC, P2 3", {0x20, 0x11, 0x01, 0x03}, {0x6A, 0x00}},
      {"ICC, P2 0x81", {0x20, 0x11, 0x01, 0x81}, {0x6A, 0x00}},
  };
  for (const RefusalCase& c : cases) {
    sim::ClearCalls();
    Exchange reply = Call(ctapi::ResetCt, c.command);
    EXPECT_EQ(reply.code, OK) << c.what;
    EXPECT_EQ(reply.response, c.response) << c.what;
    EXPECT_TRUE(sim::Calls().empty()) << c.what;
  }
  EXPECT_EQ(slot().card_refused, 0u);
}

// --- RESET CT of ICC 1 -----------------------------------------------------------------------

TEST_F(PowerTest, ResetIccOnAnEmptySlotAnswersNoCardAfterATenMsQuery) {
  Open(kBirch0, 1);
  sim::ClearCalls();
  EXPECT_EQ(Call(ctapi::ResetCt, {0x20, 0x11, 0x01, 0x00}).response, Bytes({0x64, 0xA1}));
  EXPECT_EQ(QueryTimeouts(), std::vector<uint32_t>({10}));
  EXPECT_EQ(sim::CountCalls(sim::Fn::kConnect), 0u);
}

TEST_F(PowerTest, ResetIccFailuresAnswerExecutionError) {
  Open(kBirch0, 1);
  sim::InsertCard(kBirch0, CardWithAtr(kT1Atr));
  struct Case {
    sim::Fn fn;
    uint32_t result;
  };
  for (Case c : {Case{sim::Fn::kGetStatusChange, pcsc::kNoService},
                 Case{sim::Fn::kConnect, pcsc::kSharingViolation},
                 Case{sim::Fn::kGetAttrib, pcsc::kCommError}}) {
    sim::FailCall(c.fn, 1, c.result);
    Exchange reply = Call(ctapi::ResetCt, {0x20, 0x11, 0x01, 0x01});
    EXPECT_EQ(reply.code, OK);
    EXPECT_EQ(reply.response, Bytes({0x64, 0x00})) << static_cast<int>(c.fn);
    EXPECT_EQ(slot().icc_active, 0u);
  }
}

struct AtrCase {
  const char* what;
  Bytes atr;
  uint32_t protocols;
  uint8_t p2;
  Bytes data;
};

TEST_F(PowerTest, ResetIccAnswersTheRequestedPartOfTheAtr) {
  const AtrCase cases[] = {
      {"T=1, no data", kT1Atr, 3, 0x00, {}},
      {"T=1, whole ATR", kT1Atr, 3, 0x01, kT1Atr},
      {"T=1, historical bytes before the check byte",
       kT1Atr,
       3,
       0x02,
       {0x4A, 0x4B, 0x4C, 0x4D, 0x4E}},
      {"T=0 only, whole ATR", kT0Atr, 1, 0x01, kT0Atr},
      {"T=0 only, the last K bytes", kT0Atr, 1, 0x02, {0x41, 0x42, 0x43, 0x44, 0x45}},
  };
  Open(kBirch0, 1);
  for (const AtrCase& c : cases) {
    sim::InsertCard(kBirch0, CardWithAtr(c.atr, c.protocols));
    Exchange reply = Call(ctapi::ResetCt, {0x20, 0x11, 0x01, c.p2});
    EXPECT_EQ(reply.code, OK) << c.what;
    EXPECT_EQ(reply.response, Join({c.data, {0x90, 0x01}})) << c.what;
    EXPECT_EQ(slot().icc_active, 1u) << c.what;
    EXPECT_EQ(slot().memory_card, 0u) << c.what;
    Call(ctapi::ResetCt, {0x20, 0x11, 0x00, 0x00});
    sim::RemoveCard(kBirch0);
  }
}

TEST_F(PowerTest, ResetIccOfAPoweredCardIsAColdReset) {
  Open(kBirch0, 1);
  sim::InsertCard(kBirch0, CardWithAtr(kT1Atr));
  PowerUp();
  const uint32_t old_handle = slot().card_handle;
  sim::ClearCalls();
  EXPECT_EQ(Call(ctapi::ResetCt, {0x20, 0x11, 0x01, 0x00}).response, Bytes({0x90, 0x01}));
  ASSERT_GE(sim::Calls().size(), 4u);
  EXPECT_EQ(sim::Calls()[1].fn, sim::Fn::kReconnect);
  EXPECT_EQ(sim::Calls()[1].disposition, pcsc::kLeaveCard);
  EXPECT_EQ(sim::Calls()[2].fn, sim::Fn::kDisconnect);
  EXPECT_EQ(sim::Calls()[2].disposition, pcsc::kUnpowerCard);
  EXPECT_EQ(sim::Calls()[3].fn, sim::Fn::kConnect);
  EXPECT_NE(slot().card_handle, old_handle);
  EXPECT_EQ(sim::OpenConnections(), 1u);
}

TEST_F(PowerTest, ResetIccAfterAFailedConnectHoldsNoStaleHandle) {
  Open(kBirch0, 1);
  sim::InsertCard(kBirch0, CardWithAtr(kT1Atr));
  PowerUp();
  sim::FailCall(sim::Fn::kConnect, 1, pcsc::kSharingViolation);
  EXPECT_EQ(Call(ctapi::ResetCt, {0x20, 0x11, 0x01, 0x00}).response, Bytes({0x64, 0x00}));
  // The old handle was closed by the power-down; the slot does not keep it.
  EXPECT_EQ(slot().card_handle, kNoCardHandle);
  EXPECT_EQ(sim::OpenConnections(), 0u);
}

struct RoomCase {
  const char* what;
  Bytes command;
  uint16_t capacity;
  int8_t code;
  Bytes response;
};

TEST_F(PowerTest, PowerUpChecksTheRoomBeforeWriting) {
  Open(kBirch0, 1);
  sim::InsertCard(kBirch0, CardWithAtr(kT1Atr));
  const uint16_t n = static_cast<uint16_t>(kT1Atr.size());
  const RoomCase cases[] = {
      {"reset, ATR, n + 1",
       {0x20, 0x11, 0x01, 0x01},
       static_cast<uint16_t>(n + 1),
       ERR_MEMORY,
       {0x64, 0x00}},
      {"reset, ATR, n + 2",
       {0x20, 0x11, 0x01, 0x01},
       static_cast<uint16_t>(n + 2),
       OK,
       Join({kT1Atr, {0x90, 0x01}})},
      {"reset, historical, K + 1", {0x20, 0x11, 0x01, 0x02}, 6, ERR_MEMORY, {0x64, 0x00}},
      {"request, ATR, n + 1",
       {0x20, 0x12, 0x01, 0x01},
       static_cast<uint16_t>(n + 1),
       ERR_MEMORY,
       {0x64, 0x00}},
      {"request, historical, K + 2",
       {0x20, 0x12, 0x01, 0x02},
       7,
       OK,
       {0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x90, 0x01}},
      {"request, nothing, 2", {0x20, 0x12, 0x01, 0x00}, 2, OK, {0x90, 0x01}},
  };
  for (const RoomCase& c : cases) {
    const Handler handler = c.command[1] == 0x12 ? ctapi::RequestIcc : ctapi::ResetCt;
    Exchange reply = Call(handler, c.command, c.capacity);
    EXPECT_EQ(reply.code, c.code) << c.what;
    EXPECT_EQ(reply.response, c.response) << c.what;
  }
}

// The memory-card detection rewrites the answer-to-reset to the card's four header bytes.
TEST_F(PowerTest, MemoryCardAnswersItsHeader) {
  const Bytes two_wire = {0x3B, 0x04, 0xA2, 0x13, 0x10, 0x91};
  const RoomCase cases[] = {
      {"whole ATR", {0x20, 0x11, 0x01, 0x01}, 64, OK, {0xA2, 0x13, 0x10, 0x91, 0x90, 0x00}},
      {"historical bytes: the last two",
       {0x20, 0x11, 0x01, 0x02},
       64,
       OK,
       {0x10, 0x91, 0x90, 0x00}},
      {"historical bytes, no room", {0x20, 0x11, 0x01, 0x02}, 3, ERR_MEMORY, {0x64, 0x00}},
      {"request, nothing", {0x20, 0x12, 0x01, 0x00}, 64, OK, {0x90, 0x00}},
  };
  Open(kBirch0, 1);
  sim::InsertCard(kBirch0, CardWithAtr(two_wire));
  for (const RoomCase& c : cases) {
    const Handler handler = c.command[1] == 0x12 ? ctapi::RequestIcc : ctapi::ResetCt;
    Exchange reply = Call(handler, c.command, c.capacity);
    EXPECT_EQ(reply.code, c.code) << c.what;
    EXPECT_EQ(reply.response, c.response) << c.what;
    EXPECT_EQ(slot().memory_card, 1u) << c.what;
  }
}

TEST_F(PowerTest, RefusedCardAnswersExecutionError) {
  Open(kBirch0, 1);
  sim::InsertCard(kBirch0, CardWithAtr({0x3B, 0x04, 0x55, 0x13, 0x10, 0x91}));
  for (Handler handler : {ctapi::ResetCt, ctapi::RequestIcc}) {
    const Bytes command = {0x20, static_cast<uint8_t>(handler == ctapi::ResetCt ? 0x11 : 0x12),
                           0x01, 0x01};
    EXPECT_EQ(Call(handler, command).response, Bytes({0x64, 0x00}));
    EXPECT_EQ(slot().card_refused, 1u);
    EXPECT_EQ(slot().icc_active, 0u);
  }
}

// --- REQUEST ICC -----------------------------------------------------------------------------

TEST_F(PowerTest, RequestPowersACardAndAnswersItsAtr) {
  Open(kBirch0, 1);
  sim::InsertCard(kBirch0, CardWithAtr(kT1Atr));
  Exchange reply = Call(ctapi::RequestIcc, {0x20, 0x12, 0x01, 0x01, 0x00});
  EXPECT_EQ(reply.code, OK);
  EXPECT_EQ(reply.response, Join({kT1Atr, {0x90, 0x01}}));
  EXPECT_EQ(slot().icc_active, 1u);
  EXPECT_NE(slot().card_handle, kNoCardHandle);
  // Only the low four bits of P2 choose the data.
  EXPECT_EQ(Call(ctapi::RequestIcc, {0x20, 0x12, 0x01, 0xF1}).response,
            Join({kT1Atr, {0x90, 0x01}}));
}

TEST_F(PowerTest, RequestRefusals) {
  Open(kBirch0, 1);
  const RefusalCase cases[] = {
      {"Le", {0x20, 0x12, 0x01, 0x00, 0x01}, {0x6C, 0x00}},
      {"0x80 object of length 2",
       {0x20, 0x12, 0x01, 0x00, 0x04, 0x80, 0x02, 0x00, 0x05},
       {0x69, 0x00}},
      {"0x80 object without its value", {0x20, 0x12, 0x01, 0x00, 0x02, 0x80, 0x01}, {0x69, 0x00}},
  };
  for (const RefusalCase& c : cases) {
    sim::ClearCalls();
    EXPECT_EQ(Call(ctapi::RequestIcc, c.command).response, c.response) << c.what;
    EXPECT_TRUE(sim::Calls().empty()) << c.what;
  }
}

TEST_F(PowerTest, RequestOnAnEmptySlotWithoutWaitingFails) {
  Open(kBirch0, 1);
  EXPECT_EQ(Call(ctapi::RequestIcc, {0x20, 0x12, 0x01, 0x00}).response, Bytes({0x64, 0x00}));
  EXPECT_EQ(slot().card_handle, kNoCardHandle);
  EXPECT_EQ(sim::NowMs(), 0u);
}

TEST_F(PowerTest, RequestWaitsForACardUpToTheGivenSeconds) {
  Open(kBirch0, 1);
  for (const Bytes& data : {Bytes{0x80, 0x01, 0x05}, Bytes{0x05}}) {
    const uint64_t start = sim::NowMs();
    sim::ClearCalls();
    Bytes command = {0x20, 0x12, 0x01, 0x00, static_cast<uint8_t>(data.size())};
    command.insert(command.end(), data.begin(), data.end());
    EXPECT_EQ(Call(ctapi::RequestIcc, command).response, Bytes({0x62, 0x00}));
    EXPECT_EQ(sim::NowMs() - start, 5000u);
    EXPECT_EQ(QueryTimeouts(), std::vector<uint32_t>({1, 5000}));
  }
}

TEST_F(PowerTest, RequestTakesACardInsertedWhileWaiting) {
  Open(kBirch0, 1);
  sim::InsertCardAt(kBirch0, CardWithAtr(kT1Atr), 2000);
  EXPECT_EQ(Call(ctapi::RequestIcc, {0x20, 0x12, 0x01, 0x00, 0x03, 0x80, 0x01, 0x05}).response,
            Bytes({0x90, 0x01}));
  EXPECT_EQ(sim::NowMs(), 2000u);
  EXPECT_EQ(slot().icc_active, 1u);
}

TEST_F(PowerTest, RequestOfAPoweredCardResetsIt) {
  Open(kBirch0, 1);
  sim::InsertCard(kBirch0, CardWithAtr(kT1Atr));
  PowerUp();
  sim::ClearCalls();
  PowerUp();
  EXPECT_EQ(CountDisconnects(pcsc::kUnpowerCard), 1u);
  EXPECT_EQ(sim::CountCalls(sim::Fn::kConnect), 1u);
  EXPECT_EQ(sim::OpenConnections(), 1u);
}

struct KeepPowerCase {
  const char* reader;
  uint16_t pn;
};

TEST_F(PowerTest, RequestLeavesAPoweredCardPoweredWithTheFlagOrOnVuzodedReaders) {
  for (KeepPowerCase c :
       {KeepPowerCase{kBirch0, 0x201}, KeepPowerCase{kFsc0, 225}, KeepPowerCase{kVuzoded0, 210}}) {
    SCOPED_TRACE(c.reader);
    sim::Reset();
    Open(c.reader, c.pn);
    sim::InsertCard(c.reader, CardWithAtr(kT1Atr));
    PowerUp();
    sim::ClearCalls();
    Exchange reply = Call(ctapi::RequestIcc, {0x20, 0x12, 0x01, 0x01});
    EXPECT_EQ(reply.response, Join({kT1Atr, {0x62, 0x01}}));
    EXPECT_EQ(sim::CountCalls(sim::Fn::kDisconnect), 0u);
    EXPECT_EQ(sim::CountCalls(sim::Fn::kConnect), 0u);
    EXPECT_EQ(slot().icc_active, 1u);
    ASSERT_EQ(CT_close(1), OK);
  }
}

TEST_F(PowerTest, RequestResetsAReplacedCardEvenWithTheFlag) {
  Open(kBirch0, 0x201);
  sim::InsertCard(kBirch0, CardWithAtr(kT1Atr));
  PowerUp();
  sim::ClearCalls();
  // The answer-to-reset query tells of a card that was taken out since the last power-up.
  sim::FailCall(sim::Fn::kGetAttrib, 1, pcsc::kRemovedCard);
  EXPECT_EQ(Call(ctapi::RequestIcc, {0x20, 0x12, 0x01, 0x00}).response, Bytes({0x90, 0x01}));
  EXPECT_EQ(CountDisconnects(pcsc::kUnpowerCard), 1u);
  EXPECT_EQ(sim::CountCalls(sim::Fn::kConnect), 1u);
}

TEST_F(PowerTest, RequestAfterTheCardWasPulledAnswersNoCardAndKeepsNoHandle) {
  Open(kBirch0, 1);
  sim::InsertCard(kBirch0, CardWithAtr(kT1Atr));
  PowerUp();
  sim::RemoveCard(kBirch0);
  sim::InsertCard(kBirch0, CardWithAtr(kT1Atr));
  // The reconnect of the old handle reports the removal.
  EXPECT_EQ(Call(ctapi::RequestIcc, {0x20, 0x12, 0x01, 0x00}).response, Bytes({0x64, 0xA1}));
  EXPECT_EQ(slot().card_handle, kNoCardHandle);
  EXPECT_EQ(sim::OpenConnections(), 0u);
  PowerUp();  // the next request connects afresh
}

TEST_F(PowerTest, RequestOnO2MicroTriesT1ThenT0) {
  Open(kO2Micro0, 200);
  sim::InsertCard(kO2Micro0, CardWithAtr(kT0Atr, pcsc::kProtocolT0));
  sim::ClearCalls();
  PowerUp();
  std::vector<uint32_t> protocols;
  for (const sim::Call& call : sim::Calls())
    if (call.fn == sim::Fn::kConnect) protocols.push_back(call.protocols);
  EXPECT_EQ(protocols, std::vector<uint32_t>({pcsc::kProtocolT1, pcsc::kProtocolT0}));
  EXPECT_EQ(slot().active_protocol, pcsc::kProtocolT0);
}

// --- DEACTIVATE ICC --------------------------------------------------------------------------

TEST_F(PowerTest, DeactivateSwitchesTheCardOffAndReportsItStillInserted) {
  Open(kBirch0, 1);
  sim::InsertCard(kBirch0, CardWithAtr(kT1Atr));
  PowerUp();
  sim::ClearCalls();
  EXPECT_EQ(Call(ctapi::DeactivateIcc, {0x20, 0x14, 0x01, 0x00}).response, Bytes({0x62, 0x00}));
  EXPECT_EQ(CountDisconnects(pcsc::kUnpowerCard), 1u);
  EXPECT_EQ(QueryTimeouts(), std::vector<uint32_t>({0, 1}));
  EXPECT_EQ(slot().card_handle, kNoCardHandle);
  EXPECT_EQ(slot().icc_active, 1u);  // left for the dispatcher to find the connection gone
  EXPECT_EQ(sim::OpenConnections(), 0u);
}

TEST_F(PowerTest, DeactivateRefusalsAndFailures) {
  Open(kBirch0, 1);
  EXPECT_EQ(Call(ctapi::DeactivateIcc, {0x20, 0x14, 0x01, 0x00, 0x01}).response,
            Bytes({0x67, 0x00}));
  EXPECT_EQ(Call(ctapi::DeactivateIcc, {0x20, 0x14, 0x01, 0x00, 0x01, 0x00}).response,
            Bytes({0x67, 0x00}));
  EXPECT_EQ(Call(ctapi::DeactivateIcc, {0x20, 0x14, 0x01, 0x00}).response, Bytes({0x64, 0xA1}));
  sim::InsertCard(kBirch0, CardWithAtr(kT1Atr));

  sim::FailCall(sim::Fn::kGetStatusChange, 1, pcsc::kNoService);
  EXPECT_EQ(Call(ctapi::DeactivateIcc, {0x20, 0x14, 0x01, 0x00}).response, Bytes({0x64, 0xA1}));
  // A failed connect answers its mapped status word.
  sim::FailCall(sim::Fn::kConnect, 1, pcsc::kRemovedCard);
  EXPECT_EQ(Call(ctapi::DeactivateIcc, {0x20, 0x14, 0x01, 0x00}).response, Bytes({0x64, 0xA2}));
  sim::HoldExclusively(kBirch0, true);
  EXPECT_EQ(Call(ctapi::DeactivateIcc, {0x20, 0x14, 0x01, 0x00}).response, Bytes({0x64, 0x00}));
  sim::HoldExclusively(kBirch0, false);

  PowerUp();
  sim::FailCall(sim::Fn::kDisconnect, 1, pcsc::kInvalidHandle);
  EXPECT_EQ(Call(ctapi::DeactivateIcc, {0x20, 0x14, 0x01, 0x00}).response, Bytes({0x64, 0x00}));
  EXPECT_EQ(slot().card_handle, kNoCardHandle);
}

TEST_F(PowerTest, DeactivateReturnsTheMappedCodeWhenTheLastQueryFails) {
  Open(kBirch0, 1);
  sim::InsertCard(kBirch0, CardWithAtr(kT1Atr));
  for (auto [result, code] :
       {std::pair<uint32_t, int8_t>{pcsc::kNoService, CTKORVIN_ERR_PCSC},
        std::pair<uint32_t, int8_t>{pcsc::kPlatformBufferTooSmall, ERR_MEMORY}}) {
    sim::FailCall(sim::Fn::kGetStatusChange, 2, result);
    Exchange reply = Call(ctapi::DeactivateIcc, {0x20, 0x14, 0x01, 0x00});
    EXPECT_EQ(reply.code, code);
    EXPECT_EQ(reply.response, Bytes({0x64, 0x00}));
    EXPECT_EQ(slot().card_handle, kNoCardHandle);
  }
}

// --- EJECT ICC -------------------------------------------------------------------------------

const Bytes kEjectTenSeconds = {0x20, 0x15, 0x01, 0x00, 0x08, 0x50, 0x03,
                                0x41, 0x42, 0x43, 0x80, 0x01, 0x0A};

TEST_F(PowerTest, EjectWaitsForTheRemoval) {
  Open(kBirch0, 1);
  sim::InsertCard(kBirch0, CardWithAtr(kT1Atr));
  PowerUp();
  sim::RemoveCardAt(kBirch0, 2000);
  sim::ClearCalls();
  EXPECT_EQ(Call(ctapi::EjectIcc, kEjectTenSeconds).response, Bytes({0x90, 0x01}));
  EXPECT_EQ(sim::NowMs(), 2000u);
  EXPECT_EQ(QueryTimeouts(), std::vector<uint32_t>({1, 10000}));
  EXPECT_EQ(slot().card_handle, kNoCardHandle);
  EXPECT_EQ(sim::OpenConnections(), 0u);
}

TEST_F(PowerTest, EjectTimesOutWhenTheCardStays) {
  Open(kBirch0, 1);
  sim::InsertCard(kBirch0, CardWithAtr(kT1Atr));
  PowerUp();
  sim::ClearCalls();
  EXPECT_EQ(Call(ctapi::EjectIcc, kEjectTenSeconds).response, Bytes({0x62, 0x00}));
  EXPECT_EQ(sim::NowMs(), 10000u);
  // The connection was reset and powered down before the wait.
  ASSERT_GE(sim::Calls().size(), 3u);
  EXPECT_EQ(sim::Calls()[1].fn, sim::Fn::kReconnect);
  EXPECT_EQ(sim::Calls()[1].disposition, pcsc::kResetCard);
  EXPECT_EQ(CountDisconnects(pcsc::kUnpowerCard), 1u);
  EXPECT_EQ(slot().card_handle, kNoCardHandle);
}

struct EjectCase {
  const char* what;
  Bytes data;
  Bytes response;
  uint64_t waited_ms;
};

TEST_F(PowerTest, EjectDataObjects) {
  const EjectCase cases[] = {
      {"no data: no wait", {}, {0x90, 0x00}, 0},
      {"one byte of seconds", {0x03}, {0x62, 0x00}, 3000},
      {"a later 0x80 replaces an earlier",
       {0x80, 0x01, 0x09, 0x80, 0x01, 0x02},
       {0x62, 0x00},
       2000},
      {"a single trailing byte is not read", {0x80, 0x01, 0x02, 0x81}, {0x62, 0x00}, 2000},
      {"a text running past Lc ends the objects", {0x50, 0x09, 0x41}, {0x90, 0x00}, 0},
      {"unknown object", {0x81, 0x01, 0x00}, {0x6A, 0x00}, 0},
      {"0x80 of length 2", {0x80, 0x02, 0x00, 0x05}, {0x69, 0x00}, 0},
      {"0x80 without its value", {0x50, 0x00, 0x80, 0x01}, {0x69, 0x00}, 0},
  };
  Open(kBirch0, 1);
  sim::InsertCard(kBirch0, CardWithAtr(kT1Atr));
  for (const EjectCase& c : cases) {
    PowerUp();
    Bytes command = {0x20, 0x15, 0x01, 0x00};
    if (!c.data.empty()) {
      command.push_back(static_cast<uint8_t>(c.data.size()));
      command.insert(command.end(), c.data.begin(), c.data.end());
    }
    const uint64_t start = sim::NowMs();
    Exchange reply = Call(ctapi::EjectIcc, command);
    EXPECT_EQ(reply.code, OK) << c.what;
    EXPECT_EQ(reply.response, c.response) << c.what;
    EXPECT_EQ(sim::NowMs() - start, c.waited_ms) << c.what;
    // Whatever the outcome, no card connection is left.
    EXPECT_EQ(slot().card_handle, kNoCardHandle) << c.what;
    EXPECT_EQ(sim::OpenConnections(), 0u) << c.what;
  }
}

TEST_F(PowerTest, EjectRefusalsLeaveTheCardAsItIs) {
  Open(kBirch0, 1);
  sim::InsertCard(kBirch0, CardWithAtr(kT1Atr));
  PowerUp();
  sim::ClearCalls();
  EXPECT_EQ(Call(ctapi::EjectIcc, {0x20, 0x15, 0x01, 0x00, 0x01}).response, Bytes({0x6C, 0x00}));
  EXPECT_EQ(CountDisconnects(pcsc::kLeaveCard), 1u);
  EXPECT_EQ(CountDisconnects(pcsc::kUnpowerCard), 0u);
  EXPECT_EQ(slot().card_handle, kNoCardHandle);
  EXPECT_EQ(slot().icc_active, 1u);
}

TEST_F(PowerTest, EjectOfACardNoLongerThereForgetsItsHandle) {
  Open(kBirch0, 1);
  sim::InsertCard(kBirch0, CardWithAtr(kT1Atr));
  PowerUp();
  sim::RemoveCard(kBirch0);
  EXPECT_EQ(Call(ctapi::EjectIcc, kEjectTenSeconds).response, Bytes({0x90, 0x00}));
  EXPECT_EQ(slot().icc_active, 0u);
  EXPECT_EQ(slot().card_handle, kNoCardHandle);
  EXPECT_EQ(sim::OpenConnections(), 0u);
}

// --- through CT_data --------------------------------------------------------------------------

TEST_F(PowerTest, PowerCommandsThroughCtData) {
  Open(kBirch0, 1);
  sim::InsertCard(kBirch0, CardWithAtr(kT1Atr));
  const Exchange request = ctapitest::CtData(1, ctapi::kAddressCt, {0x20, 0x12, 0x01, 0x01, 0x00},
                                             64, ctapi::kAddressRemoteHost);
  ASSERT_EQ(request.code, OK);
  EXPECT_EQ(request.response, Join({kT1Atr, {0x90, 0x01}}));
  EXPECT_EQ(request.sad, ctapi::kAddressCt);
  EXPECT_EQ(request.dad, ctapi::kAddressRemoteHost);

  // The card answers now, until it is ejected.
  const Exchange select =
      ctapitest::CtData(1, ctapi::kAddressIcc1, {0x00, 0xA4, 0x00, 0x00, 0x02, 0x3F, 0x00}, 64);
  ASSERT_EQ(select.code, OK);
  EXPECT_EQ(select.sad, ctapi::kAddressIcc1);
  const Exchange eject = ctapitest::CtData(1, ctapi::kAddressCt, {0x20, 0x15, 0x01, 0x00}, 64);
  ASSERT_EQ(eject.code, OK);
  EXPECT_EQ(eject.response, Bytes({0x90, 0x00}));
  EXPECT_EQ(sim::OpenConnections(), 0u);
}

}  // namespace
