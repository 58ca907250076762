// SPDX-License-Identifier: BSD-3-Clause
// inisync over the readers of tests/data/world.txt, the machine of the end-to-end runs under
// Wine: a fresh vezidide.ini must say what tests/data/vezidide.ini says, which the Windows run of
// inisync.exe over the simulator's winscard.dll is compared with as well
// (tests/win32/e2e/inisync-e2e.sh). So the POSIX private-profile service and the Windows one
// leave the same file for the same readers.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>

#include <sstream>
#include <string>

#include "inisync/flow.h"
#include "sim/world.h"
#include "tests/common/test_util.h"
#include "tests/ctapi/ctapi_fixture.h"

namespace {

const std::string kData = KV_TEST_DATA;

// The comparable content, as the Windows run takes it: no CR, no blank lines, no comment lines,
// CtDllName without its value (the path of the library, which differs between the runs).
std::string Comparable(const std::string& text, std::string* library) {
  std::istringstream in(text);
  std::string line;
  std::string out;
  const std::string key = "CtDllName=";
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos || line[0] == ';') continue;
    if (line.compare(0, key.size(), key) == 0) {
      if (library != nullptr) *library = line.substr(key.size());
      line = key;
    }
    out += line + "\n";
  }
  return out;
}

class WorldRunTest : public ctapitest::CtapiTest {
 protected:
  testutil::TempDir windir_;
  testutil::ScopedEnv windir_env_{"WINDIR", windir_.path().c_str()};
};

TEST_F(WorldRunTest, AFreshIniFileSaysWhatTheExpectedFileSays) {
  sim::World world;
  std::string error;
  ASSERT_TRUE(sim::ReadWorldFile(kData + "/world.txt", &world, &error)) << error;
  sim::AddWorld(world);
  ASSERT_EQ(inisync::RunInisync("-N"), 0);

  const std::string written = testutil::ReadFile(windir_.File("vezidide.ini"));
  std::string library;
  EXPECT_EQ(Comparable(written, &library),
            Comparable(testutil::ReadFile(kData + "/vezidide.ini"), nullptr))
      << written;
  // Without a shared library the CT-API lives in the test program itself.
  char resolved[PATH_MAX] = {};
  char self[PATH_MAX] = {};
  ASSERT_NE(realpath("/proc/self/exe", self), nullptr);
  EXPECT_STREQ(realpath(library.c_str(), resolved), self);
}

}  // namespace
