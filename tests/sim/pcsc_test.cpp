// SPDX-License-Identifier: BSD-3-Clause
// The simulator's PC/SC calls with WinSCard semantics: contexts, reader lists, status changes on
// virtual time, connection rules (share modes, protocols, exclusive holds), resets and removals
// as the other handles see them, transmit and attributes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "pcsc/pcsc.h"
#include "sim/sim.h"

namespace {

using cards::Bytes;

constexpr char kBirch[] = "TREVANO Kelvane Birch 0";
constexpr char kCherry[] = "Cherry SmartBoard XX44 0";

cards::CardSpec CardWith(uint32_t protocols) {
  cards::CardSpec spec;
  spec.protocols = protocols;
  spec.files[0x2F02] = {0x01, 0x02, 0x03};
  return spec;
}

class SimPcscTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    sim::AddReader({kBirch});
    sim::AddReader({kCherry});
    ASSERT_EQ(pcsc::SCardEstablishContext(pcsc::kScopeUser, &context_), pcsc::kSuccess);
  }

  pcsc::Result Connect(const char* reader, uint32_t share, uint32_t protocols,
                       pcsc::CardHandle* card, uint32_t* active = nullptr) {
    uint32_t protocol = 0xFF;
    pcsc::Result result =
        pcsc::SCardConnectA(context_, reader, share, protocols, card, active ? active : &protocol);
    return result;
  }

  // Sends `apdu` on `card` with the given protocol; the answer goes to *response.
  pcsc::Result Transmit(pcsc::CardHandle card, uint32_t protocol, const Bytes& apdu,
                        Bytes* response = nullptr) {
    pcsc::IoRequest pci{protocol, sizeof(pcsc::IoRequest)};
    uint8_t buffer[258];
    uint32_t length = sizeof buffer;
    pcsc::Result result = pcsc::SCardTransmit(
        card, &pci, apdu.data(), static_cast<uint32_t>(apdu.size()), nullptr, buffer, &length);
    if (response) response->assign(buffer, buffer + (result == pcsc::kSuccess ? length : 0));
    return result;
  }

  // Status of one reader as a caller that knows `current` sees it.
  pcsc::Result Status(const char* reader, uint32_t current, uint32_t timeout,
                      pcsc::ReaderState* state) {
    *state = pcsc::ReaderState{};
    state->reader = reader;
    state->current_state = current;
    return pcsc::SCardGetStatusChangeA(context_, timeout, state, 1);
  }

  pcsc::Context context_ = 0;
};

const Bytes kSelect2F02 = {0x00, 0xA4, 0x02, 0x00, 0x02, 0x2F, 0x02};
const Bytes kRead = {0x00, 0xB0, 0x00, 0x00, 0x00};

// ---- Contexts ----

using SimContextTest = SimPcscTest;

TEST_F(SimContextTest, ContextsAreDistinctAndReleasingOneClosesItsConnections) {
  pcsc::Context other = 0;
  ASSERT_EQ(pcsc::SCardEstablishContext(pcsc::kScopeUser, &other), pcsc::kSuccess);
  EXPECT_NE(context_, 0u);
  EXPECT_NE(other, context_);
  pcsc::CardHandle card = 0;
  uint32_t active = 0;
  ASSERT_EQ(pcsc::SCardConnectA(other, kBirch, pcsc::kShareDirect, 0, &card, &active),
            pcsc::kSuccess);
  EXPECT_EQ(pcsc::SCardReleaseContext(other), pcsc::kSuccess);
  EXPECT_EQ(pcsc::SCardReleaseContext(other), pcsc::kInvalidHandle);
  EXPECT_EQ(sim::OpenContexts(), 1u);
  EXPECT_EQ(sim::OpenConnections(), 0u);
  EXPECT_EQ(pcsc::SCardDisconnect(card, pcsc::kLeaveCard), pcsc::kInvalidHandle);
}

