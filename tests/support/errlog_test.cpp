// SPDX-License-Identifier: BSD-3-Clause
// The error log: record layout, the 58-character box, the mask, append after an end byte 0x1A,
// missing and unusable log files, and records from two processes.
#include "support/errlog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "support/result.h"
#include "tests/common/child_process.h"
#include "tests/common/test_util.h"

namespace {

using testutil::ReadFile;
using testutil::ScopedEnv;
using testutil::TempDir;

const std::string kBoxStart(16, ' ');

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find("\r\n", at);
    if (end == std::string::npos) {
      lines.push_back(text.substr(at));
      break;
    }
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

std::string BoxLine(const std::string& piece) {
  return kBoxStart + "|" + piece + std::string(58 - piece.size(), ' ') + "|";
}

class ErrLogTest : public ::testing::Test {
 protected:
  void SetUp() override { ErrLogSetMask(0x01); }
  void TearDown() override { ErrLogSetMask(0x01); }
  TempDir dir_;
  std::string log_ = dir_.File("err.log");
};

TEST_F(ErrLogTest, WithoutErrlfileNothingIsWritten) {
  ScopedEnv env("ERRLFILE", nullptr);
  EXPECT_EQ(ErrLogWrite(1, "CFG", "Init", 135, 0x8130000A, "text %d", 1), kResultOk);
  EXPECT_FALSE(testutil::FileExists(log_));
}

TEST_F(ErrLogTest, CreatesTheFileWithOneRecord) {
  ScopedEnv env("ERRLFILE", log_.c_str());
  ASSERT_EQ(ErrLogWrite(1, "CFG", "Init", 135, 0x8130000A, "cannot open %s", "x.ini"), kResultOk);
  std::string content = ReadFile(log_);
  std::vector<std::string> lines = Lines(content);
  ASSERT_EQ(lines.size(), 2u) << content;
  EXPECT_TRUE(std::regex_match(lines[0], std::regex("01 (0[1-9]|1[0-2])-[0-3][0-9] [0-2][0-9]:[0-5]"
                                                    "[0-9]:[0-6][0-9] E: 8130000A L: 0135 M: CFG "
                                                    "F: Init")))
      << lines[0];
  EXPECT_EQ(lines[1], BoxLine("cannot open x.ini"));
  EXPECT_EQ(content.substr(content.size() - 2), "\r\n");
}

struct BoxCase {
  size_t length;
  size_t lines;
  size_t last_piece;  // characters of the message on the last line
};

TEST_F(ErrLogTest, MessagesAreCutIntoPiecesOf58) {
  const BoxCase cases[] = {
      {0, 1, 0},    {1, 1, 1},   {57, 1, 57},  {58, 1, 58}, {59, 2, 1},
      {116, 2, 58}, {117, 3, 1}, {511, 9, 47}, {600, 9, 47}};  // longer texts are cut to 511
                                                               // characters
  ScopedEnv env("ERRLFILE", log_.c_str());
  for (const BoxCase& c : cases) {
    std::remove(log_.c_str());
    std::string message;
    for (size_t i = 0; i < c.length; ++i)
      message += static_cast<char>('a' + i % 26);
    ASSERT_EQ(ErrLogWrite(1, "FIO", "Open", 1, 0, "%s", message.c_str()), kResultOk);
    std::vector<std::string> lines = Lines(ReadFile(log_));
    ASSERT_EQ(lines.size(), 1 + c.lines) << "length " << c.length;
    size_t start = (c.lines - 1) * 58;
    EXPECT_EQ(lines.back(), BoxLine(message.substr(start, c.last_piece))) << "length " << c.length;
    for (size_t i = 1; i < lines.size(); ++i)
      EXPECT_EQ(lines[i].size(), 76u);
  }
}

TEST_F(ErrLogTest, AbsentFormatGivesOneEmptyBoxLine) {
  ScopedEnv env("ERRLFILE", log_.c_str());
  ASSERT_EQ(ErrLogWrite(1, "SEM", "Init", 7, kErrIllegalArgument, nullptr), kResultOk);
  std::vector<std::string> lines = Lines(ReadFile(log_));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("E: 81300006 L: 0007 M: SEM F: Init"), std::string::npos);
  EXPECT_EQ(lines[1], BoxLine(""));
}

