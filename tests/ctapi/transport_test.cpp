// Commands to the card of ICC 1: the checks of the dispatcher on the way, and the transport to a
// processor card with its connection refresh, the T=0 case-2 rule and its answers.
#include "ctapi/transport.h"

#include <string>
#include <vector>

#include "ctapi/ctapi.h"
#include "pcsc/pcsc.h"
#include "tests/ctapi/ctapi_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr char kBirch[] = "TREVANO Kelvane Birch 0";

struct Exchange {
  int8_t code;
  Bytes response;
  uint8_t sad;
  uint8_t dad;
  uint16_t lenr;
};

class IccTest : public ctapitest::CtapiTest {
 protected:
  // Opens terminal 1 on `reader` with `card` in it.
  void Open(const char* reader, uint16_t pn, const cards::CardSpec& card) {
    AddReaders({reader});
    sim::InsertCard(reader, card);
    ASSERT_EQ(CT_init(1, pn), OK);
  }
  Exchange Send(uint8_t dad, const Bytes& command, uint16_t capacity = 258) {
    Exchange out{};
    Bytes buffer(capacity + 4, 0xEE);
    out.sad = 2;
    out.dad = dad;
    out.lenr = capacity;
    out.code = CT_data(1, &out.dad, &out.sad, static_cast<uint16_t>(command.size()), command.data(),
                       &out.lenr, buffer.data());
    for (size_t i = capacity; i < buffer.size(); ++i)
      EXPECT_EQ(buffer[i], 0xEE);
    out.response.assign(buffer.begin(), buffer.begin() + (out.lenr <= capacity ? out.lenr : 0));
    return out;
  }
  Exchange Request() { return Send(1, {0x20, 0x12, 0x01, 0x00, 0x00}); }
  // The commands the card received, as the simulator logged them.
  std::vector<Bytes> Transmitted() {
    std::vector<Bytes> sent;
    for (const sim::Call& call : sim::Calls()) {
      if (call.fn == sim::Fn::kTransmit) sent.push_back(call.input);
    }
    return sent;
  }

  static cards::CardSpec Card(uint32_t protocols) {
    cards::CardSpec card;
    card.protocols = protocols;
    card.files[0x2F01] = Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    card.script[Bytes{0x80, 0xCA, 0x00, 0x01, 0x00}] = Bytes{0x61, 0x10};
    card.script[Bytes{0x80, 0xCA, 0x00, 0x01}] = Bytes{0x61, 0x10};
    return card;
  }
};

TEST_F(IccTest, NoCardAndCardNotRequested) {
  AddReaders({kBirch});
  ASSERT_EQ(CT_init(1, 1), OK);
  Exchange empty = Send(0, {0x00, 0xB0, 0x00, 0x00, 0x00});
  EXPECT_EQ(empty.code, OK);
  EXPECT_EQ(empty.response, (Bytes{0x64, 0xA1}));
  EXPECT_EQ(empty.sad, 1);
  EXPECT_EQ(empty.dad, 2);
  sim::InsertCard(kBirch, Card(3));
  Exchange idle = Send(0, {0x00, 0xB0, 0x00, 0x00, 0x00});
  EXPECT_EQ(idle.response, (Bytes{0x64, 0xA2}));
  EXPECT_EQ(idle.sad, 1);
  EXPECT_TRUE(Transmitted().empty());
}

TEST_F(IccTest, FailedStatusQueryIsMapped) {
  Open(kBirch, 1, Card(3));
  ASSERT_EQ(Request().code, OK);
  sim::FailCall(sim::Fn::kGetStatusChange, 1, pcsc::kNoSmartcard);
  EXPECT_EQ(Send(0, {0x00, 0xB0, 0x00, 0x00, 0x00}).response, (Bytes{0x64, 0xA1}));
  sim::FailCall(sim::Fn::kGetStatusChange, 1, pcsc::kInvalidHandle);
  EXPECT_EQ(Send(0, {0x00, 0xB0, 0x00, 0x00, 0x00}).response, (Bytes{0x64, 0x00}));
}

TEST_F(IccTest, CaseTwoCommandOverT0LosesItsLeByte) {
  struct Case {
    uint32_t protocols;
    size_t sent_length;
  };
  for (const Case& c : {Case{1, 4}, Case{2, 5}}) {
    sim::Reset();
    AddReaders({kBirch});
    sim::InsertCard(kBirch, Card(c.protocols));
    ASSERT_EQ(CT_init(1, 1), OK);
    ASSERT_EQ(Request().code, OK);
    ASSERT_EQ(Send(0, {0x00, 0xA4, 0x02, 0x0C, 0x02, 0x2F, 0x01}).response, (Bytes{0x90, 0x00}));
    sim::ClearCalls();
    Exchange read = Send(0, {0x00, 0xB0, 0x00, 0x00, 0x00});
    EXPECT_EQ(read.code, OK);
    EXPECT_EQ(read.sad, 0);  // the card answers
    EXPECT_EQ(read.dad, 2);
    ASSERT_EQ(read.response.size(), 12u);
    EXPECT_EQ(Bytes(read.response.end() - 2, read.response.end()), (Bytes{0x90, 0x00}));
    std::vector<Bytes> sent = Transmitted();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].size(), c.sent_length) << "protocols " << c.protocols;
    // Other five-byte commands keep their length.
    sim::ClearCalls();
    Send(0, {0x00, 0xB0, 0x00, 0x00, 0x04});
    EXPECT_EQ(Transmitted().at(0).size(), 5u);
    EXPECT_EQ(CT_close(1), OK);
  }
}

