// SPDX-License-Identifier: BSD-3-Clause
// Batches of the INI service of our own: reads and changes on one copy of the file, written back
// once, with the same content as the same changes made one by one, and no update of another
// process lost.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "config/profile.h"
#include "tests/common/test_util.h"

namespace {

using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

constexpr char kStart[] =
    "; readers\r\n[CardReader]\r\nOld=Active\r\n[Old]\r\nPort=5\r\n\r\n[Keep]\n";

std::string Value(const std::string& path, const char* section, const char* key) {
  char buffer[64];
  ProfileGetString(section, key, "-", buffer, sizeof buffer, path.c_str());
  return buffer;
}

// The changes of an inisync run that replaces one reader by another.
void Changes(const std::string& path) {
  const char* file = path.c_str();
  EXPECT_TRUE(ProfileWriteString("CardReader", "Old", nullptr, file));
  EXPECT_TRUE(ProfileWriteString("Old", nullptr, nullptr, file));
  EXPECT_TRUE(ProfileWriteString("CardReader", "New", "Installed", file));
  EXPECT_TRUE(ProfileWriteString("New", "Port", "20", file));
  EXPECT_TRUE(ProfileWriteString("new", "PORT", "21", file));
  EXPECT_TRUE(ProfileWriteString("Keep", "Gone", nullptr, file));  // changes nothing
  EXPECT_TRUE(ProfileWriteString("CardReader", "New", "Active", file));
}

TEST(ProfileBatchTest, WritesOnceWhatTheChangesOneByOneWrite) {
  TempDir dir;
  const std::string single = dir.File("single.ini");
  const std::string batched = dir.File("batched.ini");
  WriteFile(single, kStart);
  WriteFile(batched, kStart);
  Changes(single);

  ASSERT_TRUE(ProfileBatchBegin(batched.c_str()));
  EXPECT_FALSE(ProfileBatchBegin(batched.c_str()));  // one batch at a time
  EXPECT_EQ(ProfileLastError(), static_cast<uint32_t>(EINVAL));
  Changes(batched);
  // Reads see the batch's changes; the file is untouched until the end.
  EXPECT_EQ(Value(batched, "New", "Port"), "21");
  EXPECT_EQ(Value(batched, "Old", "Port"), "-");
  EXPECT_EQ(ReadFile(batched), kStart);
  ASSERT_TRUE(ProfileBatchEnd());
  EXPECT_EQ(ReadFile(batched), ReadFile(single));
  EXPECT_EQ(Value(batched, "CardReader", "New"), "Active");

  EXPECT_FALSE(ProfileBatchEnd());  // none open
  // A batch that changes nothing leaves the file as it was, byte for byte.
  WriteFile(batched, kStart);
  ASSERT_TRUE(ProfileBatchBegin(batched.c_str()));
  EXPECT_TRUE(ProfileWriteString("Keep", "Gone", nullptr, batched.c_str()));
  ASSERT_TRUE(ProfileBatchEnd());
  EXPECT_EQ(ReadFile(batched), kStart);
}

// Processes that each change one file in a batch, and one that saves value by value, lose none of
// each other's changes: a batch holds the folder's turn to be saved from its first read on.
TEST(ProfileBatchTest, SimultaneousBatchesLoseNoUpdate) {
  TempDir dir;
  const std::string path = dir.File("shared.ini");
  constexpr int kProcesses = 4;
  constexpr int kKeys = 10;
  pid_t children[kProcesses];
  for (int p = 0; p < kProcesses; ++p) {
    children[p] = fork();
    ASSERT_GE(children[p], 0);
    if (children[p] == 0) {
      const bool batch = p != 0;
      if (batch && !ProfileBatchBegin(path.c_str())) _exit(1);
      for (int k = 0; k < kKeys; ++k) {
        const std::string key = "p" + std::to_string(p) + "k" + std::to_string(k);
        if (!ProfileWriteString("S", key.c_str(), "1", path.c_str())) _exit(2);
      }
      _exit(batch && !ProfileBatchEnd() ? 3 : 0);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0);
  }
  int lost = 0;
  for (int p = 0; p < kProcesses; ++p) {
    for (int k = 0; k < kKeys; ++k) {
      const std::string key = "p" + std::to_string(p) + "k" + std::to_string(k);
      lost += Value(path, "S", key.c_str()) != "1";
    }
  }
  EXPECT_EQ(lost, 0);
}

}  // namespace
