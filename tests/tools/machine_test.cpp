// SPDX-License-Identifier: BSD-3-Clause
// ctkorvin-cli's look at the machine, on the simulator: readers that no port reaches and the
// port-map line for each, the port map's wrong lines, and the diagnosis.
#include "tools/ctkorvin-cli/machine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/sim.h"
#include "tests/common/test_util.h"

namespace {

class MachineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    for (const char* name : {"TREVANO Kelvane Birch 0", "Generic Smart Card Reader Interface 0",
                             "Acme PinPad 0", "Other Reader 0"}) {
      sim::ReaderSpec reader;
      reader.name = name;
      sim::AddReader(reader);
    }
    testutil::WriteFile(map_, "90 = Acme PinPad pinpad\nports for all\n");
  }
  testutil::TempDir dir_;
  std::string map_ = dir_.File("ports.conf");
  testutil::ScopedEnv map_env_{"CTKORVIN_PORTS", map_.c_str()};
};

TEST_F(MachineTest, ReadersOnNoPortGetALineToAddEachOnAPortOfItsOwn) {
  const std::vector<std::string> reached = {"TREVANO Kelvane Birch 0", "Acme PinPad 0"};
  const std::string add = "; to give it port ";
  EXPECT_EQ(cli::UnreachedReaderLines(reached),
            (std::vector<std::string>{
                "reader \"Generic Smart Card Reader Interface 0\": on no port: its name is not "
                "one the library knows" +
                    add + "91, add to " + map_ + ": 91 = Generic Smart Card Reader Interface 0",
                "reader \"Other Reader 0\": on no port: its name is not one the library knows" +
                    add + "92, add to " + map_ + ": 92 = Other Reader 0",
            }));
  EXPECT_EQ(
      cli::PortMapProblemLines(),
      (std::vector<std::string>{map_ + ":2: the line does not start with a port from 1 to 511"}));
}

TEST_F(MachineTest, DiagnosisNamesServiceReadersPortsMapTableAndSwitch) {
  const std::vector<std::string> lines = cli::DiagnoseLines();
  auto has = [&](const std::string& line) {
    for (const std::string& l : lines)
      if (l == line) return true;
    return false;
  };
  EXPECT_TRUE(has("PC/SC service: running, 4 reader(s)"));
  EXPECT_TRUE(has("reader \"TREVANO Kelvane Birch 0\": port 1"));
  EXPECT_TRUE(has("reader \"Acme PinPad 0\": port 90 (port map)"));
  EXPECT_TRUE(has("port map " + map_ + ": 1 port(s)"));
  EXPECT_TRUE(has("SinglePort: off"));
  sim::SetServiceRunning(false);
  EXPECT_EQ(cli::DiagnoseLines().front(), "PC/SC service: not reachable (0x8010001D)");
}

}  // namespace
