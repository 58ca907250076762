// SPDX-License-Identifier: BSD-3-Clause
// The run of inisync on the reader simulator: the command-line switch, the version check and the
// start-up pause on virtual time, the name matching, the probe and its early end, and what the
// run leaves in vezidide.ini (readers added, kept, removed, the "Active" one, a read-only file,
// a missing file, the limits of the "CardReader" list).
#include "inisync/flow.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "config/profile.h"
#include "ctapi/ctapi.h"
#include "sim/sim.h"
#include "tests/common/test_util.h"
#include "tests/ctapi/ctapi_fixture.h"

namespace {

using inisync::ReaderEntry;
using inisync::ReaderEntryTable;

constexpr char kBirch0[] = "TREVANO Kelvane Birch 0";

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

// vezidide.ini lies in the Windows directory, joined with "/" here ("\\" on Windows: win32/).
TEST(IniPathTest, WindowsDirectoryAndFileAreJoinedWithASlash) {
  char path[inisync::kPathSize];
  EXPECT_TRUE(inisync::IniFilePath("/etc", path, sizeof path));
  EXPECT_STREQ(path, "/etc/vezidide.ini");
  EXPECT_TRUE(inisync::IniFilePath("/", path, sizeof path));
  EXPECT_STREQ(path, "/vezidide.ini");
  EXPECT_FALSE(inisync::IniFilePath("/etc", path, 17));  // no room for the terminator
}

// --- whole runs on the simulator ----------------------------------------------------------------

class InisyncRunTest : public ctapitest::CtapiTest {
 protected:
  std::string IniPath() const { return windir_.File("vezidide.ini"); }
  std::string Ini() const { return testutil::ReadFile(IniPath()); }
  void WriteIni(const std::string& text) { testutil::WriteFile(IniPath(), text); }

  std::string Value(const std::string& section, const std::string& key) const {
    char buffer[1024] = {};
    ProfileGetString(section.c_str(), key.c_str(), "<none>", buffer, sizeof buffer,
                     IniPath().c_str());
    return buffer;
  }

  // The keys of `section` in file order.
  std::vector<std::string> Keys(const std::string& section) const {
    std::vector<char> buffer(65536);
    const uint32_t n = ProfileGetString(section.c_str(), nullptr, "", buffer.data(),
                                        static_cast<uint32_t>(buffer.size()), IniPath().c_str());
    std::vector<std::string> keys;
    for (uint32_t at = 0; at < n && buffer[at] != '\0';) {
      keys.emplace_back(&buffer[at]);
      at += static_cast<uint32_t>(keys.back().size()) + 1;
    }
    return keys;
  }

  // What the run writes for a newly found reader, in its order.
  void ExpectRecorded(const std::string& section, const std::string& company,
                      const std::string& reader_name, const std::string& port,
                      const std::string& pin_entry) {
    EXPECT_EQ(Keys(section),
              (std::vector<std::string>{"Standard", "CompanyName", "ReaderName", "Port",
                                        "B1-Reader", "CtDllName", "PinEntry"}))
        << Ini();
    EXPECT_EQ(Value(section, "Standard"), "CTAPI32");
    EXPECT_EQ(Value(section, "CompanyName"), company);
    EXPECT_EQ(Value(section, "ReaderName"), reader_name);
    EXPECT_EQ(Value(section, "Port"), port);
    EXPECT_EQ(Value(section, "B1-Reader"), "0");
    EXPECT_EQ(RealPath(Value(section, "CtDllName")), library_);
    EXPECT_EQ(Value(section, "PinEntry"), pin_entry);
  }

  static std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX] = {};
    return realpath(path.c_str(), resolved) ? resolved : "";
  }

  testutil::TempDir windir_;
  testutil::ScopedEnv windir_env_{"WINDIR", windir_.path().c_str()};
  // Without a shared library the CT-API lives in the test program itself.
  std::string library_ = RealPath("/proc/self/exe");
};

