// SPDX-License-Identifier: BSD-3-Clause
// The private-profile service: the return values of reading a value, a key list and the section
// list for every buffer size that matters, letter case and blanks, and the effects of writing a
// value, deleting a key and deleting a section on the file's lines. The same table runs against
// our own INI service (POSIX) and the system's (Windows, under Wine); where Wine's answer is not
// the one Windows gives, the row says so. What a save does to the file system: profile_posix_test.
#include "config/profile.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/common/test_util.h"

namespace {

using testutil::FileExists;
using testutil::ReadFile;
using testutil::ScopedEnv;
using testutil::TempDir;
using testutil::UnderWine;
using testutil::WriteFile;

// Wine writes every line of the file back in its own form (no blanks around "=" or in front of a
// key, blank lines and text behind a section's "]" left out), where Windows and our service keep
// the lines that a change does not touch as they were.
const std::string& KeptOrWine(const std::string& kept, const std::string& wine) {
  return UnderWine() ? wine : kept;
}

constexpr char kSample[] =
    "; readers of this machine\r\n"
    "[Readers]\r\n"
    "Port = 20  \r\n"
    "  Name=  Kelvane Birch  \r\n"
    "Empty=\r\n"
    "Quoted=\"  spaced  \"\r\n"
    "no equals sign here\r\n"
    "[Other]\r\n"
    "\r\n"
    "[Long]\n"
    "Key=0123456789\n";

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteFile(path_, kSample); }

  // Reads into a buffer of `size` bytes filled with '#'; returns what the service answered and
  // leaves the buffer's bytes in `bytes_`.
  uint32_t Get(const char* section, const char* key, uint32_t size,
               const char* default_value = "") {
    bytes_.assign(size + 1, '#');
    uint32_t result = ProfileGetString(section, key, default_value, &bytes_[0], size, Path());
    bytes_.resize(size);
    return result;
  }
  const char* Path() { return path_.c_str(); }

  TempDir dir_;
  std::string path_ = dir_.File("test.ini");
  std::string log_ = dir_.File("err.log");
  ScopedEnv env_{"ERRLFILE", log_.c_str()};
  std::string bytes_;
};

struct ReadCase {
  const char* section;
  const char* key;
  uint32_t size;
  uint32_t result;
  std::string bytes;  // the buffer's first bytes after the call
};

TEST_F(ProfileTest, ValueReturnsCharactersCopiedAndCutsAtSizeMinusOne) {
  const ReadCase cases[] = {
      {"Readers", "Port", 12, 2, std::string("20\0", 3)},
      {"readers", "PORT", 12, 2, std::string("20\0", 3)},  // letter case does not count
      {" Readers ", " Port ", 12, 2, std::string("20\0", 3)},
      {"Readers", "Name", 100, 13, std::string("Kelvane Birch\0", 14)},
      {"Readers", "Quoted", 100, 10, std::string("  spaced  \0", 11)},
      {"Long", "Key", 12, 10, std::string("0123456789\0", 11)},
      {"Long", "Key", 11, 10, std::string("0123456789\0", 11)},  // exact fit: size - 1 too
      {"Long", "Key", 5, 4, std::string("0123\0", 5)},           // cut
      {"Long", "Key", 2, 1, std::string("0\0", 2)},
      {"Long", "Key", 1, 0, std::string("\0", 1)},
      {"Long", "Key", 0, 0, ""},
      {"Readers", "Empty", 12, 0, std::string("\0", 1)},
      {"Readers", "Missing", 12, 0, std::string("\0", 1)},
      {"Readers", "no equals sign here", 12, 0, std::string("\0", 1)},
      {"Nowhere", "Port", 12, 0, std::string("\0", 1)},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(std::string(c.section) + "/" + c.key + " size " + std::to_string(c.size));
    EXPECT_EQ(Get(c.section, c.key, c.size), c.result);
    EXPECT_EQ(bytes_.substr(0, c.bytes.size()), c.bytes);
  }
}

