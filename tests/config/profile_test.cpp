// SPDX-License-Identifier: BSD-3-Clause
// The private-profile service: the return values of reading a value, a key list and the section
// list for every buffer size that matters, letter case and blanks, and the effects of writing a
// value, deleting a key and deleting a section on the file's lines.
#include "config/profile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "tests/common/test_util.h"

namespace {

using testutil::CountFiles;
using testutil::FileExists;
using testutil::ReadFile;
using testutil::ScopedEnv;
using testutil::TempDir;
using testutil::WriteFile;

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
  EXPECT_EQ(ReadFile(path_),
            "; readers of this machine\r\n[Readers]\r\nPort=21\r\n  Name=  Kelvane Birch  \r\n"
            "Empty=\r\nQuoted=\"  spaced  \"\r\nno equals sign here\r\n[Other]\r\n\r\n[Long]\r\n"
            "Key=0123456789\r\n");
  EXPECT_EQ(Get("Readers", "Port", 12), 2u);
  EXPECT_EQ(bytes_.substr(0, 2), "21");
}

TEST_F(ProfileTest, NewKeyGoesBehindTheSectionsLastLineBeforeBlankLines) {
  WriteFile(path_, "[A]\r\nx=1\r\n; note\r\n\r\n[B]\r\ny=2\r\n");
  ASSERT_TRUE(ProfileWriteString("A", "z", "3", Path()));
  EXPECT_EQ(ReadFile(path_), "[A]\r\nx=1\r\n; note\r\nz=3\r\n\r\n[B]\r\ny=2\r\n");
  ASSERT_TRUE(ProfileWriteString("B", "w", "4", Path()));
  EXPECT_EQ(ReadFile(path_), "[A]\r\nx=1\r\n; note\r\nz=3\r\n\r\n[B]\r\ny=2\r\nw=4\r\n");
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
            "; readers of this machine\r\n[Other]\r\n\r\n[Long]\r\nKey=0123456789\r\n");
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

TEST_F(ProfileTest, AFileThatCannotBeWrittenFailsWithTheSystemsReason) {
  ASSERT_EQ(chmod(Path(), 0444), 0);
  EXPECT_FALSE(ProfileWriteString("Readers", "Port", "22", Path()));
  EXPECT_EQ(ProfileLastError(), static_cast<uint32_t>(EACCES));
  EXPECT_EQ(ReadFile(path_), kSample);
}

TEST_F(ProfileTest, MissingSectionOrPathIsRefused) {
  EXPECT_FALSE(ProfileWriteString(nullptr, "k", "v", Path()));
  EXPECT_EQ(ProfileLastError(), static_cast<uint32_t>(EINVAL));
  EXPECT_FALSE(ProfileWriteString("S", "k", "v", nullptr));
  EXPECT_FALSE(ProfileWriteString("  ", "k", "v", Path()));
  EXPECT_EQ(ReadFile(path_), kSample);
}

}  // namespace

namespace {

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

std::string Value(const std::string& path, const char* section, const char* key) {
  char buffer[64];
  ProfileGetString(section, key, "", buffer, sizeof buffer, path.c_str());
  return buffer;
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

// Processes that save one file at once lose none of each other's changes.
TEST(ProfileSaveTest, SimultaneousSavesLoseNoUpdate) {
  TempDir dir;
  const std::string path = dir.File("shared.ini");
  constexpr int kProcesses = 4;
  constexpr int kKeys = 40;
  pid_t children[kProcesses];
  for (int p = 0; p < kProcesses; ++p) {
    children[p] = fork();
    ASSERT_GE(children[p], 0);
    if (children[p] == 0) {
      for (int k = 0; k < kKeys; ++k) {
        const std::string key = "p" + std::to_string(p) + "k" + std::to_string(k);
        if (!ProfileWriteString("S", key.c_str(), "1", path.c_str())) _exit(1);
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