TEST_F(InisyncRunTest, NtFiveStartsWithThirtySecondsPauseWithoutTheSwitch) {
  AddReaders({kBirch0});
  EXPECT_EQ(inisync::RunInisync("-X"), 0);
  ASSERT_FALSE(sim::Calls().empty());
  EXPECT_GE(sim::Calls().front().time_ms, inisync::kStartPauseMs);
  EXPECT_EQ(Value("CardReader", "TREVANO_Kelvane_Birch_0"), "Active");
}

TEST_F(InisyncRunTest, TheSwitchInAnySpellingSkipsThePause) {
  AddReaders({kBirch0});
  EXPECT_EQ(inisync::RunInisync("-x -n"), 0);
  ASSERT_FALSE(sim::Calls().empty());
  EXPECT_LT(sim::Calls().front().time_ms, inisync::kStartPauseMs);
}

TEST_F(InisyncRunTest, ATrailingMinusIsNoSwitch) {
  EXPECT_EQ(inisync::RunInisync("-"), 0);
  EXPECT_GE(sim::NowMs(), inisync::kStartPauseMs);
}

TEST_F(InisyncRunTest, OtherVersionsStartAtOnce) {
  testutil::ScopedEnv nt4("CTKORVIN_OSVERSION", "2.4.0.1381");
  AddReaders({kBirch0});
  EXPECT_EQ(inisync::RunInisync(""), 0);
  ASSERT_FALSE(sim::Calls().empty());
  EXPECT_LT(sim::Calls().front().time_ms, inisync::kStartPauseMs);
  EXPECT_EQ(Value("TREVANO_Kelvane_Birch_0", "Port"), "1");
}

TEST_F(InisyncRunTest, AnotherPlatformEndsTheRunBeforeAnything) {
  testutil::ScopedEnv other("CTKORVIN_OSVERSION", "3.5.0.1");
  AddReaders({kBirch0});
  EXPECT_EQ(inisync::RunInisync("-N"), inisync::kRunFailed);
  EXPECT_TRUE(sim::Calls().empty());
  EXPECT_EQ(sim::NowMs(), 0u);
  struct stat st;
  EXPECT_NE(stat(IniPath().c_str(), &st), 0);
}

TEST_F(InisyncRunTest, AWindowsDirectoryThatIsNotThereEndsTheRun) {
  testutil::ScopedEnv missing("WINDIR", windir_.File("no/such/folder").c_str());
  AddReaders({kBirch0});
  EXPECT_EQ(inisync::RunInisync("-N"), inisync::kRunFailed);
  EXPECT_TRUE(sim::Calls().empty());
}

TEST_F(InisyncRunTest, BirchOnPortOneIsRecordedAndTheProbeGoesOn) {
  AddReaders({kBirch0});
  EXPECT_EQ(inisync::RunInisync("-N"), 0);
  // Every port up to 235 was opened (the library's table search answers the others too).
  EXPECT_EQ(sim::CountCalls(sim::Fn::kEstablishContext), 235u);
  EXPECT_EQ(sim::OpenContexts(), 0u);
  EXPECT_EQ(Keys("CardReader"), std::vector<std::string>{"TREVANO_Kelvane_Birch_0"});
  EXPECT_EQ(Value("CardReader", "TREVANO_Kelvane_Birch_0"), "Active");
  ExpectRecorded("TREVANO_Kelvane_Birch_0", "TREVANO AG", "Kelvane Birch", "1", "0");
  // The exact file: the "Installed" line rewritten to "Active" in its place.
  const std::string written_path = Value("TREVANO_Kelvane_Birch_0", "CtDllName");
  EXPECT_EQ(written_path.front(), '/');
  EXPECT_EQ(Ini(),
            "[CardReader]\r\nTREVANO_Kelvane_Birch_0=Active\r\n"
            "[TREVANO_Kelvane_Birch_0]\r\nStandard=CTAPI32\r\nCompanyName=TREVANO AG\r\n"
            "ReaderName=Kelvane Birch\r\nPort=1\r\nB1-Reader=0\r\nCtDllName=" +
                written_path + "\r\nPinEntry=0\r\n");
}