TEST_F(ProfileTest, ListsEndWithTwoTerminatorsAndAreCutAtSizeMinusTwo) {
  const std::string keys("Port\0Name\0Empty\0Quoted\0\0", 24);  // 23 characters and the end
  const ReadCase cases[] = {
      {"Readers", nullptr, 100, 23, keys},
      {"Readers", nullptr, 25, 23, keys},
      {"Readers", nullptr, 24, 22, keys},  // an exact fit counts as cut
      {"Readers", nullptr, 23, 21, std::string("Port\0Name\0Empty\0Quote\0\0", 23)},
      {"Readers", nullptr, 10, 8, std::string("Port\0Nam\0\0", 10)},
      {"Readers", nullptr, 3, 1, std::string("P\0\0", 3)},
      {"Readers", nullptr, 2, 0, std::string("\0\0", 2)},
      {"Readers", nullptr, 1, 0, std::string("\0", 1)},
      {"Readers", nullptr, 0, 0, ""},
      {"Long", nullptr, 100, 4, std::string("Key\0\0", 5)},
      {"Other", nullptr, 100, 0, std::string("\0", 1)},  // empty section
      {"Nowhere", nullptr, 100, 0, std::string("\0", 1)},
      {nullptr, nullptr, 100, 19, std::string("Readers\0Other\0Long\0\0", 20)},
      {nullptr, "Port", 100, 19, std::string("Readers\0Other\0Long\0\0", 20)},
      {nullptr, nullptr, 20, 18, std::string("Readers\0Other\0Long\0\0", 20)},
      {nullptr, nullptr, 12, 10, std::string("Readers\0Ot\0\0", 12)},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(std::string(c.section ? c.section : "(none)") + " size " + std::to_string(c.size));
    EXPECT_EQ(Get(c.section, c.key, c.size), c.result);
    // A cut list fills the buffer: Windows (as documented) and our service end it with two
    // terminators; Wine's ANSI call writes only the first and leaves the buffer's last byte.
    std::string bytes = c.bytes;
    if (UnderWine() && c.size >= 2 && c.result == c.size - 2 && bytes.size() == c.size) {
      bytes.back() = '#';
    }
    EXPECT_EQ(bytes_.substr(0, bytes.size()), bytes);
  }
}

TEST_F(ProfileTest, FirstOfTwoNamesWinsAndAValueRunsToTheLineEnd) {
  WriteFile(path_, "[A]\r\nx=1\r\nx=2\r\nk=a=b\r\n\tt\t=\t v \t\r\n[B]\r\n[a]\r\nz=3\r\n");
  const ReadCase cases[] = {
      {"A", "x", 20, 1, std::string("1\0", 2)},    // the first of two keys
      {"A", "k", 20, 3, std::string("a=b\0", 4)},  // the first "=" ends the name
      {"A", "t", 20, 1, std::string("v\0", 2)},    // tabs are blanks too
      {"A", "z", 20, 0, std::string("\0", 1)},     // a second [a] is not read as [A]
      {"A", nullptr, 20, 8, std::string("x\0x\0k\0t\0\0", 9)},
      {nullptr, nullptr, 20, 6, std::string("A\0B\0a\0\0", 7)},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(std::string(c.section ? c.section : "(none)") + "/" + (c.key ? c.key : "(none)"));
    EXPECT_EQ(Get(c.section, c.key, c.size), c.result);
    EXPECT_EQ(bytes_.substr(0, c.bytes.size()), c.bytes);
  }
}

TEST_F(ProfileTest, DefaultTextStandsForMissingValuesWithoutTrailingBlanks) {
  EXPECT_EQ(Get("Readers", "Missing", 12, "dflt  "), 4u);
  EXPECT_EQ(bytes_.substr(0, 5), std::string("dflt\0", 5));
  EXPECT_EQ(Get("Readers", "Port", 12, "dflt"), 2u);
  EXPECT_EQ(Get("Readers", "Missing", 12, nullptr), 0u);
  EXPECT_EQ(Get("Nowhere", nullptr, 12, "dflt"), 4u);
}

TEST_F(ProfileTest, MissingFileOrArgumentsAnswerNothing) {
  char buffer[8] = "xxxxxxx";
  EXPECT_EQ(
      ProfileGetString("Readers", "Port", "", buffer, sizeof buffer, dir_.File("none.ini").c_str()),
      0u);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(ProfileGetString("Readers", "Port", "", nullptr, 8, Path()), 0u);
  buffer[0] = 'x';
  EXPECT_EQ(ProfileGetString("Readers", "Port", "", buffer, sizeof buffer, nullptr), 0u);
  EXPECT_EQ(buffer[0], '\0');
}

TEST_F(ProfileTest, WritingAValueCreatesTheFileWithCrLfLines) {
  const std::string fresh = dir_.File("fresh.ini");
  ASSERT_TRUE(ProfileWriteString("CardReader", "Birch", "Installed", fresh.c_str()));
  EXPECT_EQ(ReadFile(fresh), "[CardReader]\r\nBirch=Installed\r\n");
  ASSERT_TRUE(ProfileWriteString("Birch", "Port", "1", fresh.c_str()));
  EXPECT_EQ(ReadFile(fresh), "[CardReader]\r\nBirch=Installed\r\n[Birch]\r\nPort=1\r\n");
}

