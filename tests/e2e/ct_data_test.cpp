// SPDX-License-Identifier: BSD-3-Clause
// CT_data through libctkorvin.so on the real stack: power-up of processor and memory cards,
// GET STATUS, APDUs to a T=0 card as the card receives them, a card pulled out, the code of a
// memory card and insurance cards read whole. Runs in the CTest case e2e_ct_data, whose stack
// (tests/e2e/CMakeLists.txt) holds:
//   port 1  "TREVANO Kelvane Birch 0"  the processor card of e2e_layout.h
//   port 2  "TREVANO Kelvane Birch 1"  the same card once more; the removal test pulls it
//   port 20 "TREVANO Kelvane Alder 0"  a 2-wire memory card with a code
//   port 21 "TREVANO Kelvane Alder 1"  empty
//   port 50 "TREVANO Kelvane Cedar 0"  a 2-wire insurance card (tests/memcard/insurance_card.h)
//   port 51 "TREVANO Kelvane Cedar 1"  the same image on an I2C card
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "ctapi/ctapi.h"
#include "tests/e2e/e2e_layout.h"
#include "tests/memcard/insurance_card.h"

namespace {

using cards::Bytes;

constexpr uint16_t kCtn = 1;
constexpr uint16_t kProcessorPort = 1;
constexpr uint16_t kRemovablePort = 2;
constexpr uint16_t kMemoryPort = 20;
constexpr uint16_t kEmptyPort = 21;
constexpr uint16_t kInsurancePort = 50;
constexpr uint16_t kI2cInsurancePort = 51;
constexpr int kRemovableSlot = 1;  // vpcd slot of port 2 in the first reader

const Bytes kRequestIccWithAtr = {0x20, 0x12, 0x01, 0x01, 0x00};
const Bytes kReadBinary = {0x00, 0xB0, 0x00, 0x00, 0x00};
const Bytes kSelectFile = [] {
  Bytes command = {0x00, 0xA4, 0x00, 0x0C, 0x02};
  const Bytes fid = e2e::Hex(KV_E2E_CARD_FILE_ID);
  command.insert(command.end(), fid.begin(), fid.end());
  return command;
}();

Bytes Concat(Bytes data, const Bytes& tail) {
  data.insert(data.end(), tail.begin(), tail.end());
  return data;
}

// One CT_data call and everything it hands back.
struct Reply {
  int8_t code = 0;
  uint8_t dad = 0;
  uint8_t sad = 0;
  Bytes response;
};

Reply Send(uint8_t dad, Bytes command) {
  Reply reply;
  reply.dad = dad;
  reply.sad = CTAPI_AD_HOST;
  uint8_t buffer[300] = {};
  uint16_t lenr = sizeof buffer;
  reply.code = CT_data(kCtn, &reply.dad, &reply.sad, static_cast<uint16_t>(command.size()),
                       command.data(), &lenr, buffer);
  reply.response.assign(buffer, buffer + (lenr <= sizeof buffer ? lenr : 0));
  return reply;
}

Reply ToTerminal(const Bytes& command) {
  return Send(CTAPI_AD_CT, command);
}
Reply ToCard(const Bytes& command) {
  return Send(CTAPI_AD_ICC1, command);
}

// What a T=0 card receives for a command: a case-2 command with Le = 00 travels as its header.
Bytes AsSentOverT0(const Bytes& command) {
  if (command.size() == 5 && command[4] == 0x00) return Bytes(command.begin(), command.begin() + 4);
  return command;
}

std::string Workdir() {
  const char* workdir = getenv("KV_E2E_WORKDIR");
  return workdir != nullptr ? workdir : "";
}

// The last command APDU kv-vicc in vpcd slot `slot` of the first reader logged (its --verbose
// log, written before it answers), as the hex text it logs; empty when there is none.
std::string LastApduAtTheCard(int slot) {
  std::ifstream log(Workdir() + "/vicc-0-" + std::to_string(slot) + ".log");
  const std::string marker = "kv-vicc: C-APDU ";
  std::string line;
  std::string last;
  while (std::getline(log, line)) {
    if (line.rfind(marker, 0) != 0) continue;
    const std::string rest = line.substr(marker.size());
    last = rest.substr(0, rest.find(' '));
  }
  return last;
}

// Pulls the card out of vpcd slot `slot` of the first reader: stops its kv-vicc (the pid that
// pcscd-private.sh recorded, checked against the command line it started) and waits until pcscd
// reports the slot empty.
void PullCard(int slot) {
  const std::string base = Workdir() + "/vicc-0-" + std::to_string(slot);
  pid_t pid = 0;
  std::ifstream(base + ".pid") >> pid;
  std::string marker;
  std::getline(std::ifstream(base + ".marker"), marker);
  ASSERT_GT(pid, 0) << base << ".pid";
  std::string cmdline;
  std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/cmdline"), cmdline, '\n');
  for (char& c : cmdline) {
    if (c == '\0') c = ' ';
  }
  ASSERT_NE(marker, "");
  ASSERT_NE(cmdline.find(marker), std::string::npos) << "pid " << pid << " is not that kv-vicc";
  ASSERT_EQ(kill(pid, SIGTERM), 0);

  const char* wait_tool = getenv("KV_PCSC_WAIT");
  ASSERT_NE(wait_tool, nullptr);
  const std::string slot_name = e2e::SlotName(slot);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    execl(wait_tool, wait_tool, "--timeout-ms", "10000", "--empty", slot_name.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << slot_name << " did not empty";
}

class CtDataE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(getenv("PCSCLITE_CSOCK_NAME"), nullptr)
        << "e2e_tests needs the private pcscd: run it through ctest -R e2e (run-e2e.sh)";
  }
  void TearDown() override {
    if (open_) CT_close(kCtn);
  }
  void Open(uint16_t port) {
    ASSERT_EQ(CT_init(kCtn, port), OK) << "port " << port;
    open_ = true;
  }