TEST_F(InisyncRunTest, SpruceAnsweringOnPortOneEndsTheProbe) {
  AddReaders({"TREVANO Kelvane Spruce 0"});
  EXPECT_EQ(inisync::RunInisync("-N"), 0);
  EXPECT_EQ(sim::CountCalls(sim::Fn::kEstablishContext), 1u);
  EXPECT_EQ(sim::OpenContexts(), 0u);
  ExpectRecorded("TREVANO_Kelvane_Spruce_0", "TREVANO AG", "Kelvane Spruce", "35", "3");
  EXPECT_EQ(Value("CardReader", "TREVANO_Kelvane_Spruce_0"), "Active");
}

TEST_F(InisyncRunTest, UnknownNamesAreIgnored) {
  // Ports 6 and 11 open these readers by their own names; the table has no row for them.
  AddReaders({"TREVANO Kelvane Birch 5", "TREVANO Kelvane Birch 10"});
  EXPECT_EQ(inisync::RunInisync("-N"), 0);
  EXPECT_EQ(sim::CountCalls(sim::Fn::kEstablishContext), 235u);
  EXPECT_EQ(Ini(), "");
}

TEST_F(InisyncRunTest, ARecordedReaderThatAnswersIsLeftAsItIs) {
  const std::string before =
      "; home banking\n[CardReader]\nTREVANO_Kelvane_Birch_0 = Installed\n\n"
      "[TREVANO_Kelvane_Birch_0]\nPort=7\nReaderName=my own name\n";
  WriteIni(before);
  AddReaders({kBirch0});
  EXPECT_EQ(inisync::RunInisync("-N"), 0);
  EXPECT_EQ(Ini(), before);
}

TEST_F(InisyncRunTest, AReaderThatNoLongerAnswersIsRemovedAndTheLastKeyMadeActive) {
  WriteIni(
      "[CardReader]\r\nTREVANO_Kelvane_Birch_0=Installed\r\nTREVANO_Kelvane_Alder_0=Active\r\n"
      "Other_Reader=Active\r\nTREVANO_Kelvane_Cedar_0=Installed\r\n"
      "[TREVANO_Kelvane_Alder_0]\r\nPort=20\r\n"
      "[TREVANO_Kelvane_Birch_0]\r\nPort=1\r\n"
      "[TREVANO_Kelvane_Cedar_0]\r\nPort=50\r\n");
  AddReaders({kBirch0, "TREVANO Kelvane Cedar 0"});
  EXPECT_EQ(inisync::RunInisync("-N"), 0);
  EXPECT_EQ(Ini(),
            "[CardReader]\r\nTREVANO_Kelvane_Birch_0=Installed\r\n"
            "Other_Reader=Installed\r\nTREVANO_Kelvane_Cedar_0=Active\r\n"
            "[TREVANO_Kelvane_Birch_0]\r\nPort=1\r\n"
            "[TREVANO_Kelvane_Cedar_0]\r\nPort=50\r\n");
}

TEST_F(InisyncRunTest, ARemovedReadersKeysGoWhateverTheirLetterCase) {
  // The service finds section and keys case-blind: every key naming the removed section goes.
  WriteIni(
      "[CardReader]\r\ntrevano_kelvane_alder_0=Active\r\nTREVANO_Kelvane_Birch_0=Installed\r\n"
      "TREVANO_KELVANE_ALDER_0=Installed\r\n"
      "[Trevano_Kelvane_Alder_0]\r\nPort=20\r\n"
      "[TREVANO_Kelvane_Birch_0]\r\nPort=1\r\n");
  AddReaders({kBirch0});
  EXPECT_EQ(inisync::RunInisync("-N"), 0);
  EXPECT_EQ(Ini(),
            "[CardReader]\r\nTREVANO_Kelvane_Birch_0=Active\r\n"
            "[TREVANO_Kelvane_Birch_0]\r\nPort=1\r\n");
}

