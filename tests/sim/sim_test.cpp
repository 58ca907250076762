// SPDX-License-Identifier: BSD-3-Clause
// The simulator's control API: the virtual clock behind the platform clock, scheduled card
// events, fault injection counted per function, and the call log.
#include "sim/sim.h"

#include <gtest/gtest.h>

#include "pcsc/pcsc.h"
#include "platform/clock.h"

namespace {

constexpr char kReader[] = "TREVANO Kelvane Cypress 0";

class SimControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    sim::AddReader({kReader, true, true, true});
  }

  bool CardPresent() {
    pcsc::Context context = 0;
    if (pcsc::SCardEstablishContext(pcsc::kScopeUser, &context) != pcsc::kSuccess) return false;
    pcsc::ReaderState state{};
    state.reader = kReader;
    pcsc::SCardGetStatusChangeA(context, 0, &state, 1);
    pcsc::SCardReleaseContext(context);
    return (state.event_state & pcsc::kStatePresent) != 0;
  }
};

// ---- Virtual clock ----

using SimClockTest = SimControlTest;

TEST_F(SimClockTest, SleepAndAdvanceMoveThePlatformClock) {
  EXPECT_EQ(sim::NowMs(), 0u);
  platform::SleepMs(700);
  EXPECT_EQ(sim::NowMs(), 700u);
  EXPECT_EQ(platform::MonotonicMs(), 700u);
  sim::AdvanceMs(300);
  EXPECT_EQ(platform::MonotonicMs(), 1000u);
  sim::Reset();
  EXPECT_EQ(sim::NowMs(), 0u);
}

TEST_F(SimClockTest, ScheduledEventsHappenWhenTheClockReachesThem) {
  sim::InsertCardAt(kReader, cards::CardSpec{}, 100);
  sim::RemoveCardAt(kReader, 250);
  sim::AdvanceMs(99);
  EXPECT_FALSE(CardPresent());
  platform::SleepMs(1);
  EXPECT_TRUE(CardPresent());
  sim::AdvanceMs(150);
  EXPECT_FALSE(CardPresent());
  sim::InsertCardAt(kReader, cards::CardSpec{}, 10);  // in the past: at once
  EXPECT_TRUE(CardPresent());
  EXPECT_EQ(sim::NowMs(), 250u);
}

// ---- Fault injection ----

using SimFaultTest = SimControlTest;

TEST_F(SimFaultTest, NthCallAnswersTheFaultAndDoesNothingElse) {
  sim::FailCall(sim::Fn::kEstablishContext, 2, pcsc::kNoMemory);
  pcsc::Context first = 0;
  pcsc::Context second = 0;
  pcsc::Context third = 0;
  ASSERT_EQ(pcsc::SCardEstablishContext(pcsc::kScopeUser, &first), pcsc::kSuccess);
  EXPECT_EQ(pcsc::SCardEstablishContext(pcsc::kScopeUser, &second), pcsc::kNoMemory);
  EXPECT_EQ(second, 0u);
  EXPECT_EQ(sim::OpenContexts(), 1u);
  EXPECT_EQ(pcsc::SCardEstablishContext(pcsc::kScopeUser, &third), pcsc::kSuccess);
  ASSERT_EQ(sim::Calls().size(), 3u);
  EXPECT_EQ(sim::Calls()[1].result, pcsc::kNoMemory);
}

TEST_F(SimFaultTest, FaultsOnTheSameCallQueueUp) {
  sim::FailCall(sim::Fn::kEstablishContext, 1, pcsc::kNoMemory);
  sim::FailCall(sim::Fn::kEstablishContext, 1, pcsc::kInternalError);
  pcsc::Context context = 0;
  EXPECT_EQ(pcsc::SCardEstablishContext(pcsc::kScopeUser, &context), pcsc::kNoMemory);
  EXPECT_EQ(pcsc::SCardEstablishContext(pcsc::kScopeUser, &context), pcsc::kInternalError);
  EXPECT_EQ(pcsc::SCardEstablishContext(pcsc::kScopeUser, &context), pcsc::kSuccess);
}

TEST_F(SimFaultTest, FailedWaitDoesNotMoveTheClockAndOtherFunctionsAreNotCounted) {
  pcsc::Context context = 0;
  ASSERT_EQ(pcsc::SCardEstablishContext(pcsc::kScopeUser, &context), pcsc::kSuccess);
  sim::FailCall(sim::Fn::kGetStatusChange, 1, pcsc::kTimeout);
  uint32_t length = 0;
  ASSERT_EQ(pcsc::SCardListReadersA(context, nullptr, nullptr, &length), pcsc::kSuccess);
  pcsc::ReaderState state{};
  state.reader = kReader;
  EXPECT_EQ(pcsc::SCardGetStatusChangeA(context, 5000, &state, 1), pcsc::kTimeout);
  EXPECT_EQ(state.event_state, 0u);
  EXPECT_EQ(sim::NowMs(), 0u);
  EXPECT_EQ(pcsc::SCardGetStatusChangeA(context, 5000, &state, 1), pcsc::kSuccess);
}

// ---- Call log ----

using SimCallLogTest = SimControlTest;

TEST_F(SimCallLogTest, RecordsTimeContextReaderAndResult) {
  pcsc::Context context = 0;
  ASSERT_EQ(pcsc::SCardEstablishContext(pcsc::kScopeUser, &context), pcsc::kSuccess);
  sim::AdvanceMs(42);
  pcsc::CardHandle card = 0;
  uint32_t active = 0;
  EXPECT_EQ(pcsc::SCardConnectA(context, kReader, pcsc::kShareShared, 3, &card, &active),
            pcsc::kNoSmartcard);
  ASSERT_EQ(sim::Calls().size(), 2u);
  const sim::Call& call = sim::Calls()[1];
  EXPECT_EQ(call.fn, sim::Fn::kConnect);
  EXPECT_EQ(call.time_ms, 42u);
  EXPECT_EQ(call.result, pcsc::kNoSmartcard);
  EXPECT_EQ(call.reader, kReader);
  EXPECT_EQ(call.context, context);
  EXPECT_EQ(call.share_mode, pcsc::kShareShared);
  EXPECT_EQ(call.protocols, 3u);
  EXPECT_EQ(sim::CountCalls(sim::Fn::kConnect), 1u);
  sim::ClearCalls();
  EXPECT_TRUE(sim::Calls().empty());
  EXPECT_EQ(sim::CountCalls(sim::Fn::kConnect), 0u);
}

TEST(SimMisuseDeathTest, NamingAReaderThatIsNotAttachedStopsTheTest) {
  sim::Reset();
  EXPECT_DEATH(sim::InsertCard("Unknown reader", cards::CardSpec{}), "no reader named");
}

}  // namespace
