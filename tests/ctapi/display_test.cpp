// SPDX-License-Identifier: BSD-3-Clause
// INPUT and OUTPUT on a reader with a display and a keypad: the prompts and texts as the driver
// receives them, the key dialogue with its time-outs on the virtual clock, the confirmation, the
// endings, and the connection used and given back.
#include "ctapi/display.h"

#include <string>
#include <vector>

#include "ctapi/ctapi.h"
#include "pcsc/pcsc.h"
#include "tests/ctapi/ctapi_fixture.h"

namespace {

using ctapitest::Bytes;
using ctapitest::CtData;
using ctapitest::Exchange;

constexpr char kCypress[] = "TREVANO Kelvane Cypress 0";

// A text request as the driver received it.
struct Shown {
  uint16_t tenths;
  uint8_t line;
  std::string text;  // up to the first zero byte
  size_t size;       // the request's length
};

class DisplayTest : public ctapitest::CtapiTest {
 protected:
  void SetUp() override {
    CtapiTest::SetUp();
    Open(kCypress, 30, true);
    sim::ClearCalls();
  }
  Exchange Input(const Bytes& command, uint16_t capacity = 258) {
    return CtData(1, 1, command, capacity);
  }
  std::vector<Shown> TextRequests() {
    std::vector<Shown> shown;
    for (const sim::ControlRecord& control : sim::Controls()) {
      if (control.code != pcsc::kCtlShowText || control.input.size() < 4) continue;
      const Bytes& in = control.input;
      std::string text;
      for (size_t i = 4; i < in.size() && in[i] != 0; ++i)
        text.push_back(static_cast<char>(in[i]));
      shown.push_back({static_cast<uint16_t>(in[0] | in[1] << 8), in[2] == 0 ? in[3] : uint8_t(9),
                       text, in.size()});
    }
    return shown;
  }
  std::vector<Bytes> KeyRequests() {
    std::vector<Bytes> requests;
    for (const sim::ControlRecord& control : sim::Controls()) {
      if (control.code == pcsc::kCtlReadKey) requests.push_back(control.input);
    }
    return requests;
  }
  static std::string Trimmed(const std::string& text) {
    return text.substr(0, text.find_last_not_of(' ') + 1);
  }
};

TEST_F(DisplayTest, DefaultPromptAndNoKey) {
  Exchange out = Input({0x20, 0x16, 0x50, 0x00});
  EXPECT_EQ(out.code, OK);
  EXPECT_EQ(out.response, (Bytes{0x64, 0x00}));
  EXPECT_EQ(out.sad, 1);
  EXPECT_EQ(out.dad, 2);
  std::vector<Shown> shown = TextRequests();
  ASSERT_GE(shown.size(), 3u);
  EXPECT_EQ(shown[0].line, 0);
  EXPECT_EQ(Trimmed(shown[0].text), "Bitte Daten-");
  EXPECT_EQ(shown[0].size, 85u);
  EXPECT_EQ(shown[1].line, 1);
  EXPECT_EQ(shown[1].text, "eingabe ");  // the (empty) text after the prompt follows a blank
  EXPECT_EQ(shown[2].text.substr(0, 7), "Abbruch");
  std::vector<Bytes> keys = KeyRequests();
  ASSERT_EQ(keys.size(), 1u);
  // 15 s as 15000 ms, echo mode 2 for P2 0, the cursor after "eingabe" and its blank.
  EXPECT_EQ(keys[0], (Bytes{0x98, 0x3A, 0x02, 0x08, 0x01}));
  // No card: a direct connection of its own, given back with the control code and the pause.
  EXPECT_EQ(SlotAt(0).direct_connected, 1u);
  EXPECT_EQ(sim::Controls().back().code, pcsc::kCtlBeforeDirectClose);
  EXPECT_EQ(sim::NowMs(), 15000u + 700u);
  EXPECT_EQ(sim::OpenConnections(), 0u);
  EXPECT_EQ(SlotAt(0).display_used, 1u);
  EXPECT_EQ(SlotAt(0).display_mode_set, 1u);
}

TEST_F(DisplayTest, InputEndsAfterLeCharacters) {
  sim::QueueKeys(kCypress, {'1', '2', '3', '4', '5'});
  Exchange out = Input({0x20, 0x16, 0x50, 0x00, 0x04});
  EXPECT_EQ(out.response, (Bytes{0x31, 0x32, 0x33, 0x34, 0x90, 0x00}));
  EXPECT_EQ(KeyRequests().size(), 4u);
  // The keypad was switched on and off again.
  std::vector<Bytes> switches;
  for (const sim::ControlRecord& control : sim::Controls()) {
    if (control.code == pcsc::kCtlKeypadInput) switches.push_back(control.input);
  }
  EXPECT_EQ(switches, (std::vector<Bytes>{{0x01}, {0x00}}));
}

TEST_F(DisplayTest, PauseAsksForConfirmation) {
  struct Case {
    uint8_t p2;
    const char* shown_after;
  };
  const Case cases[] = {{0x01, "bestaetigen 12"}, {0x02, "bestaetigen **"}, {0x00, "bestaetigen"}};
  for (const Case& c : cases) {
    sim::ClearCalls();
    sim::QueueKeys(kCypress, {'1', '2', 0, 13});
    Exchange out = Input({0x20, 0x16, 0x50, c.p2});
    EXPECT_EQ(out.response, (Bytes{0x31, 0x32, 0x90, 0x00})) << int(c.p2);
    std::vector<Shown> shown = TextRequests();
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(Trimmed(shown[2].text), "Bitte Eingabe");
    EXPECT_EQ(Trimmed(shown[3].text), c.shown_after) << int(c.p2);
    // Later keys wait 5 s each.
    std::vector<Bytes> keys = KeyRequests();
    ASSERT_EQ(keys.size(), 4u);
    EXPECT_EQ(keys[1][0] | keys[1][1] << 8, 5000);
  }
  // No key after the confirmation either: cancelled.
  sim::ClearCalls();
  sim::QueueKeys(kCypress, {'1', '2', 0, 0});
  EXPECT_EQ(Input({0x20, 0x16, 0x50, 0x01}).response, (Bytes{0x64, 0x00}));
  EXPECT_EQ(TextRequests().back().text.substr(0, 7), "Abbruch");
}

TEST_F(DisplayTest, KeyEndings) {
  struct Case {
    Bytes keys;
    Bytes response;
  };
  const Case cases[] = {
      {{'1', 27}, {0x64, 0x01}},
      {{13}, {0x90, 0x00}},
      {{'#', '7', 0x41, '*', ',', 13}, {'7', '*', ',', 0x90, 0x00}},
  };
  for (const Case& c : cases) {
    sim::QueueKeys(kCypress, c.keys);
    EXPECT_EQ(Input({0x20, 0x16, 0x50, 0x01}).response, c.response);
  }
}

TEST_F(DisplayTest, WaitingTimeObjects) {
  for (const Bytes& data : {Bytes{0x80, 0x01, 0x1E}, Bytes{0x80, 0x02, 0x1E, 0x00}}) {
    sim::ClearCalls();
    Bytes command = {0x20, 0x16, 0x50, 0x01, static_cast<uint8_t>(data.size())};
    command.insert(command.end(), data.begin(), data.end());
    sim::QueueKeys(kCypress, {13});
    EXPECT_EQ(Input(command).response, (Bytes{0x90, 0x00}));
    const Bytes first = KeyRequests().at(0);
    EXPECT_EQ(first[0] | first[1] << 8, 30000);
  }
  // 70 s travel as 70000 modulo 65536 ms.
  sim::ClearCalls();
  sim::QueueKeys(kCypress, {13});
  Input({0x20, 0x16, 0x50, 0x01, 0x03, 0x80, 0x01, 70});
  EXPECT_EQ(KeyRequests().at(0)[0] | KeyRequests().at(0)[1] << 8, 4464);
}

TEST_F(DisplayTest, OwnPromptAndBadEchoMode) {
  sim::QueueKeys(kCypress, {13});
  Input({0x20, 0x16, 0x50, 0x01, 0x06, 0x50, 0x04, 'P', 'I', 'N', '?'});
  EXPECT_EQ(Trimmed(TextRequests().at(0).text), "PIN?");
  EXPECT_EQ(KeyRequests().at(0)[3], 0);  // one line: the cursor starts at column 0
  sim::ClearCalls();
  const uint64_t before = sim::NowMs();
  EXPECT_EQ(Input({0x20, 0x16, 0x50, 0x03}).response, (Bytes{0x6A, 0x00}));
  EXPECT_TRUE(KeyRequests().empty());
  EXPECT_EQ(sim::NowMs() - before, 700u);  // connected and given back
}

TEST_F(DisplayTest, InputLongerThanTheBuffer) {
  sim::QueueKeys(kCypress, {'1', '2', '3', '4', '5', 13});
  Exchange out = Input({0x20, 0x16, 0x50, 0x01}, 6);
  EXPECT_EQ(out.code, ERR_MEMORY);
  EXPECT_EQ(out.response, (Bytes{0x64, 0x00}));
}

TEST_F(DisplayTest, OutputTexts) {
  Exchange two = Input({0x20, 0x17, 0x40, 0x00, 0x0D, 0x50, 0x0B, 'H', 'a', 'l', 'l', 'o', '\n',
                        'W', 'e', 'l', 't', '!'});
  EXPECT_EQ(two.response, (Bytes{0x90, 0x00}));
  std::vector<Shown> shown = TextRequests();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(Trimmed(shown[0].text), "Hallo");
  EXPECT_EQ(shown[0].line, 0);
  EXPECT_EQ(shown[1].text, "Welt!");
  EXPECT_EQ(shown[1].line, 1);

  sim::ClearCalls();
  Bytes timed = {0x20, 0x17, 0x40, 0x00, 0x08, 0x50, 0x03, 'O', 'K', '!', 0x80, 0x01, 0x03};
  timed[4] = 0x08;
  EXPECT_EQ(Input(timed).response, (Bytes{0x90, 0x00}));
  ASSERT_EQ(TextRequests().size(), 1u);
  EXPECT_EQ(TextRequests()[0].tenths, 30);

  sim::ClearCalls();
  Bytes long_line = {0x20, 0x17, 0x40, 0x00, 47, 0x50, 45};
  for (int i = 0; i < 45; ++i)
    long_line.push_back(static_cast<uint8_t>('a' + i % 26));
  EXPECT_EQ(Input(long_line).response, (Bytes{0x90, 0x00}));
  ASSERT_EQ(TextRequests().size(), 1u);
  EXPECT_EQ(TextRequests()[0].text.size(), 39u);  // 39 characters, then a zero byte

  EXPECT_EQ(Input({0x20, 0x17, 0x40, 0x00, 0x10}).response, (Bytes{0x67, 0x00}));
}

TEST_F(DisplayTest, KeptCardConnectionIsUsed) {
  sim::InsertCard(kCypress, cards::CardSpec{});
  ASSERT_EQ(Input({0x20, 0x12, 0x01, 0x00, 0x00}).response, (Bytes{0x90, 0x01}));
  sim::ClearCalls();
  const uint64_t before = sim::NowMs();
  EXPECT_EQ(Input({0x20, 0x17, 0x40, 0x00, 0x05, 0x50, 0x03, 'O', 'K', '!'}).response,
            (Bytes{0x90, 0x00}));
  EXPECT_EQ(sim::CountCalls(sim::Fn::kConnect), 0u);
  EXPECT_EQ(sim::CountCalls(sim::Fn::kDisconnect), 0u);
  EXPECT_EQ(sim::NowMs(), before);  // nothing given back, no pause
  EXPECT_NE(SlotAt(0).card_handle, ctapi::kNoCardHandle);
}

}  // namespace