  bool open_ = false;
};

// --- power-up ------------------------------------------------------------------------------------

TEST_F(CtDataE2eTest, RequestIccAnswersTheProcessorCardsAtrWith9001) {
  Open(kProcessorPort);
  const Reply reply = ToTerminal(kRequestIccWithAtr);
  EXPECT_EQ(reply.code, OK);
  EXPECT_EQ(reply.response, Concat(e2e::Hex(KV_E2E_CARD_ATR), {0x90, 0x01}));
  EXPECT_EQ(reply.sad, CTAPI_AD_CT);
  EXPECT_EQ(reply.dad, CTAPI_AD_HOST);
}

TEST_F(CtDataE2eTest, RequestIccAnswersTheHistoricalBytesOrNothing) {
  Open(kProcessorPort);
  // The layout's ATR has no check byte: its last four bytes are the historical bytes "KVIC".
  const Bytes atr = e2e::Hex(KV_E2E_CARD_ATR);
  const Bytes historical(atr.end() - (atr[1] & 0x0F), atr.end());
  EXPECT_EQ(ToTerminal({0x20, 0x12, 0x01, 0x02, 0x00}).response, Concat(historical, {0x90, 0x01}));
  EXPECT_EQ(ToTerminal({0x20, 0x12, 0x01, 0x00}).response, (Bytes{0x90, 0x01}));
}

TEST_F(CtDataE2eTest, RequestIccAnswersTheMemoryCardsHeaderWith9000) {
  Open(kMemoryPort);
  const Reply reply = ToTerminal(kRequestIccWithAtr);
  EXPECT_EQ(reply.code, OK);
  const Bytes memory = e2e::Hex(KV_E2E_MEMORY_CARD_DATA);
  EXPECT_EQ(reply.response, Concat(Bytes(memory.begin(), memory.begin() + 4), {0x90, 0x00}));
  EXPECT_EQ(reply.response, (Bytes{0xA2, 0x13, 0x10, 0x91, 0x90, 0x00}));
  EXPECT_EQ(ToTerminal({0x20, 0x13, 0x01, 0x80, 0x00}).response,
            (Bytes{0x80, 0x01, 0x05, 0x90, 0x00}));
}

// --- GET STATUS ----------------------------------------------------------------------------------

TEST_F(CtDataE2eTest, GetStatusGivesTheManufacturerData) {
  Open(kProcessorPort);
  const Reply reply = ToTerminal({0x20, 0x13, 0x00, 0x46, 0x00});
  EXPECT_EQ(reply.code, OK);
  Bytes expected = {0x46, 0x0F};
  for (const char* item : {"KORVI", "KV   ", "04.00"})
    expected.insert(expected.end(), item, item + 5);
  EXPECT_EQ(reply.response, Concat(expected, {0x90, 0x00}));
  EXPECT_EQ(reply.sad, CTAPI_AD_CT);
}