TEST_F(SimContextTest, StoppedServiceRefusesNewContexts) {
  sim::SetServiceRunning(false);
  pcsc::Context context = 0x1234;
  EXPECT_EQ(pcsc::SCardEstablishContext(pcsc::kScopeUser, &context), pcsc::kNoService);
  EXPECT_EQ(context, 0x1234u);
}

// ---- Reader lists ----

using SimListReadersTest = SimPcscTest;

const char kBothNames[] = "TREVANO Kelvane Birch 0\0Cherry SmartBoard XX44 0\0";

TEST_F(SimListReadersTest, CallerBufferFormQueriesRefusesShortAndFills) {
  uint32_t length = 0;
  ASSERT_EQ(pcsc::SCardListReadersA(context_, nullptr, nullptr, &length), pcsc::kSuccess);
  ASSERT_EQ(length, sizeof kBothNames);
  std::vector<char> buffer(length);
  uint32_t short_length = length - 1;
  EXPECT_EQ(pcsc::SCardListReadersA(context_, nullptr, buffer.data(), &short_length),
            pcsc::kInsufficientBuffer);
  EXPECT_EQ(short_length, length);
  ASSERT_EQ(pcsc::SCardListReadersA(context_, nullptr, buffer.data(), &length), pcsc::kSuccess);
  EXPECT_EQ(memcmp(buffer.data(), kBothNames, sizeof kBothNames), 0);
  EXPECT_EQ(pcsc::SCardListReadersA(context_ + 100, nullptr, nullptr, &length),
            pcsc::kInvalidHandle);
  sim::RemoveReader(kBirch);
  sim::RemoveReader(kCherry);
  EXPECT_EQ(pcsc::SCardListReadersA(context_, nullptr, nullptr, &length),
            pcsc::kNoReadersAvailable);
}

TEST_F(SimListReadersTest, AutoAllocatedListIsTrackedUntilFreed) {
  char* list = nullptr;
  uint32_t length = pcsc::kAutoAllocate;
  ASSERT_EQ(pcsc::SCardListReadersA(context_, nullptr, reinterpret_cast<char*>(&list), &length),
            pcsc::kSuccess);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(length, sizeof kBothNames);
  EXPECT_EQ(memcmp(list, kBothNames, sizeof kBothNames), 0);
  EXPECT_EQ(sim::OpenAllocations(), 1u);
  EXPECT_EQ(pcsc::SCardFreeMemory(context_, list), pcsc::kSuccess);
  EXPECT_EQ(sim::OpenAllocations(), 0u);
  EXPECT_EQ(pcsc::SCardFreeMemory(context_, list), pcsc::kInvalidParameter);
}

// ---- Status changes ----

using SimStatusChangeTest = SimPcscTest;

TEST_F(SimStatusChangeTest, UnawareCallerLearnsTheStateAtOnce) {
  sim::InsertCard(kCherry, CardWith(3));
  pcsc::ReaderState state;
  ASSERT_EQ(Status(kBirch, pcsc::kStateUnaware, 1, &state), pcsc::kSuccess);
  EXPECT_EQ(state.event_state, pcsc::kStateEmpty | pcsc::kStateChanged);
  EXPECT_EQ(state.atr_length, 0u);
  ASSERT_EQ(Status(kCherry, pcsc::kStateUnaware, 1, &state), pcsc::kSuccess);
  EXPECT_EQ(state.event_state, pcsc::kStatePresent | pcsc::kStateChanged);
  EXPECT_EQ(Bytes(state.atr, state.atr + state.atr_length), CardWith(3).atr);
  EXPECT_EQ(Status("Unknown reader", pcsc::kStateUnaware, 1000, &state), pcsc::kUnknownReader);
  EXPECT_EQ(state.event_state, pcsc::kStateUnknown | pcsc::kStateChanged);
  EXPECT_EQ(sim::NowMs(), 0u);
}

