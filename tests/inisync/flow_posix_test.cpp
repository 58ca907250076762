// SPDX-License-Identifier: BSD-3-Clause
// The run of inisync on the reader simulator: the start-up pause on virtual time, the probe and
// its early end, and what the run leaves in vezidide.ini (readers added, kept, removed, the
// "Active" one, a read-only file, a missing file, the limits of the "CardReader" list). POSIX
// only: there WINDIR points the Windows directory at the test's own folder; on Windows it is
// the system's (GetWindowsDirectoryA, also under Wine), where the end-to-end run of inisync.exe
// writes vezidide.ini through the same flow.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "config/profile.h"
#include "ctapi/ctapi.h"
#include "inisync/flow.h"
#include "sim/sim.h"
#include "tests/common/test_util.h"
#include "tests/ctapi/ctapi_fixture.h"

namespace {

constexpr char kBirch0[] = "TREVANO Kelvane Birch 0";

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