TEST_F(CtDataE2eTest, GetStatusGivesOneCardSlotAsTheOnlyUnit) {
  Open(kProcessorPort);
  EXPECT_EQ(ToTerminal({0x20, 0x13, 0x00, 0x81, 0x00}).response,
            (Bytes{0x81, 0x01, 0x01, 0x90, 0x00}));
}

TEST_F(CtDataE2eTest, GetStatusFollowsTheCardFromPresentToActivated) {
  Open(kProcessorPort);
  const Bytes status = {0x20, 0x13, 0x01, 0x80, 0x00};
  EXPECT_EQ(ToTerminal(status).response, (Bytes{0x80, 0x01, 0x03, 0x90, 0x00}));
  ASSERT_EQ(ToTerminal(kRequestIccWithAtr).code, OK);
  EXPECT_EQ(ToTerminal(status).response, (Bytes{0x80, 0x01, 0x05, 0x90, 0x00}));
}

TEST_F(CtDataE2eTest, GetStatusOfAnEmptySlot) {
  Open(kEmptyPort);
  EXPECT_EQ(ToTerminal({0x20, 0x13, 0x01, 0x80, 0x00}).response,
            (Bytes{0x80, 0x01, 0x00, 0x90, 0x00}));
}

// --- commands to the card ------------------------------------------------------------------------

// The card behind pcscd answers as the same card model does in process, fed with what a T=0
// card receives; the answers come back from ICC 1 unchanged.
TEST_F(CtDataE2eTest, ApdusReachTheCardAndItsAnswersComeBackUnchanged) {
  const Bytes kCommands[] = {
      kReadBinary,                                 // nothing selected after the reset
      {0x00, 0xA4, 0x00, 0x0C, 0x02, 0x4F, 0x99},  // no such file
      kSelectFile,                                 // the layout's file
      {0x00, 0xB0, 0x00, 0x04, 0x04},              // four bytes from offset 4
      kReadBinary,                                 // the whole file
      {0x00, 0xD6, 0x00, 0x00, 0x02, 0xAA, 0xBB},  // UPDATE BINARY
      kReadBinary,                                 // shows the update
      {0x00, 0xD6, 0x00, 0x00, 0x02, 0x01, 0x02},  // the file as it was
      {0x00, 0x12, 0x00, 0x00},                    // unknown instruction
      {0xA0, 0xB0, 0x00, 0x00, 0x01},              // unknown class
  };
  std::unique_ptr<cards::Card> model = cards::MakeCard(e2e::CardInSlot());
  ASSERT_NE(model, nullptr);
  Open(kProcessorPort);
  ASSERT_EQ(ToTerminal(kRequestIccWithAtr).code, OK);
  model->Reset();
  for (const Bytes& command : kCommands) {
    const Reply reply = ToCard(command);
    EXPECT_EQ(reply.code, OK);
    EXPECT_EQ(reply.response, model->Process(AsSentOverT0(command)))
        << "command " << ::testing::PrintToString(command);
    EXPECT_EQ(reply.sad, CTAPI_AD_ICC1);
    EXPECT_EQ(reply.dad, CTAPI_AD_HOST);
  }
}

// The layout's card speaks only T=0: a READ BINARY with Le = 00 reaches it as the four header
// bytes, one with another Le as all five bytes. kv-vicc logs every APDU before it answers.
TEST_F(CtDataE2eTest, CaseTwoWithLeZeroReachesTheTeeZeroCardAsFourBytes) {
  Open(kProcessorPort);
  ASSERT_EQ(ToTerminal(kRequestIccWithAtr).code, OK);
  ASSERT_EQ(ToCard(kSelectFile).response, (Bytes{0x90, 0x00}));

  const Reply whole = ToCard(kReadBinary);
  EXPECT_EQ(whole.response, Concat(e2e::Hex(KV_E2E_CARD_FILE_DATA), {0x90, 0x00}));
  EXPECT_EQ(LastApduAtTheCard(e2e::kCardSlot), "00B00000");

  const Reply four = ToCard({0x00, 0xB0, 0x00, 0x00, 0x04});
  EXPECT_EQ(four.response, (Bytes{0x01, 0x02, 0x03, 0x04, 0x90, 0x00}));
  EXPECT_EQ(LastApduAtTheCard(e2e::kCardSlot), "00B0000004");
}

