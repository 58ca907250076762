// SPDX-License-Identifier: BSD-3-Clause
// The parts of inisync's run that need no reader: the command-line switch, the version check and
// the name matching. The whole runs on the simulator: flow_posix_test.cpp.
#include "inisync/flow.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using inisync::ReaderEntryTable;

// --- the command line ---------------------------------------------------------------------------

struct SwitchCase {
  const char* line;
  bool no_wait;
};

const SwitchCase kSwitchCases[] = {
    {"-N", true},         {"-n", true},   {"-X -N", true},     {"-x-n", true}, {"--n", true},
    {"foo -n bar", true}, {"", false},    {"N", false},        {"-", false},   {"-X -", false},
    {"/N", false},        {"- N", false}, {"-a -b -c", false},
};

TEST(NoWaitSwitchTest, OnlyAMinusFollowedByNSetsIt) {
  for (const SwitchCase& c : kSwitchCases) {
    std::string line = c.line;
    EXPECT_EQ(inisync::ScanNoWaitSwitch(&line[0]), c.no_wait) << "\"" << c.line << "\"";
  }
  EXPECT_FALSE(inisync::ScanNoWaitSwitch(nullptr));
}

TEST(NoWaitSwitchTest, UpperCasesTheLineInPlaceInCodePage437) {
  std::string line = "-n abc \x81\x82\x84\x86\x87\x91\x94\xA4 XYZ";
  EXPECT_TRUE(inisync::ScanNoWaitSwitch(&line[0]));
  EXPECT_EQ(line, "-N ABC \x9A\x90\x8E\x8F\x80\x92\x99\xA5 XYZ");
}

// --- the version check --------------------------------------------------------------------------

struct VersionCase {
  platform::OsVersion version;
  uint32_t code;
  uint32_t build;
};

const VersionCase kVersionCases[] = {
    {{platform::kPlatformWin9x, 4, 0, 0x04000395}, 95, 0x0395},
    {{platform::kPlatformWin9x, 4, 10, 0x040A08AE}, 99, 2222},
    {{platform::kPlatformWin9x, 4, 10, 0x040A07CE}, 98, 1998},
    {{platform::kPlatformWin9x, 4, 90, 0x045A0BB8}, 100, 0xB8},
    {{platform::kPlatformWin9x, 3, 95, 0x12345678}, 0, 0x12345678},
    {{platform::kPlatformNt, 4, 0, 1381}, 40, 1381},
    {{platform::kPlatformNt, 5, 0, 2195}, 50, 2195},
    {{platform::kPlatformNt, 5, 1, 2600}, 50, 2600},
    {{platform::kPlatformNt, 6, 1, 7601}, 0, 7601},
};

TEST(OsVersionTest, GenerationCodesAndBuildNumbers) {
  for (const VersionCase& c : kVersionCases) {
    inisync::OsGeneration generation{};
    EXPECT_EQ(inisync::ClassifyOsVersion(&c.version, &generation), 0u);
    EXPECT_EQ(generation.code, c.code) << c.version.major << "." << c.version.minor;
    EXPECT_EQ(generation.build, c.build) << c.version.major << "." << c.version.minor;
  }
}

TEST(OsVersionTest, OtherPlatformsAndMissingRecordsAreErrors) {
  inisync::OsGeneration generation{};
  const platform::OsVersion other{3, 5, 0, 1};
  EXPECT_EQ(inisync::ClassifyOsVersion(&other, &generation), inisync::kErrOsVersion);
  EXPECT_EQ(inisync::ClassifyOsVersion(nullptr, &generation), inisync::kErrOsVersion);
  const platform::OsVersion nt5{platform::kPlatformNt, 5, 0, 2195};
  EXPECT_EQ(inisync::ClassifyOsVersion(&nt5, nullptr), inisync::kErrOsVersion);
}

// --- matching the reported name -----------------------------------------------------------------

int Match(const std::string& name, const std::string& status = std::string("\x90\x00", 2)) {
  const std::string response = name + status;
  return inisync::MatchReaderName(ReaderEntryTable, inisync::kReaderEntryCount,
                                  reinterpret_cast<const uint8_t*>(response.data()),
                                  static_cast<uint32_t>(response.size()));
}

TEST(MatchReaderNameTest, BlanksBecomeUnderscoresAndTheWholeNameMustBeEqual) {
  EXPECT_EQ(Match("TREVANO Kelvane Birch 0"), 4);
  EXPECT_EQ(Match("TREVANO_Kelvane_Birch_0"), 4);
  EXPECT_EQ(Match("TREVANO Kelvane Alder 3"), 3);
  EXPECT_EQ(Match("FSC SCR USB 2C 3"), 135);
  // The first of two equal rows would win; the status bytes may be anything.
  EXPECT_EQ(Match("TREVANO Kelvane Ash 0", std::string("\x6F\x00", 2)), 72);
  EXPECT_EQ(Match("TREVANO Kelvane Birch"), -1);
  EXPECT_EQ(Match("TREVANO Kelvane Birch 00"), -1);
  EXPECT_EQ(Match("trevano kelvane birch 0"), -1);
  EXPECT_EQ(Match("Acme Reader 0"), -1);
  EXPECT_EQ(Match(std::string("TREVANO Kelvane Birch 0\0", 24)), -1);
}

TEST(MatchReaderNameTest, ResponsesWithoutANameMatchNoRow) {
  EXPECT_EQ(Match(""), -1);                       // only the status bytes: never an empty row
  EXPECT_EQ(Match("", std::string("\x90")), -1);  // shorter than the status bytes
  EXPECT_EQ(Match("", ""), -1);
  EXPECT_EQ(Match(std::string(300, 'A')), -1);  // longer than any section name
  const uint8_t response[] = {0x90, 0x00};
  EXPECT_EQ(inisync::MatchReaderName(nullptr, 1, response, 2), -1);
  EXPECT_EQ(inisync::MatchReaderName(ReaderEntryTable, 1, nullptr, 2), -1);
}

}  // namespace