TEST_F(SimStatusChangeTest, NoChangeWaitsOutTheTimeOutOnTheVirtualClock) {
  pcsc::ReaderState state;
  EXPECT_EQ(Status(kBirch, pcsc::kStateEmpty, 0, &state), pcsc::kTimeout);
  EXPECT_EQ(sim::NowMs(), 0u);
  EXPECT_EQ(Status(kBirch, pcsc::kStateEmpty, 1500, &state), pcsc::kTimeout);
  EXPECT_EQ(sim::NowMs(), 1500u);
  EXPECT_EQ(state.event_state, pcsc::kStateEmpty);
}

TEST_F(SimStatusChangeTest, ScheduledInsertionOnTheWatchedReaderEndsTheWaitAtItsTime) {
  sim::InsertCardAt(kCherry, CardWith(3), 200);  // another reader: does not end the wait
  sim::InsertCardAt(kBirch, CardWith(3), 700);
  pcsc::ReaderState state;
  EXPECT_EQ(Status(kBirch, pcsc::kStateEmpty, 699, &state), pcsc::kTimeout);
  EXPECT_EQ(sim::NowMs(), 699u);
  ASSERT_EQ(Status(kBirch, pcsc::kStateEmpty, 10000, &state), pcsc::kSuccess);
  EXPECT_EQ(sim::NowMs(), 700u);
  EXPECT_EQ(state.event_state, pcsc::kStatePresent | pcsc::kStateChanged);
}

TEST_F(SimStatusChangeTest, InfiniteWaitEndsAtTheNextEventOrAtOnceWithoutOne) {
  pcsc::ReaderState state;
  EXPECT_EQ(Status(kBirch, pcsc::kStateEmpty, pcsc::kInfinite, &state), pcsc::kTimeout);
  EXPECT_EQ(sim::NowMs(), 0u);
  sim::InsertCardAt(kBirch, CardWith(3), 5000);
  EXPECT_EQ(Status(kBirch, pcsc::kStateEmpty, pcsc::kInfinite, &state), pcsc::kSuccess);
  EXPECT_EQ(sim::NowMs(), 5000u);
}

TEST_F(SimStatusChangeTest, UnavailableReaderReportsChangedAndUnavailable) {
  const pcsc::Result results[] = {pcsc::kSuccess, pcsc::kReaderUnavailable};
  for (pcsc::Result configured : results) {
    sim::InsertCard(kBirch, CardWith(3));
    sim::SetUnavailable(kBirch, true, configured);
    pcsc::ReaderState state;
    EXPECT_EQ(Status(kBirch, pcsc::kStateUnaware, 1, &state), configured);
    EXPECT_EQ(state.event_state & 0x0F, 0x0Au);
    sim::SetUnavailable(kBirch, false, pcsc::kSuccess);
    EXPECT_EQ(Status(kBirch, pcsc::kStateUnaware, 1, &state), pcsc::kSuccess);
    EXPECT_EQ(state.event_state, pcsc::kStatePresent | pcsc::kStateChanged);
  }
}

TEST_F(SimStatusChangeTest, ConnectionsAndHoldsShowAsInUseOrExclusive) {
  sim::InsertCard(kBirch, CardWith(3));
  pcsc::CardHandle card = 0;
  ASSERT_EQ(Connect(kBirch, pcsc::kShareShared, 3, &card), pcsc::kSuccess);
  pcsc::ReaderState state;
  ASSERT_EQ(Status(kBirch, pcsc::kStatePresent, 0, &state), pcsc::kSuccess);
  EXPECT_EQ(state.event_state, pcsc::kStatePresent | pcsc::kStateInUse | pcsc::kStateChanged);
  ASSERT_EQ(pcsc::SCardDisconnect(card, pcsc::kLeaveCard), pcsc::kSuccess);
  sim::HoldExclusively(kBirch, true);
  ASSERT_EQ(Status(kBirch, pcsc::kStatePresent, 0, &state), pcsc::kSuccess);
  EXPECT_EQ(state.event_state, pcsc::kStatePresent | pcsc::kStateExclusive | pcsc::kStateChanged);
}

// ---- Connections ----

using SimConnectTest = SimPcscTest;