TEST_F(CtDataE2eTest, CardNeverRequestedAnswers64A2FromTheTerminal) {
  Open(kProcessorPort);
  const Reply reply = ToCard(kReadBinary);
  EXPECT_EQ(reply.code, OK);
  EXPECT_EQ(reply.response, (Bytes{0x64, 0xA2}));
  EXPECT_EQ(reply.sad, CTAPI_AD_CT);
}

TEST_F(CtDataE2eTest, EmptySlotAnswers64A1FromTheTerminal) {
  Open(kEmptyPort);
  const Reply reply = ToCard(kReadBinary);
  EXPECT_EQ(reply.code, OK);
  EXPECT_EQ(reply.response, (Bytes{0x64, 0xA1}));
  EXPECT_EQ(reply.sad, CTAPI_AD_CT);
}

// The only test that uses port 2: it takes the card out for good.
TEST_F(CtDataE2eTest, PulledCardTurnsTheNextCommandInto64A1) {
  Open(kRemovablePort);
  ASSERT_EQ(ToTerminal(kRequestIccWithAtr).response,
            Concat(e2e::Hex(KV_E2E_CARD_ATR), {0x90, 0x01}));
  ASSERT_EQ(ToCard(kSelectFile).response, (Bytes{0x90, 0x00}));

  PullCard(kRemovableSlot);
  if (HasFatalFailure()) return;

  const Reply reply = ToCard(kReadBinary);
  EXPECT_EQ(reply.code, OK);
  EXPECT_EQ(reply.response, (Bytes{0x64, 0xA1}));
  EXPECT_EQ(reply.sad, CTAPI_AD_CT);
  EXPECT_EQ(ToTerminal({0x20, 0x13, 0x01, 0x80, 0x00}).response,
            (Bytes{0x80, 0x01, 0x00, 0x90, 0x00}));
}

// --- the code of a 2-wire memory card
// --------------------------------------------------------------

const Bytes kCode = e2e::Hex(KV_E2E_MEMORY_CARD_PIN);
const Bytes kNewCode = {0x65, 0x43, 0x21};
const Bytes kWrongCode = {0x00, 0x00, 0x00};

Bytes VerifyCommand(const Bytes& code) {
  return Concat({0x00, 0x20, 0x00, 0x00, 0x03}, code);
}
Bytes ChangeCommand(const Bytes& old_code, const Bytes& new_code) {
  return Concat(Concat({0x00, 0x24, 0x00, 0x00, 0x06}, old_code), new_code);
}

// Each test leaves the card with its own code and all tries left.
TEST_F(CtDataE2eTest, MemoryCardCodeIsPresentedAndChanged) {
  Open(kMemoryPort);
  ASSERT_EQ(ToTerminal(kRequestIccWithAtr).code, OK);
  const Reply verify = ToCard(VerifyCommand(kCode));
  EXPECT_EQ(verify.code, OK);
  EXPECT_EQ(verify.response, (Bytes{0x90, 0x00}));
  EXPECT_EQ(verify.sad, CTAPI_AD_ICC1);

  EXPECT_EQ(ToCard(ChangeCommand(kCode, kNewCode)).response, (Bytes{0x90, 0x00}));
  EXPECT_EQ(ToCard(VerifyCommand(kNewCode)).response, (Bytes{0x90, 0x00}));
  EXPECT_EQ(ToCard(VerifyCommand(kCode)).response, (Bytes{0x63, 0xC2}));  // the old one is gone

  EXPECT_EQ(ToCard(VerifyCommand(kNewCode)).response, (Bytes{0x90, 0x00}));
  EXPECT_EQ(ToCard(ChangeCommand(kNewCode, kCode)).response, (Bytes{0x90, 0x00}));
  EXPECT_EQ(ToCard(VerifyCommand(kCode)).response, (Bytes{0x90, 0x00}));
}

TEST_F(CtDataE2eTest, WrongCodeAnswersTheTriesLeft) {
  Open(kMemoryPort);
  ASSERT_EQ(ToTerminal(kRequestIccWithAtr).code, OK);
  const Reply first = ToCard(VerifyCommand(kWrongCode));
  EXPECT_EQ(first.code, OK);
  EXPECT_EQ(first.response, (Bytes{0x63, 0xC2}));
  EXPECT_EQ(ToCard(VerifyCommand(kWrongCode)).response, (Bytes{0x63, 0xC1}));
  // The right code gives all tries back.
  EXPECT_EQ(ToCard(VerifyCommand(kCode)).response, (Bytes{0x90, 0x00}));
  EXPECT_EQ(ToCard(VerifyCommand(kWrongCode)).response, (Bytes{0x63, 0xC2}));
  EXPECT_EQ(ToCard(VerifyCommand(kCode)).response, (Bytes{0x90, 0x00}));
}

