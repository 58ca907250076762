// SPDX-License-Identifier: BSD-3-Clause
// ASCII configuration files on POSIX: a write-back cut short by the file-size limit (a full disk,
// or the writer killed half-way) keeps the previous content.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "config/ascii.h"
#include "tests/common/test_util.h"
#include "tests/config/ascii_fixture.h"

namespace {

using asciitest::OpenAscii;
using AsciiWriteBackTest = asciitest::AsciiTest;

// A write-back that fails, dies half-way (killed by the file-size limit, as by a crash) or whose
// backup copy fails half-way leaves the file as it was and no partial backup behind.
TEST_F(AsciiWriteBackTest, CrashOrFailedBackupLeavesTheFileAsItWas) {
  struct Case {
    const char* name;
    size_t old_size;  // bytes of the file before the write-back
    bool killed;      // the limit kills the writer instead of failing its write
  };
  const Case cases[] = {
      {"write fails", 4, false},
      {"killed while writing", 100, true},
      {"backup copy fails", 4000, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testutil::TempDir dir;
    testutil::ScopedEnv tmp("TMPDIR", dir.path().c_str());
    const std::string path = dir.File("k.ini");
    const std::string before = "[a]\nx=" + std::string(c.old_size, 'o') + "\n";
    testutil::WriteFile(path, before);
    OpenAscii ascii(path);
    ascii.Set("a", "big", std::string(4000, 'v').c_str());
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (!c.killed) signal(SIGXFSZ, SIG_IGN);
      rlimit limit{};
      getrlimit(RLIMIT_FSIZE, &limit);
      limit.rlim_cur = 1024;
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(3);
      _exit(WriteDownBuffer(ascii.file()) == 0x81F00005u ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (c.killed) {
      EXPECT_TRUE(WIFSIGNALED(status));
    } else {
      EXPECT_EQ(status, 0);
      EXPECT_EQ(testutil::CountFiles(dir.path()), 1);
    }
    EXPECT_EQ(testutil::ReadFile(path), before);
  }
}

}  // namespace
