// SPDX-License-Identifier: BSD-3-Clause
// Semaphore records on POSIX: a shared one is an object under /dev/shm while it is open and
// leaves nothing behind; a local one never makes one.
#include <gtest/gtest.h>

#include <string>

#include "support/result.h"
#include "support/semaphore.h"
#include "tests/common/test_util.h"

namespace {

std::string ShmPath(const std::string& name) {
  return testutil::SharedObjectPath("s_" + name);
}

TEST(SemaphorePosixTest, NamedObjectExistsWhileOpen) {
  testutil::ScopedEnv no_log("ERRLFILE", nullptr);
  sem::Semaphore local{};
  ASSERT_EQ(sem::Init("CFGFileInfoSem", 0, 1, &local), kResultOk);
  EXPECT_FALSE(testutil::FileExists(ShmPath("CFGFileInfoSem")));
  sem::Destroy(&local);
  const std::string name = "kvsem_" + std::to_string(testutil::ProcessId()) + "_named";
  sem::Semaphore record{};
  ASSERT_EQ(sem::Init(name.c_str(), 1, 0, &record), kResultOk);
  EXPECT_EQ(record.kind, sem::kKindSemaphore);
  EXPECT_TRUE(testutil::FileExists(ShmPath(name)));
  sem::Destroy(&record);
  EXPECT_FALSE(testutil::FileExists(ShmPath(name)));
}

}  // namespace