// --- insurance cards
// ---------------------------------------------------------------------------------

const Bytes kSelectInsuranceApplication = {0x00, 0xA4, 0x04, 0x00, 0x06, 0xD2,
                                           0x76, 0x00, 0x00, 0x01, 0x01};

// The data object of the image kv-vicc holds (the generator's card with header byte `h1`): from
// its tag 60 at address 30 up to and including the checksum byte, which follows 8E 01.
Bytes InsuranceDataObject(uint8_t h1) {
  testcards::InsuranceCard card;
  card.header[0] = h1;
  const Bytes image = testcards::Build(card);
  const Bytes area = testcards::DataArea(image);
  size_t checksum = 0;
  for (size_t i = 0; i + 2 < area.size() && checksum == 0; ++i) {
    if (area[i] == testcards::kTagChecksum && area[i + 1] == 0x01) checksum = i + 2;
  }
  EXPECT_NE(checksum, 0u);
  return Bytes(area.begin(), area.begin() + static_cast<std::ptrdiff_t>(checksum + 1));
}

void ReadsTheInsuranceCardWhole(uint8_t h1) {
  const Bytes header = {h1, 0x13, 0x10, 0x91};
  const Reply power = ToTerminal(kRequestIccWithAtr);
  EXPECT_EQ(power.code, OK);
  EXPECT_EQ(power.response, Concat(header, {0x90, 0x00}));

  const Reply select = ToCard(kSelectInsuranceApplication);
  EXPECT_EQ(select.code, OK);
  ASSERT_EQ(select.response, (Bytes{0x90, 0x00}));

  // Only a card that passed the data check ends its application at the checksum byte and
  // answers a READ BINARY with Le = 00 with 62 82.
  const Reply read = ToCard(kReadBinary);
  EXPECT_EQ(read.code, OK);
  EXPECT_EQ(read.sad, CTAPI_AD_ICC1);
  const Bytes object = InsuranceDataObject(h1);
  ASSERT_EQ(object.front(), testcards::kTagData);
  EXPECT_EQ(object.size(), 131u);  // 60 81 80 and 128 value bytes
  EXPECT_EQ(read.response, Concat(object, {0x62, 0x82}));

  // Such a card is never written.
  EXPECT_EQ(ToCard({0x00, 0xD6, 0x00, 0x00, 0x01, 0x41}).response, (Bytes{0x62, 0x00}));
}

TEST_F(CtDataE2eTest, TwoWireInsuranceCardIsReadWhole) {
  Open(kInsurancePort);
  ReadsTheInsuranceCardWhole(0xA2);
}

TEST_F(CtDataE2eTest, I2cInsuranceCardIsReadWhole) {
  Open(kI2cInsurancePort);
  ReadsTheInsuranceCardWhole(0x82);
}

// In the insurance layout any application identifier selects the data object.
TEST_F(CtDataE2eTest, InsuranceCardAnswersAnyApplicationIdentifier) {
  Open(kInsurancePort);
  ASSERT_EQ(ToTerminal(kRequestIccWithAtr).code, OK);
  EXPECT_EQ(ToCard({0x00, 0xA4, 0x04, 0x00, 0x03, 0xA0, 0x00, 0x01}).response, (Bytes{0x90, 0x00}));
  EXPECT_EQ(ToCard({0x00, 0xB0, 0x00, 0x00, 0x03}).response, (Bytes{0x60, 0x81, 0x80, 0x90, 0x00}));
}

// A memory card without the layout does not have the insurance application.
TEST_F(CtDataE2eTest, PlainMemoryCardRefusesTheInsuranceApplication) {
  Open(kMemoryPort);
  ASSERT_EQ(ToTerminal(kRequestIccWithAtr).code, OK);
  EXPECT_EQ(ToCard(kSelectInsuranceApplication).response, (Bytes{0x6A, 0x82}));
  EXPECT_EQ(ToCard(kReadBinary).response, (Bytes{0x6A, 0x82}));
}

}  // namespace
