// SPDX-License-Identifier: BSD-3-Clause
// The simulated reader driver behind SCardControl: which readers accept which vendor codes, the
// display lines, the key queue with its time-out on the virtual clock, and the control records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pcsc/pcsc.h"
#include "sim/sim.h"

namespace {

constexpr char kPlain[] = "TREVANO Kelvane Birch 0";
constexpr char kCypress[] = "TREVANO Kelvane Cypress 0";

class SimDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    sim::AddReader({kPlain});
    sim::AddReader({kCypress, true, true, true});
    ASSERT_EQ(pcsc::SCardEstablishContext(pcsc::kScopeUser, &context_), pcsc::kSuccess);
    uint32_t active = 0;
    ASSERT_EQ(pcsc::SCardConnectA(context_, kPlain, pcsc::kShareDirect, 0, &plain_, &active),
              pcsc::kSuccess);
    ASSERT_EQ(pcsc::SCardConnectA(context_, kCypress, pcsc::kShareDirect, 0, &cypress_, &active),
              pcsc::kSuccess);
  }

  pcsc::Result Control(pcsc::CardHandle card, uint32_t code, const std::vector<uint8_t>& input,
                       uint8_t* key = nullptr) {
    uint32_t returned = 0xFF;
    return pcsc::SCardControl(card, code, input.empty() ? nullptr : input.data(),
                              static_cast<uint32_t>(input.size()), key, key ? 1 : 0, &returned);
  }

  // The 85 bytes of a show-text request for `line`.
  static std::vector<uint8_t> TextRequest(uint8_t line, const std::string& text) {
    std::vector<uint8_t> input = {0x64, 0x00, 0x00, line};
    input.reserve(85);
    input.insert(input.end(), text.begin(), text.end());
    input.resize(85, 0x00);
    return input;
  }

  // A read-key request with the given time-out.
  static std::vector<uint8_t> KeyRequest(uint16_t timeout_ms) {
    return {static_cast<uint8_t>(timeout_ms & 0xFF), static_cast<uint8_t>(timeout_ms >> 8), 0, 0,
            1};
  }

  pcsc::Context context_ = 0;
  pcsc::CardHandle plain_ = 0;
  pcsc::CardHandle cypress_ = 0;
};

TEST_F(SimDriverTest, CodesNeedTheReaderFeatureTheyDrive) {
  struct Case {
    uint32_t code;
    std::vector<uint8_t> input;
    bool needs_feature;
  };
  const Case cases[] = {
      {pcsc::kCtlPrepareDisplay, {0x01}, true},
      {pcsc::kCtlShowText, TextRequest(0, "PIN"), true},
      {pcsc::kCtlKeypadInput, {0x01}, true},
      {pcsc::kCtlBeforeDirectClose, {}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Control(plain_, c.code, c.input),
              c.needs_feature ? pcsc::kUnsupportedFeature : pcsc::kSuccess)
        << std::hex << c.code;
    EXPECT_EQ(Control(cypress_, c.code, c.input), pcsc::kSuccess) << std::hex << c.code;
  }
  uint8_t key = 0xFF;
  EXPECT_EQ(Control(plain_, pcsc::kCtlReadKey, KeyRequest(10), &key), pcsc::kUnsupportedFeature);
  EXPECT_EQ(Control(cypress_, pcsc::CtlCode(3400), {}), pcsc::kUnsupportedFeature);
}

TEST_F(SimDriverTest, ShownTextsStayUntilTheDisplayIsGivenBack) {
  ASSERT_EQ(Control(cypress_, pcsc::kCtlPrepareDisplay, {0x01}), pcsc::kSuccess);
  ASSERT_EQ(Control(cypress_, pcsc::kCtlShowText, TextRequest(1, "Enter PIN")), pcsc::kSuccess);
  EXPECT_EQ(sim::DisplayLines(kCypress), (std::vector<std::string>{"", "Enter PIN"}));
  EXPECT_EQ(Control(cypress_, pcsc::kCtlShowText, TextRequest(2, "x")), pcsc::kInvalidParameter);
  std::vector<uint8_t> short_request = TextRequest(0, "x");
  short_request.pop_back();
  EXPECT_EQ(Control(cypress_, pcsc::kCtlShowText, short_request), pcsc::kInvalidParameter);
  ASSERT_EQ(Control(cypress_, pcsc::kCtlPrepareDisplay, {0x00}), pcsc::kSuccess);
  EXPECT_EQ(sim::DisplayLines(kCypress), (std::vector<std::string>{"", ""}));
}

TEST_F(SimDriverTest, ReadKeyTakesQueuedKeysThenWaitsOutTheTimeOut) {
  sim::QueueKeys(kCypress, {0x31, 13});
  uint8_t key = 0xFF;
  ASSERT_EQ(Control(cypress_, pcsc::kCtlReadKey, KeyRequest(4464), &key), pcsc::kSuccess);
  EXPECT_EQ(key, 0x31);
  ASSERT_EQ(Control(cypress_, pcsc::kCtlReadKey, KeyRequest(4464), &key), pcsc::kSuccess);
  EXPECT_EQ(key, 13);
  EXPECT_EQ(sim::NowMs(), 0u);
  uint32_t returned = 0;
  const std::vector<uint8_t> request = KeyRequest(4464);
  ASSERT_EQ(pcsc::SCardControl(cypress_, pcsc::kCtlReadKey, request.data(), 5, &key, 1, &returned),
            pcsc::kSuccess);
  EXPECT_EQ(key, 0);
  EXPECT_EQ(returned, 1u);
  EXPECT_EQ(sim::NowMs(), 4464u);
  EXPECT_EQ(pcsc::SCardControl(cypress_, pcsc::kCtlReadKey, request.data(), 5, &key, 0, &returned),
            pcsc::kInsufficientBuffer);
}

TEST_F(SimDriverTest, RequestsAreRecordedInOrderWithReaderAndInput) {
  ASSERT_EQ(Control(cypress_, pcsc::kCtlPrepareDisplay, {0x01}), pcsc::kSuccess);
  ASSERT_EQ(Control(plain_, pcsc::kCtlPrepareDisplay, {0x00}), pcsc::kUnsupportedFeature);
  ASSERT_EQ(Control(plain_, pcsc::kCtlBeforeDirectClose, {}), pcsc::kSuccess);
  const std::vector<sim::ControlRecord> records = sim::Controls();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].reader, kCypress);
  EXPECT_EQ(records[0].code, pcsc::kCtlPrepareDisplay);
  EXPECT_EQ(records[0].input, (std::vector<uint8_t>{0x01}));
  EXPECT_EQ(records[1].reader, kPlain);
  EXPECT_EQ(records[2].code, pcsc::kCtlBeforeDirectClose);
  EXPECT_TRUE(records[2].input.empty());
  EXPECT_EQ(sim::CountCalls(sim::Fn::kControl), 3u);
}

}  // namespace
