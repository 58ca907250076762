// SPDX-License-Identifier: BSD-3-Clause
// The private-profile service of the POSIX build, where it is our own INI writer: what a save
// does to the file system (a file it may not write, a full disk, links, owner and mode) and to
// other processes saving the same file at once, value by value or in batches.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "config/profile.h"
#include "tests/common/test_util.h"

namespace {

using testutil::CountFiles;
using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

constexpr char kSample[] = "; readers\r\n[Readers]\r\nPort = 20\r\n[Other]\r\n";

std::string Value(const std::string& path, const char* section, const char* key) {
  char buffer[64];
  ProfileGetString(section, key, "", buffer, sizeof buffer, path.c_str());
  return buffer;
}

TEST(ProfilePosixTest, AFileThatCannotBeWrittenFailsWithTheSystemsReason) {
  TempDir dir;
  const std::string path = dir.File("test.ini");
  WriteFile(path, kSample);
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  EXPECT_FALSE(ProfileWriteString("Readers", "Port", "22", path.c_str()));
  EXPECT_EQ(ProfileLastError(), static_cast<uint32_t>(EACCES));
  EXPECT_EQ(ReadFile(path), kSample);
  // A missing section is refused with the system's number for a bad argument.
  EXPECT_FALSE(ProfileWriteString(nullptr, "k", "v", path.c_str()));
  EXPECT_EQ(ProfileLastError(), static_cast<uint32_t>(EINVAL));
}

// A write that fails half-way (the file-size limit stands for a full disk) leaves the file as it
// was, and nothing beside it.
TEST(ProfileWriteFailureTest, FileKeepsItsContent) {
  TempDir dir;
  const std::string path = dir.File("keep.ini");
  WriteFile(path, kSample);
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = 64;
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(3);
    const std::string value(200, 'x');
    _exit(ProfileWriteString("Readers", "Long", value.c_str(), path.c_str()) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFile(path), kSample);
  EXPECT_EQ(CountFiles(dir.path()), 1);
  // A write that succeeds keeps the file's permissions.
  ASSERT_TRUE(ProfileWriteString("Readers", "Long", "y", path.c_str()));
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(CountFiles(dir.path()), 1);
}

// A save changes the file a link points to, keeps its other hard links, its owner, group and
// mode (also where the saving account cannot give a file away), and leaves nothing beside it.
TEST(ProfileSaveTest, LinksOwnerAndModeAreKept) {
  TempDir dir;
  const std::string real = dir.File("real.ini");
  const std::string link = dir.File("link.ini");
  const std::string second = dir.File("second.ini");
  WriteFile(real, kSample);
  ASSERT_EQ(symlink("real.ini", link.c_str()), 0);
  ASSERT_EQ(::link(real.c_str(), second.c_str()), 0);
  ASSERT_EQ(chmod(real.c_str(), 0640), 0);
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(real.c_str(), 1, 2), 0);
  }
  ASSERT_TRUE(ProfileWriteString("Readers", "Port", "7", link.c_str()));
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_nlink, 2u);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(Value(second, "Readers", "Port"), "7");
  // Without the second link the file is replaced by a new one with the same owner and mode.
  ASSERT_EQ(unlink(second.c_str()), 0);
  ASSERT_TRUE(ProfileWriteString("Readers", "Port", "8", real.c_str()));
  struct stat after;
  ASSERT_EQ(stat(real.c_str(), &after), 0);
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(Value(real, "Readers", "Port"), "8");
  if (root) {
    EXPECT_EQ(after.st_uid, 1u);
    EXPECT_EQ(after.st_gid, 2u);
    // An account that may write the file but not give a new one to its owner writes in place.
    ASSERT_EQ(chmod(real.c_str(), 0666), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
      _exit(ProfileWriteString("Readers", "Port", "9", real.c_str()) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(stat(real.c_str(), &after), 0);
    EXPECT_EQ(after.st_uid, 1u);
    EXPECT_EQ(after.st_gid, 2u);
    EXPECT_EQ(Value(real, "Readers", "Port"), "9");
    // A link another account planted in a sticky folder open to everybody is not followed.
    const std::string shared = dir.File("shared");
    const std::string planted = shared + "/planted.ini";
    ASSERT_EQ(mkdir(shared.c_str(), 01777), 0);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    ASSERT_EQ(symlink(real.c_str(), planted.c_str()), 0);
    ASSERT_EQ(lchown(planted.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(ProfileWriteString("Readers", "Port", "10", planted.c_str()));
    EXPECT_EQ(ProfileLastError(), static_cast<uint32_t>(EACCES));
    EXPECT_EQ(Value(real, "Readers", "Port"), "9");
    ASSERT_EQ(unlink(planted.c_str()), 0);
    ASSERT_EQ(rmdir(shared.c_str()), 0);
  }
  EXPECT_EQ(CountFiles(dir.path()), 2);  // the file and the link
}

constexpr char kStart[] =
    "; readers\r\n[CardReader]\r\nOld=Active\r\n[Old]\r\nPort=5\r\n\r\n[Keep]\n";

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

// A batch: one copy of the file for its reads and changes, written back once, with the content
// that the same changes made one by one give.
TEST(ProfileSaveTest, BatchWritesOnceWhatTheChangesOneByOneWrite) {
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
  EXPECT_EQ(Value(batched, "Old", "Port"), "");
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

// Processes that save one file at once lose none of each other's changes, whether they save
// value by value or in batches (a batch holds the folder's turn to be saved from its first read).
TEST(ProfileSaveTest, SimultaneousSavesLoseNoUpdate) {
  TempDir dir;
  const std::string path = dir.File("shared.ini");
  constexpr int kProcesses = 6;
  constexpr int kKeys = 40;
  pid_t children[kProcesses];
  for (int p = 0; p < kProcesses; ++p) {
    children[p] = fork();
    ASSERT_GE(children[p], 0);
    if (children[p] == 0) {
      const bool batches = p % 2 == 1;  // each of ten keys
      for (int k = 0; k < kKeys; ++k) {
        if (batches && k % 10 == 0 && !ProfileBatchBegin(path.c_str())) _exit(1);
        const std::string key = "p" + std::to_string(p) + "k" + std::to_string(k);
        if (!ProfileWriteString("S", key.c_str(), "1", path.c_str())) _exit(2);
        if (batches && k % 10 == 9 && !ProfileBatchEnd()) _exit(3);
      }
      _exit(0);
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
  EXPECT_EQ(CountFiles(dir.path()), 1);
}

}  // namespace