TEST_F(InisyncRunTest, OfTwoNewReadersTheEarlierInTableOrderBecomesActive) {
  WriteIni(
      "[CardReader]\r\nTREVANO_Kelvane_Birch_0=Active\r\n[TREVANO_Kelvane_Birch_0]\r\nPort=1\r\n");
  // Fir answers on port 40 before Elm on port 100, but Elm comes first in the table.
  AddReaders({kBirch0, "TREVANO Kelvane Fir 0", "TREVANO Kelvane Elm 0"});
  EXPECT_EQ(inisync::RunInisync("-N"), 0);
  EXPECT_EQ(Keys("CardReader"),
            (std::vector<std::string>{"TREVANO_Kelvane_Birch_0", "TREVANO_Kelvane_Elm_0",
                                      "TREVANO_Kelvane_Fir_0"}));
  EXPECT_EQ(Value("CardReader", "TREVANO_Kelvane_Birch_0"), "Installed");
  EXPECT_EQ(Value("CardReader", "TREVANO_Kelvane_Elm_0"), "Active");
  EXPECT_EQ(Value("CardReader", "TREVANO_Kelvane_Fir_0"), "Installed");
  ExpectRecorded("TREVANO_Kelvane_Elm_0", "TREVANO AG", "Kelvane Elm", "100", "0");
  ExpectRecorded("TREVANO_Kelvane_Fir_0", "TREVANO AG", "Kelvane Fir", "40", "0");
  EXPECT_EQ(Keys("TREVANO_Kelvane_Birch_0"), std::vector<std::string>{"Port"});
}

TEST_F(InisyncRunTest, VuzodedReadersNameTheirOwnCompany) {
  // Port 225 reaches the FSC reader under its second name.
  AddReaders({"Vuzoded Divudaz USB Smartcard Reader 1", "FSC SCR USB 2A 0"});
  EXPECT_EQ(inisync::RunInisync("-N"), 0);
  ExpectRecorded("Vuzoded_Divudaz_USB_Smartcard_Reader_1", "Vuzoded Divudaz",
                 "USB Smartcard Reader 1", "211", "0");
  ExpectRecorded("FSC_SCR_USB_2A_0", "TREVANO AG", "SCR_USB_2A 0", "225", "0");
  EXPECT_EQ(Value("CardReader", "Vuzoded_Divudaz_USB_Smartcard_Reader_1"), "Active");
  EXPECT_EQ(Value("CardReader", "FSC_SCR_USB_2A_0"), "Installed");
}

TEST_F(InisyncRunTest, AReadOnlyFileIsMadeWritableAndStaysSo) {
  WriteIni("[Other]\r\nKey=Value\r\n");
  ASSERT_EQ(chmod(IniPath().c_str(), 0444), 0);
  AddReaders({kBirch0});
  EXPECT_EQ(inisync::RunInisync("-N"), 0);
  struct stat st;
  ASSERT_EQ(stat(IniPath().c_str(), &st), 0);
  EXPECT_NE(st.st_mode & S_IWUSR, 0u);
  EXPECT_EQ(Value("Other", "Key"), "Value");
  EXPECT_EQ(Value("CardReader", "TREVANO_Kelvane_Birch_0"), "Active");
}

TEST_F(InisyncRunTest, AReadOnlyFileWithNothingToChangeIsStillMadeWritable) {
  WriteIni("[Other]\r\nKey=Value\r\n");
  ASSERT_EQ(chmod(IniPath().c_str(), 0444), 0);
  EXPECT_EQ(inisync::RunInisync("-N"), 0);
  struct stat st;
  ASSERT_EQ(stat(IniPath().c_str(), &st), 0);
  EXPECT_NE(st.st_mode & S_IWUSR, 0u);
  EXPECT_EQ(Ini(), "[Other]\r\nKey=Value\r\n");
}