TEST_F(ProfileTest, ReplacingAValueKeepsTheKeysSpellingAndTheOtherLines) {
  ASSERT_TRUE(ProfileWriteString("READERS", "port", "21", Path()));
  EXPECT_EQ(
      ReadFile(path_),
      KeptOrWine("; readers of this machine\r\n[Readers]\r\nPort=21\r\n  Name=  Kelvane Birch  \r\n"
                 "Empty=\r\nQuoted=\"  spaced  \"\r\nno equals sign here\r\n[Other]\r\n\r\n"
                 "[Long]\r\nKey=0123456789\r\n",
                 "; readers of this machine\r\n[Readers]\r\nPort=21\r\nName=Kelvane Birch\r\n"
                 "Empty=\r\nQuoted=\"  spaced  \"\r\nno equals sign here\r\n[Other]\r\n"
                 "[Long]\r\nKey=0123456789\r\n"));
  EXPECT_EQ(Get("Readers", "Port", 12), 2u);
  EXPECT_EQ(bytes_.substr(0, 2), "21");
}

TEST_F(ProfileTest, NewKeyGoesBehindTheSectionsLastLineBeforeBlankLines) {
  WriteFile(path_, "[A]\r\nx=1\r\n; note\r\n\r\n[B]\r\ny=2\r\n");
  ASSERT_TRUE(ProfileWriteString("A", "z", "3", Path()));
  EXPECT_EQ(ReadFile(path_), KeptOrWine("[A]\r\nx=1\r\n; note\r\nz=3\r\n\r\n[B]\r\ny=2\r\n",
                                        "[A]\r\nx=1\r\n; note\r\nz=3\r\n[B]\r\ny=2\r\n"));
  ASSERT_TRUE(ProfileWriteString("B", "w", "4", Path()));
  EXPECT_EQ(ReadFile(path_), KeptOrWine("[A]\r\nx=1\r\n; note\r\nz=3\r\n\r\n[B]\r\ny=2\r\nw=4\r\n",
                                        "[A]\r\nx=1\r\n; note\r\nz=3\r\n[B]\r\ny=2\r\nw=4\r\n"));
}

TEST_F(ProfileTest, DeletingAKeyRemovesOnlyItsLine) {
  ASSERT_TRUE(ProfileWriteString("readers", "NAME", nullptr, Path()));
  EXPECT_EQ(Get("Readers", nullptr, 100), 18u);
  EXPECT_EQ(bytes_.substr(0, 19), std::string("Port\0Empty\0Quoted\0\0", 19));
  EXPECT_EQ(ReadFile(path_).find("Kelvane"), std::string::npos);
}

TEST_F(ProfileTest, DeletingASectionRemovesItsHeaderAndAllItsLines) {
  ASSERT_TRUE(ProfileWriteString("Readers", nullptr, nullptr, Path()));
  EXPECT_EQ(ReadFile(path_),
            KeptOrWine("; readers of this machine\r\n[Other]\r\n\r\n[Long]\r\nKey=0123456789\r\n",
                       "; readers of this machine\r\n[Other]\r\n[Long]\r\nKey=0123456789\r\n"));
  EXPECT_EQ(Get(nullptr, nullptr, 100), 11u);
}

TEST_F(ProfileTest, DeletingWhatIsNotThereSucceedsAndChangesNothing) {
  ASSERT_TRUE(ProfileWriteString("Readers", "Missing", nullptr, Path()));
  ASSERT_TRUE(ProfileWriteString("Nowhere", nullptr, nullptr, Path()));
  EXPECT_EQ(ReadFile(path_), kSample);
  const std::string missing = dir_.File("missing.ini");
  ASSERT_TRUE(ProfileWriteString("Nowhere", nullptr, nullptr, missing.c_str()));
  EXPECT_FALSE(FileExists(missing));
}

TEST_F(ProfileTest, LineBreaksInAValueDoNotMakeNewLines) {
  ASSERT_TRUE(ProfileWriteString("S", "k", "one\r\n[Evil]", Path()));
  EXPECT_EQ(Get("S", "k", 20), 3u);
  EXPECT_EQ(Get("Evil", nullptr, 20), 0u);
}

TEST_F(ProfileTest, MissingSectionOrPathIsRefused) {
  EXPECT_FALSE(ProfileWriteString(nullptr, "k", "v", Path()));
  EXPECT_NE(ProfileLastError(), 0u);  // the system's number: profile_posix_test.cpp
  EXPECT_FALSE(ProfileWriteString("S", "k", "v", nullptr));
  EXPECT_EQ(ReadFile(path_), kSample);
  // A section name of blanks only could never be asked for again: our service refuses it.
  // Windows does not document its answer; Wine writes the key above the first section.
  EXPECT_EQ(ProfileWriteString("  ", "k", "v", Path()), UnderWine());
  EXPECT_EQ(ReadFile(path_) == kSample, !UnderWine());
}

}  // namespace