struct ConnectCase {
  bool card;
  uint32_t card_protocols;
  uint32_t share;
  uint32_t preferred;
  pcsc::Result result;
  uint32_t protocol;  // when result is kSuccess
};

TEST_F(SimConnectTest, ShareModeAndProtocolRules) {
  const ConnectCase cases[] = {
      {false, 3, pcsc::kShareShared, 3, pcsc::kNoSmartcard, 0},
      {false, 3, pcsc::kShareExclusive, 3, pcsc::kNoSmartcard, 0},
      {false, 3, pcsc::kShareDirect, 0, pcsc::kSuccess, 0},
      {true, 3, pcsc::kShareDirect, 0, pcsc::kSuccess, 0},
      {true, 3, pcsc::kShareShared, 0, pcsc::kInvalidValue, 0},
      {true, 3, 4, 3, pcsc::kInvalidValue, 0},
      {true, 3, pcsc::kShareShared, 3, pcsc::kSuccess, pcsc::kProtocolT0},
      {true, 3, pcsc::kShareShared, pcsc::kProtocolT1, pcsc::kSuccess, pcsc::kProtocolT1},
      {true, pcsc::kProtocolT1, pcsc::kShareExclusive, 3, pcsc::kSuccess, pcsc::kProtocolT1},
      {true, pcsc::kProtocolT0, pcsc::kShareShared, pcsc::kProtocolT1, pcsc::kProtoMismatch, 0},
  };
  pcsc::CardHandle unknown = 0;
  EXPECT_EQ(Connect("Unknown reader", pcsc::kShareDirect, 0, &unknown), pcsc::kUnknownReader);
  for (const ConnectCase& c : cases) {
    SetUp();
    if (c.card) sim::InsertCard(kBirch, CardWith(c.card_protocols));
    pcsc::CardHandle card = 0;
    uint32_t active = 0xFF;
    const std::string what = std::to_string(c.card) + "/" + std::to_string(c.card_protocols) + "/" +
                             std::to_string(c.share) + "/" + std::to_string(c.preferred);
    ASSERT_EQ(Connect(kBirch, c.share, c.preferred, &card, &active), c.result) << what;
    if (c.result == pcsc::kSuccess) {
      EXPECT_NE(card, 0u) << what;
      EXPECT_EQ(active, c.protocol) << what;
    } else {
      EXPECT_EQ(sim::OpenConnections(), 0u) << what;
    }
  }
}

TEST_F(SimConnectTest, ExclusiveHoldOfAnotherApplicationBlocksCardConnections) {
  sim::InsertCard(kBirch, CardWith(3));
  sim::HoldExclusively(kBirch, true);
  pcsc::CardHandle card = 0;
  EXPECT_EQ(Connect(kBirch, pcsc::kShareShared, 3, &card), pcsc::kSharingViolation);
  EXPECT_EQ(Connect(kBirch, pcsc::kShareExclusive, 3, &card), pcsc::kSharingViolation);
  ASSERT_EQ(Connect(kBirch, pcsc::kShareDirect, 0, &card), pcsc::kSuccess);
  sim::HoldExclusively(kBirch, false);
  EXPECT_EQ(Connect(kBirch, pcsc::kShareShared, 3, &card), pcsc::kSuccess);
}

TEST_F(SimConnectTest, OwnExclusiveAndSharedConnectionsExcludeEachOther) {
  sim::InsertCard(kBirch, CardWith(3));
  pcsc::CardHandle first = 0;
  pcsc::CardHandle second = 0;
  ASSERT_EQ(Connect(kBirch, pcsc::kShareExclusive, 3, &first), pcsc::kSuccess);
  EXPECT_EQ(Connect(kBirch, pcsc::kShareShared, 3, &second), pcsc::kSharingViolation);
  ASSERT_EQ(pcsc::SCardDisconnect(first, pcsc::kLeaveCard), pcsc::kSuccess);
  ASSERT_EQ(Connect(kBirch, pcsc::kShareShared, 3, &first), pcsc::kSuccess);
  EXPECT_EQ(Connect(kBirch, pcsc::kShareExclusive, 3, &second), pcsc::kSharingViolation);
  EXPECT_EQ(Connect(kBirch, pcsc::kShareShared, 3, &second), pcsc::kSuccess);
  EXPECT_NE(first, second);
}