TEST_F(ErrLogTest, OverlongHeadLineIsCutNotOverflowed) {
  ScopedEnv env("ERRLFILE", log_.c_str());
  std::string function(2000, 'F');
  ASSERT_EQ(ErrLogWrite(1, "CFG", function.c_str(), 1, 0, "x"), kResultOk);
  std::vector<std::string> lines = Lines(ReadFile(log_));
  ASSERT_GE(lines.size(), 2u);
  // The second part of the head line is cut to 511 bytes with its line end, and the record
  // goes on with its box line.
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].size(), 18u + 509u);
  EXPECT_EQ(lines[1], BoxLine("x"));
}

TEST_F(ErrLogTest, RecordOverwritesAnEndByte1A) {
  ScopedEnv env("ERRLFILE", log_.c_str());
  testutil::WriteFile(log_, std::string("old\r\n") + '\x1a');
  ASSERT_EQ(ErrLogWrite(1, "CFG", "Init", 1, 0, "new"), kResultOk);
  std::string content = ReadFile(log_);
  EXPECT_EQ(content.substr(0, 5), "old\r\n");
  EXPECT_EQ(content.find('\x1a'), std::string::npos);
  EXPECT_EQ(content.substr(5, 3), "01 ");
}

TEST_F(ErrLogTest, AppendsToAnExistingLog) {
  ScopedEnv env("ERRLFILE", log_.c_str());
  ASSERT_EQ(ErrLogWrite(1, "CFG", "A", 1, 0, "first"), kResultOk);
  ASSERT_EQ(ErrLogWrite(1, "CFG", "B", 2, 0, "second"), kResultOk);
  std::vector<std::string> lines = Lines(ReadFile(log_));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1], BoxLine("first"));
  EXPECT_EQ(lines[3], BoxLine("second"));
}

TEST_F(ErrLogTest, MaskSelectsLevels) {
  ScopedEnv env("ERRLFILE", log_.c_str());
  EXPECT_EQ(ErrLogWrite(2, "CFG", "Init", 1, 0, "hidden"), kResultOk);
  EXPECT_FALSE(testutil::FileExists(log_));

  ASSERT_EQ(ErrLogChangeMask(2, 1), kResultOk);
  uint8_t mask = 0;
  ASSERT_EQ(ErrLogGetMask(&mask), kResultOk);
  EXPECT_EQ(mask, 0x03);
  // Only the low byte of the level counts.
  ASSERT_EQ(ErrLogWrite(0x102, "CFG", "Init", 1, 0, "shown"), kResultOk);
  std::vector<std::string> lines = Lines(ReadFile(log_));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(0, 3), "02 ");

  ASSERT_EQ(ErrLogChangeMask(1, 0), kResultOk);
  ASSERT_EQ(ErrLogGetMask(&mask), kResultOk);
  EXPECT_EQ(mask, 0x02);
  EXPECT_EQ(ErrLogWrite(1, "CFG", "Init", 1, 0, "hidden again"), kResultOk);
  EXPECT_EQ(Lines(ReadFile(log_)).size(), 2u);
  EXPECT_EQ(ErrLogGetMask(nullptr), kErrIllegalArgument);
}

TEST_F(ErrLogTest, UnusableLogFileGivesOpenError) {
  std::string path = dir_.File("missing-folder/err.log");
  ScopedEnv env("ERRLFILE", path.c_str());
  EXPECT_EQ(ErrLogWrite(1, "CFG", "Init", 1, 0, "lost"), kErrOpenFailed);
}

// The second process: adds its record to the log that ERRLFILE names.
int WriteChildRecord(const std::string&) {
  return ErrLogWrite(1, "CFG", "Child", 2, 0, "from the child") == kResultOk ? 0 : 1;
}
KV_CHILD_ROUTINE("errlog-record", WriteChildRecord);

TEST_F(ErrLogTest, TwoProcessesEachAddTheirRecord) {
  ScopedEnv env("ERRLFILE", log_.c_str());
  ASSERT_EQ(ErrLogWrite(1, "CFG", "Parent", 1, 0, "from the parent"), kResultOk);
  testutil::Child child("errlog-record", "");
  ASSERT_TRUE(child.started());
  EXPECT_EQ(child.Wait(), 0);
  std::vector<std::string> lines = Lines(ReadFile(log_));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_NE(lines[0].find("F: Parent"), std::string::npos);
  EXPECT_EQ(lines[1], BoxLine("from the parent"));
  EXPECT_NE(lines[2].find("F: Child"), std::string::npos);
  EXPECT_EQ(lines[3], BoxLine("from the child"));
}

}  // namespace