TEST_F(IccTest, WarningsComeBackUnchanged) {
  Open(kBirch, 1, Card(1));
  ASSERT_EQ(Request().code, OK);
  Exchange out = Send(0, {0x80, 0xCA, 0x00, 0x01, 0x00});
  EXPECT_EQ(out.code, OK);
  EXPECT_EQ(out.response, (Bytes{0x61, 0x10}));
  EXPECT_EQ(out.lenr, 2);
  EXPECT_EQ(Transmitted().size(), 1u);  // no GET RESPONSE behind the caller's back
}

TEST_F(IccTest, AnswerLongerThanTheBuffer) {
  Open(kBirch, 1, Card(2));
  ASSERT_EQ(Request().code, OK);
  ASSERT_EQ(Send(0, {0x00, 0xA4, 0x02, 0x0C, 0x02, 0x2F, 0x01}).code, OK);
  Exchange out = Send(0, {0x00, 0xB0, 0x00, 0x00, 0x0A}, 2);
  EXPECT_EQ(out.code, ERR_MEMORY);
  EXPECT_EQ(out.lenr, 0);
  EXPECT_EQ(out.sad, 1);
}

TEST_F(IccTest, RefusedReconnectSendsNothing) {
  Open(kBirch, 1, Card(3));
  ASSERT_EQ(Request().code, OK);
  sim::HoldExclusively(kBirch, true);
  sim::ClearCalls();
  Exchange out = Send(0, {0x00, 0xB0, 0x00, 0x00, 0x00});
  EXPECT_EQ(out.code, OK);
  EXPECT_EQ(out.response, (Bytes{0x6F, 0x00}));
  EXPECT_EQ(out.sad, 0);
  EXPECT_TRUE(Transmitted().empty());
  EXPECT_EQ(sim::CountCalls(sim::Fn::kReconnect), 1u);
}

TEST_F(IccTest, CardGoneBetweenCommands) {
  Open(kBirch, 1, Card(3));
  ASSERT_EQ(Request().code, OK);
  // Pulled out and put back: the old connection is dead, the card must be requested anew.
  sim::RemoveCard(kBirch);
  sim::InsertCard(kBirch, Card(3));
  Exchange out = Send(0, {0x00, 0xB0, 0x00, 0x00, 0x00});
  EXPECT_EQ(out.response, (Bytes{0x64, 0xA2}));
  EXPECT_EQ(SlotAt(0).icc_active, 0u);
  EXPECT_EQ(Send(0, {0x00, 0xB0, 0x00, 0x00, 0x00}).response, (Bytes{0x64, 0xA2}));
  sim::RemoveCard(kBirch);
  EXPECT_EQ(Send(0, {0x00, 0xB0, 0x00, 0x00, 0x00}).response, (Bytes{0x64, 0xA1}));
}

TEST_F(IccTest, O2MicroReaderPrefersT1) {
  AddReaders({"O2Micro PCMCIA Reader 0", "O2Micro PCMCIA Reader 1"});
  sim::InsertCard("O2Micro PCMCIA Reader 0", Card(3));
  sim::InsertCard("O2Micro PCMCIA Reader 1", Card(1));
  ASSERT_EQ(CT_init(1, 200), OK);
  ASSERT_EQ(CT_init(2, 201), OK);
  ASSERT_EQ(Request().code, OK);
  EXPECT_EQ(SlotAt(0).active_protocol, pcsc::kProtocolT1);
  sim::ClearCalls();
  Send(0, {0x00, 0xB0, 0x00, 0x00, 0x00});
  ASSERT_GE(sim::CountCalls(sim::Fn::kReconnect), 1u);
  for (const sim::Call& call : sim::Calls()) {
    if (call.fn == sim::Fn::kReconnect) {
      EXPECT_EQ(call.protocols, pcsc::kProtocolT1);
    }
  }
  EXPECT_EQ(Transmitted().at(0).size(), 5u);  // T=1: the command goes whole
  // A T=0-only card in the same kind of reader falls back to T=0 on every refresh.
  uint8_t sad = 2, dad = 1;
  uint8_t response[64];
  uint16_t lenr = sizeof response;
  const uint8_t request[] = {0x20, 0x12, 0x01, 0x00, 0x00};
  ASSERT_EQ(CT_data(2, &dad, &sad, sizeof request, request, &lenr, response), OK);
  EXPECT_EQ(SlotAt(1).active_protocol, pcsc::kProtocolT0);
}

}  // namespace