TEST_F(SimConnectTest, DispositionsDecideWhetherTheCardKeepsItsState) {
  sim::InsertCard(kBirch, CardWith(3));
  pcsc::CardHandle card = 0;
  Bytes response;
  ASSERT_EQ(Connect(kBirch, pcsc::kShareShared, 3, &card), pcsc::kSuccess);
  ASSERT_EQ(Transmit(card, pcsc::kProtocolT0, kSelect2F02), pcsc::kSuccess);
  ASSERT_EQ(pcsc::SCardDisconnect(card, pcsc::kLeaveCard), pcsc::kSuccess);
  ASSERT_EQ(Connect(kBirch, pcsc::kShareShared, 3, &card), pcsc::kSuccess);
  ASSERT_EQ(Transmit(card, pcsc::kProtocolT0, kRead, &response), pcsc::kSuccess);
  EXPECT_EQ(response, (Bytes{0x01, 0x02, 0x03, 0x90, 0x00}));  // still selected
  ASSERT_EQ(pcsc::SCardDisconnect(card, pcsc::kResetCard), pcsc::kSuccess);
  ASSERT_EQ(Connect(kBirch, pcsc::kShareShared, 3, &card), pcsc::kSuccess);
  ASSERT_EQ(Transmit(card, pcsc::kProtocolT0, kRead, &response), pcsc::kSuccess);
  EXPECT_EQ(response, (Bytes{0x69, 0x86}));  // reset: nothing selected
  EXPECT_EQ(pcsc::SCardDisconnect(card, 7), pcsc::kInvalidValue);
}

// ---- Reconnect, resets and removals ----

using SimReconnectTest = SimPcscTest;

TEST_F(SimReconnectTest, ResetByOneHandleIsReportedToTheOtherUntilItReconnects) {
  sim::InsertCard(kBirch, CardWith(3));
  pcsc::CardHandle first = 0;
  pcsc::CardHandle second = 0;
  uint32_t active = 0;
  ASSERT_EQ(Connect(kBirch, pcsc::kShareShared, 3, &first), pcsc::kSuccess);
  ASSERT_EQ(Connect(kBirch, pcsc::kShareShared, 3, &second), pcsc::kSuccess);
  ASSERT_EQ(pcsc::SCardReconnect(first, pcsc::kShareShared, 3, pcsc::kResetCard, &active),
            pcsc::kSuccess);
  EXPECT_EQ(Transmit(first, pcsc::kProtocolT0, kSelect2F02), pcsc::kSuccess);
  EXPECT_EQ(Transmit(second, pcsc::kProtocolT0, kSelect2F02), pcsc::kCardWasReset);
  EXPECT_EQ(Transmit(second, pcsc::kProtocolT0, kSelect2F02), pcsc::kCardWasReset);
  ASSERT_EQ(pcsc::SCardReconnect(second, pcsc::kShareShared, 3, pcsc::kLeaveCard, &active),
            pcsc::kSuccess);
  EXPECT_EQ(Transmit(second, pcsc::kProtocolT0, kSelect2F02), pcsc::kSuccess);
}

TEST_F(SimReconnectTest, SoleUserRenegotiatesTheProtocol) {
  sim::InsertCard(kBirch, CardWith(3));
  pcsc::CardHandle card = 0;
  uint32_t active = 0;
  ASSERT_EQ(Connect(kBirch, pcsc::kShareShared, 3, &card, &active), pcsc::kSuccess);
  ASSERT_EQ(active, pcsc::kProtocolT0);
  ASSERT_EQ(
      pcsc::SCardReconnect(card, pcsc::kShareShared, pcsc::kProtocolT1, pcsc::kLeaveCard, &active),
      pcsc::kSuccess);
  EXPECT_EQ(active, pcsc::kProtocolT1);
  EXPECT_EQ(Transmit(card, pcsc::kProtocolT0, kSelect2F02), pcsc::kProtoMismatch);
  EXPECT_EQ(Transmit(card, pcsc::kProtocolT1, kSelect2F02), pcsc::kSuccess);
}

