// SPDX-License-Identifier: BSD-3-Clause
// The port map: its lines, and terminals opened on readers that only the map names.
#include "ctapi/port_map.h"

#include <cstring>
#include <string>

#include "ctapi/ctapi.h"
#include "tests/ctapi/ctapi_fixture.h"

namespace {

using ctapitest::CtapiTest;

TEST(PortMapLineTest, EntriesFlagsAndProblems) {
  struct Case {
    const char* line;
    ctapi::PortMapLine kind;
    uint32_t port;
    const char* prefix;
    uint8_t capabilities;
  } const cases[] = {
      {"90 = Generic Smart Card Reader Interface", ctapi::PortMapLine::kEntry, 90,
       "Generic Smart Card Reader Interface", 0},
      {"  91=Acme Pad 0 display PINPAD \r", ctapi::PortMapLine::kEntry, 91, "Acme Pad 0", 3},
      {"92 = Display", ctapi::PortMapLine::kEntry, 92, "Display", 0},  // the name stays a name
      {"511 = X pinpad", ctapi::PortMapLine::kEntry, 511, "X", 2},
      {"", ctapi::PortMapLine::kNothing, 0, "", 0},
      {"   # 93 = commented out", ctapi::PortMapLine::kNothing, 0, "", 0},
      {"0 = Zero", ctapi::PortMapLine::kBad, 0, "", 0},
      {"512 = Too High", ctapi::PortMapLine::kBad, 0, "", 0},
      {"9999999999 = Far Too High", ctapi::PortMapLine::kBad, 0, "", 0},
      {"reader = 5", ctapi::PortMapLine::kBad, 0, "", 0},
      {"94 Generic", ctapi::PortMapLine::kBad, 0, "", 0},
      {"95 =   ", ctapi::PortMapLine::kBad, 0, "", 0},
      {"96 = display pinpad", ctapi::PortMapLine::kEntry, 96, "display", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    ctapi::PortMapping mapping{};
    const char* problem = nullptr;
    // An exact-size copy without a terminator: nothing past the line may be read.
    std::string line(c.line);
    std::unique_ptr<char[]> exact(new char[line.size() + 1]);
    memcpy(exact.get(), line.data(), line.size());
    const ctapi::PortMapLine kind = ctapi::ParsePortMapLine(
        exact.get(), static_cast<uint32_t>(line.size()), &mapping, &problem);
    EXPECT_EQ(kind, c.kind);
    if (kind == ctapi::PortMapLine::kBad) {
      EXPECT_NE(problem, nullptr);
    }
    if (kind != ctapi::PortMapLine::kEntry) continue;
    EXPECT_EQ(mapping.port, c.port);
    EXPECT_STREQ(mapping.prefix, c.prefix);
    EXPECT_EQ(mapping.capabilities, c.capabilities);
  }
}

class PortMapTest : public CtapiTest {
 protected:
  void SetUp() override {
    CtapiTest::SetUp();
    testutil::WriteFile(map_,
                        "# readers of our office\n"
                        "90 = Generic Smart Card Reader Interface\n"
                        "91 = Acme PinPad display pinpad\n"
                        "this line is wrong\n"
                        "92 = Pad Reader\n"
                        "1 = Generic Smart Card Reader Interface\n");
  }
  std::string map_ = logs_.File("ports.conf");
  testutil::ScopedEnv map_env_{"CTKORVIN_PORTS", map_.c_str()};
};

TEST_F(PortMapTest, MappedPortsOpenTheirReadersAndBuiltInNamesComeFirst) {
  AddReaders({"Generic Smart Card Reader Interface 0", "Acme PinPad 0", "TREVANO Kelvane Birch 0"});
  // Port 1 is the built-in reader's, whatever the map says. (It is opened first: while the first
  // slot is free, the one known reader would be found for any port by the table search.)
  ASSERT_EQ(CT_init(3, 1), OK);
  ASSERT_EQ(CT_init(1, 90), OK);
  ASSERT_EQ(CT_init(2, 91), OK);
  const ctapi::TerminalSlot& generic = SlotAt(ctapi::FindSlotByCtn(1));
  EXPECT_STREQ(generic.reader_name, "Generic Smart Card Reader Interface 0");
  EXPECT_EQ(generic.capabilities, 0);
  // A reader whose line has no flags has a PIN pad when it reports one (PC/SC part 10).
  sim::ReaderSpec pad;
  pad.name = "Pad Reader 0";
  pad.pin_pad = true;
  sim::AddReader(pad);
  ASSERT_EQ(CT_init(4, 92), OK);
  EXPECT_EQ(SlotAt(ctapi::FindSlotByCtn(4)).capabilities, ctapi::kCapPinPad);
  EXPECT_EQ(sim::OpenConnections(), 0u);  // the question left no connection behind
  EXPECT_EQ(SlotAt(ctapi::FindSlotByCtn(2)).capabilities, ctapi::kCapDisplay | ctapi::kCapPinPad);
  EXPECT_STREQ(SlotAt(ctapi::FindSlotByCtn(3)).reader_name, "TREVANO Kelvane Birch 0");
  ASSERT_EQ(CT_close(4), OK);
  // A mapped port whose reader is not attached opens nothing; the wrong line is reported with
  // the file and its number, and never stops the map from working.
  sim::RemoveReader("Acme PinPad 0");
  ASSERT_EQ(CT_close(2), OK);
  EXPECT_EQ(CT_init(2, 91), ERR_INVALID);
  std::string log = testutil::ReadFile(log_);
  EXPECT_NE(log.find("M: CTAPI F: PortMap"), std::string::npos);
  // The record's text runs on over lines of 58 characters, wherever the folder's name ends.
  const std::string wrap = "|\r\n                |";
  for (size_t at = log.find(wrap); at != std::string::npos; at = log.find(wrap, at))
    log.erase(at, wrap.size());
  EXPECT_NE(log.find("ports.conf line 4: the line does not start with a port from 1 to 511"),
            std::string::npos)
      << log;
}

}  // namespace