TEST_F(InisyncRunTest, AMissingFileIsCreated) {
  AddReaders({"TREVANO Kelvane Cypress 1"});
  EXPECT_EQ(inisync::RunInisync("-N"), 0);
  EXPECT_EQ(Keys("CardReader"), std::vector<std::string>{"TREVANO_Kelvane_Cypress_1"});
  ExpectRecorded("TREVANO_Kelvane_Cypress_1", "TREVANO AG", "Kelvane Cypress", "31", "3");
}

TEST_F(InisyncRunTest, AMissingFileWithoutReadersIsCreatedEmpty) {
  EXPECT_EQ(inisync::RunInisync("-N"), 0);
  struct stat st;
  ASSERT_EQ(stat(IniPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 0);
}

TEST_F(InisyncRunTest, PortValuesThatDoNotFitCountAsNotRecorded) {
  WriteIni(
      "[TREVANO_Kelvane_Birch_0]\r\nPort=00000000001\r\n"
      "[TREVANO_Kelvane_Alder_0]\r\nPort=0000000020\r\n");
  AddReaders({kBirch0, "TREVANO Kelvane Alder 0"});
  EXPECT_EQ(inisync::RunInisync("-N"), 0);
  // Birch's 11 characters make it new: its values are written over the old one.
  EXPECT_EQ(Value("TREVANO_Kelvane_Birch_0", "Port"), "1");
  EXPECT_EQ(Value("TREVANO_Kelvane_Alder_0", "Port"), "0000000020");
  EXPECT_EQ(Keys("CardReader"), std::vector<std::string>{"TREVANO_Kelvane_Birch_0"});
}

// Short distinct keys, so that 150 of them fit the 512 bytes of the key list.
std::string ShortKey(int i) {
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  return std::string{kDigits[i / 36], kDigits[i % 36]};
}

TEST_F(InisyncRunTest, KeysBeyondTheListsLimitsAreLeftAsTheyAre) {
  // 150 keys: the first 144 take part, the rest keep their values.
  std::string text = "[CardReader]\r\n";
  for (int i = 0; i < 150; ++i)
    text += ShortKey(i) + "=old\r\n";
  text += "[TREVANO_Kelvane_Alder_0]\r\nPort=20\r\n";
  WriteIni(text);
  EXPECT_EQ(inisync::RunInisync("-N"), 0);
  EXPECT_EQ(Keys("TREVANO_Kelvane_Alder_0").size(), 0u);
  EXPECT_EQ(Keys("CardReader").size(), 150u);
  for (int i = 0; i < 143; ++i)
    EXPECT_EQ(Value("CardReader", ShortKey(i)), "Installed") << ShortKey(i);
  EXPECT_EQ(Value("CardReader", ShortKey(143)), "Active");
  for (int i = 144; i < 150; ++i)
    EXPECT_EQ(Value("CardReader", ShortKey(i)), "old") << ShortKey(i);
}

TEST_F(InisyncRunTest, AKeyLongerThanAnEntryIsLeftAsItIs) {
  const std::string long_key(300, 'K');
  WriteIni("[CardReader]\r\nTREVANO_Kelvane_Birch_0=Installed\r\n" + long_key +
           "=Active\r\nTREVANO_Kelvane_Alder_0=Active\r\n"
           "[TREVANO_Kelvane_Alder_0]\r\nPort=20\r\n"
           "[TREVANO_Kelvane_Birch_0]\r\nPort=1\r\n");
  AddReaders({kBirch0});
  EXPECT_EQ(inisync::RunInisync("-N"), 0);
  EXPECT_EQ(Keys("CardReader"), (std::vector<std::string>{"TREVANO_Kelvane_Birch_0", long_key}));
  EXPECT_EQ(Value("CardReader", "TREVANO_Kelvane_Birch_0"), "Active");
  EXPECT_EQ(Value("CardReader", long_key), "Active");
}

}  // namespace