TEST_F(SimReconnectTest, RemovedCardStaysLostForTheHandleEvenWhenReinserted) {
  sim::InsertCard(kBirch, CardWith(3));
  pcsc::CardHandle card = 0;
  uint32_t active = 0;
  ASSERT_EQ(Connect(kBirch, pcsc::kShareShared, 3, &card), pcsc::kSuccess);
  sim::RemoveCard(kBirch);
  EXPECT_EQ(Transmit(card, pcsc::kProtocolT0, kSelect2F02), pcsc::kRemovedCard);
  sim::InsertCard(kBirch, CardWith(3));
  EXPECT_EQ(Transmit(card, pcsc::kProtocolT0, kSelect2F02), pcsc::kRemovedCard);
  EXPECT_EQ(pcsc::SCardReconnect(card, pcsc::kShareShared, 3, pcsc::kLeaveCard, &active),
            pcsc::kRemovedCard);
  EXPECT_EQ(pcsc::SCardDisconnect(card, pcsc::kResetCard), pcsc::kSuccess);
}

TEST_F(SimReconnectTest, RemovedReaderMakesItsHandlesUnavailable) {
  sim::InsertCard(kBirch, CardWith(3));
  pcsc::CardHandle card = 0;
  uint32_t active = 0;
  ASSERT_EQ(Connect(kBirch, pcsc::kShareShared, 3, &card), pcsc::kSuccess);
  sim::RemoveReader(kBirch);
  sim::AddReader({kBirch});  // attached again: a new reader for the resource manager
  EXPECT_EQ(Transmit(card, pcsc::kProtocolT0, kSelect2F02), pcsc::kReaderUnavailable);
  EXPECT_EQ(pcsc::SCardReconnect(card, pcsc::kShareShared, 3, pcsc::kLeaveCard, &active),
            pcsc::kReaderUnavailable);
  EXPECT_EQ(pcsc::SCardDisconnect(card, pcsc::kLeaveCard), pcsc::kSuccess);
}

// ---- Transmit ----

using SimTransmitTest = SimPcscTest;

TEST_F(SimTransmitTest, CommandReachesTheCardAndIsLogged) {
  sim::InsertCard(kBirch, CardWith(3));
  pcsc::CardHandle card = 0;
  ASSERT_EQ(Connect(kBirch, pcsc::kShareShared, 3, &card), pcsc::kSuccess);
  ASSERT_EQ(Transmit(card, pcsc::kProtocolT0, kSelect2F02), pcsc::kSuccess);
  pcsc::IoRequest send{pcsc::kProtocolT0, sizeof(pcsc::IoRequest)};
  pcsc::IoRequest receive{0, sizeof(pcsc::IoRequest)};
  uint8_t buffer[16];
  uint32_t length = sizeof buffer;
  ASSERT_EQ(pcsc::SCardTransmit(card, &send, kRead.data(), 5, &receive, buffer, &length),
            pcsc::kSuccess);
  EXPECT_EQ(Bytes(buffer, buffer + length), (Bytes{0x01, 0x02, 0x03, 0x90, 0x00}));
  EXPECT_EQ(receive.protocol, pcsc::kProtocolT0);
  const sim::Call& last = sim::Calls().back();
  EXPECT_EQ(last.fn, sim::Fn::kTransmit);
  EXPECT_EQ(last.card, card);
  EXPECT_EQ(last.reader, kBirch);
  EXPECT_EQ(last.input, kRead);
  length = 4;
  EXPECT_EQ(pcsc::SCardTransmit(card, &send, kRead.data(), 5, nullptr, buffer, &length),
            pcsc::kInsufficientBuffer);
  EXPECT_EQ(length, 5u);
}

