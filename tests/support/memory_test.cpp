// SPDX-License-Identifier: BSD-3-Clause
// Memory functions: zero-filled blocks, the tag in front of a tagged block, the allocation log,
// system error texts, big-endian integers and hexadecimal text.
#include "support/memory.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/result.h"
#include "tests/common/test_util.h"

namespace {

using testutil::ReadFile;
using testutil::ScopedEnv;
using testutil::TempDir;

std::vector<std::string> LogLines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(path));
  // A text file: on Windows its lines end in "\r\n".
  for (std::string line; std::getline(in, line);)
    lines.push_back(line.substr(0, line.find_last_not_of('\r') + 1));
  return lines;
}

std::string Hex(const void* pointer) {
  char text[32];
  snprintf(text, sizeof text, "%08lx",
           static_cast<unsigned long>(reinterpret_cast<uintptr_t>(pointer)));
  return text;
}

TEST(MemoryTest, PlainBlocksAreZeroFilled) {
  auto* block = static_cast<unsigned char*>(mem::Allocate(64));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 64; ++i)
    EXPECT_EQ(block[i], 0);
  block[0] = 7;
  block = static_cast<unsigned char*>(mem::Reallocate(block, 4096));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block[0], 7);
  mem::Release(block);
  void* fresh = mem::Reallocate(nullptr, 8);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(static_cast<unsigned char*>(fresh)[7], 0);
  mem::Release(fresh);
  mem::Release(nullptr);
}

TEST(MemoryTest, TaggedBlocksWithoutLogTouchNoFile) {
  TempDir dir;
  ScopedEnv env("VMPMEMLOG", nullptr);
  auto* block = static_cast<char*>(mem::Alloc(10, "/src/config/cfg", 7));
  ASSERT_NE(block, nullptr);
  EXPECT_STREQ(block - mem::kTagSize, "     cfg 0007");
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(block[i], 0);
  block = static_cast<char*>(mem::ReAlloc(block, 100, "other.cpp", 99));
  ASSERT_NE(block, nullptr);
  EXPECT_STREQ(block - mem::kTagSize, "     cfg 0007");  // the tag of the allocation stays
  mem::Free(block, "x", 1);
  mem::Free(nullptr, "x", 1);
}

TEST(MemoryTest, AllocationLogLines) {
  TempDir dir;
  std::string log = dir.File("mem.log");
  ScopedEnv env("VMPMEMLOG", log.c_str());
  void* block = mem::Alloc(0x40, "C:\\src\\cfg", 7);
  ASSERT_NE(block, nullptr);
  std::string first_whole = Hex(static_cast<char*>(block) - mem::kTagSize);
  block = mem::ReAlloc(block, 0x1000, "/src/binfile.cpp", 1234);
  ASSERT_NE(block, nullptr);
  std::string second_whole = Hex(static_cast<char*>(block) - mem::kTagSize);
  mem::Free(block, "ascii", 56);
  // A null block is not logged.
  mem::Free(nullptr, "ascii", 57);

  std::vector<std::string> lines = LogLines(log);
  ASSERT_EQ(lines.size(), 3u);
  char pid[16];
  snprintf(pid, sizeof pid, "%08lx", static_cast<unsigned long>(getpid()));
  // The calendar text is 25 characters wide, right-aligned in a field of 26.
  const std::string time =
      " [A-Z][a-z]{2} [A-Z][a-z]{2} [ 123][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}";
  EXPECT_TRUE(
      std::regex_match(lines[0], std::regex("   Alloc " + std::string(pid) + ": " + first_whole +
                                            "      cfg 0007      cfg "
                                            "0007 00000050 " +
                                            time)))
      << lines[0];
  EXPECT_TRUE(
      std::regex_match(lines[1], std::regex(" ReAlloc " + std::string(pid) + ": " + second_whole +
                                            "      cfg 0007 binfile. "
                                            "1234 00001010 " +
                                            time)))
      << lines[1];
  EXPECT_TRUE(
      std::regex_match(lines[2], std::regex("    Free " + std::string(pid) + ": " + second_whole +
                                            "      cfg 0007    ascii "
                                            "0056 00000000 " +
                                            time)))
      << lines[2];
}

TEST(MemoryTest, UnwritableLogIsIgnored) {
  TempDir dir;
  std::string log = dir.File("no-such-folder/mem.log");
  ScopedEnv env("VMPMEMLOG", log.c_str());
  void* block = mem::Alloc(4, "f", 1);
  ASSERT_NE(block, nullptr);
  mem::Free(block, "f", 2);
  EXPECT_FALSE(testutil::FileExists(log));
}

TEST(MemoryTest, SystemErrorText) {
  std::string text = mem::SysErrText(ENOENT);
  EXPECT_EQ(text, "0x0002 No such file or directory");
  const char* again = mem::SysErrText(EACCES);
  EXPECT_STREQ(again, "0x000d Permission denied");
  EXPECT_LE(std::string(mem::SysErrText(0x12345)).size(), 7u + 80u);
}

TEST(MemoryTest, BigEndianIntegers) {
  uint8_t bytes[6] = {};
  mem::PutU32BE(bytes, 0x81300006);
  mem::PutU16BE(bytes + 4, 0xABCD);
  const uint8_t expected[6] = {0x81, 0x30, 0x00, 0x06, 0xAB, 0xCD};
  EXPECT_EQ(memcmp(bytes, expected, 6), 0);
  EXPECT_EQ(mem::GetU32BE(bytes), 0x81300006u);
  EXPECT_EQ(mem::GetU16BE(bytes + 4), 0xABCD);
}

TEST(MemoryTest, HexadecimalText) {
  const uint8_t bytes[2] = {0x0A, 0xFF};
  char text[5];
  ASSERT_EQ(mem::BytesToHex(bytes, 2, text, sizeof text), kResultOk);
  EXPECT_STREQ(text, "0aff");
  uint8_t back[2] = {};
  uint32_t count = 0;
  ASSERT_EQ(mem::HexToBytes("0aFF", back, sizeof back, &count), kResultOk);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(memcmp(back, bytes, 2), 0);

  char small[4] = "xyz";
  EXPECT_EQ(mem::BytesToHex(bytes, 2, small, sizeof small), kErrBufferTooSmall);
  EXPECT_STREQ(small, "");
  EXPECT_EQ(mem::HexToBytes("abc", back, sizeof back, &count), kErrParameterBase);
  EXPECT_EQ(mem::HexToBytes("aabbcc", back, sizeof back, &count), kErrBufferTooSmall);
  EXPECT_EQ(mem::HexToBytes("zz", back, sizeof back, &count), kErrParameterBase);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(mem::BytesToHex(bytes, 2, nullptr, 5), kErrIllegalArgument);
}

}  // namespace