TEST_F(SimTransmitTest, DirectAndUnknownHandlesReachNoCard) {
  pcsc::CardHandle direct = 0;
  ASSERT_EQ(Connect(kBirch, pcsc::kShareDirect, 0, &direct), pcsc::kSuccess);
  EXPECT_EQ(Transmit(direct, pcsc::kProtocolT0, kSelect2F02), pcsc::kNoSmartcard);
  sim::InsertCard(kBirch, CardWith(3));
  EXPECT_EQ(Transmit(direct, pcsc::kProtocolT0, kSelect2F02), pcsc::kProtoMismatch);
  EXPECT_EQ(Transmit(direct + 100, pcsc::kProtocolT0, kSelect2F02), pcsc::kInvalidHandle);
}

// A card may answer nothing at all and have an empty answer to reset: every call that hands
// them over delivers zero bytes.
TEST_F(SimTransmitTest, EmptyAnswersAndAnswerToResetAreDeliveredAsNothing) {
  cards::CardSpec spec = CardWith(3);
  spec.atr = {};
  spec.replies = {{}};
  sim::InsertCard(kBirch, spec);
  pcsc::CardHandle card = 0;
  ASSERT_EQ(Connect(kBirch, pcsc::kShareShared, 3, &card), pcsc::kSuccess);
  Bytes response = {0xAA};
  EXPECT_EQ(Transmit(card, pcsc::kProtocolT0, kRead, &response), pcsc::kSuccess);
  EXPECT_EQ(response, Bytes{});
  uint8_t value[8] = {};
  uint32_t length = sizeof value;
  EXPECT_EQ(pcsc::SCardGetAttrib(card, pcsc::kAttrAtrString, value, &length), pcsc::kSuccess);
  EXPECT_EQ(length, 0u);
  uint8_t* allocated = nullptr;
  length = pcsc::kAutoAllocate;
  EXPECT_EQ(pcsc::SCardGetAttrib(card, pcsc::kAttrAtrString, reinterpret_cast<uint8_t*>(&allocated),
                                 &length),
            pcsc::kSuccess);
  EXPECT_EQ(length, 0u);
  pcsc::SCardFreeMemory(context_, allocated);
  pcsc::ReaderState state{};
  EXPECT_EQ(Status(kBirch, pcsc::kStateUnaware, 0, &state), pcsc::kSuccess);
  EXPECT_EQ(state.atr_length, 0u);
}

// ---- Attributes ----

using SimGetAttribTest = SimPcscTest;

TEST_F(SimGetAttribTest, AtrAndProtocolWithLengthQueryAndShortBuffer) {
  sim::InsertCard(kBirch, CardWith(pcsc::kProtocolT1));
  pcsc::CardHandle card = 0;
  ASSERT_EQ(Connect(kBirch, pcsc::kShareShared, 3, &card), pcsc::kSuccess);
  uint32_t length = 0;
  ASSERT_EQ(pcsc::SCardGetAttrib(card, pcsc::kAttrAtrString, nullptr, &length), pcsc::kSuccess);
  EXPECT_EQ(length, CardWith(3).atr.size());
  uint8_t value[8] = {};
  length = 3;
  EXPECT_EQ(pcsc::SCardGetAttrib(card, pcsc::kAttrAtrString, value, &length),
            pcsc::kInsufficientBuffer);
  length = sizeof value;
  ASSERT_EQ(pcsc::SCardGetAttrib(card, pcsc::kAttrAtrString, value, &length), pcsc::kSuccess);
  EXPECT_EQ(Bytes(value, value + length), CardWith(3).atr);
  length = sizeof value;
  ASSERT_EQ(pcsc::SCardGetAttrib(card, pcsc::kAttrCurrentProtocolType, value, &length),
            pcsc::kSuccess);
  EXPECT_EQ(Bytes(value, value + length), (Bytes{0x02, 0x00, 0x00, 0x00}));
  EXPECT_EQ(pcsc::SCardGetAttrib(card, 0x00010100, value, &length), pcsc::kUnsupportedFeature);
}

}  // namespace
