// SPDX-License-Identifier: BSD-3-Clause
// Named semaphores of the Windows build between two processes: the second process is this test
// program started again (child_process.h).
#include <gtest/gtest.h>

#include <string>

#include "support/result.h"
#include "support/semaphore.h"
#include "tests/common/child_process.h"
#include "tests/common/test_util.h"

namespace {

std::string UniqueName(const char* test) {
  return "kvsem_" + std::to_string(testutil::ProcessId()) + "_" + test;
}

// Finds the shared lock `name` taken by the first process.
int FindInUse(const std::string& name) {
  sem::Semaphore theirs{};
  if (sem::Init(name.c_str(), 1, 0, &theirs) != kResultOk) return 1;
  const uint32_t result = sem::CheckSet(&theirs, 0);
  sem::Destroy(&theirs);
  return result == kErrSemaphoreInUse ? 0 : 2;
}
KV_CHILD_ROUTINE("semaphore-in-use", FindInUse);

// Takes the lock `name` and ends without giving it back.
int TakeAndEnd(const std::string& name) {
  sem::Semaphore theirs{};
  if (sem::Init(name.c_str(), 0, 0, &theirs) != kResultOk) return 1;
  return sem::CheckSet(&theirs, 0) == kResultOk ? 0 : 2;
}
KV_CHILD_ROUTINE("semaphore-take-and-end", TakeAndEnd);

TEST(SemaphoreProcessesTest, SharedByNameAndAnAbandonedLockCountsAsAcquired) {
  const std::string shared = UniqueName("shared");
  sem::Semaphore record{};
  ASSERT_EQ(sem::Init(shared.c_str(), 1, 0, &record), kResultOk);
  ASSERT_EQ(sem::CheckSet(&record, 0), kResultOk);
  EXPECT_EQ(testutil::RunSelf("--kv-child semaphore-in-use " + shared), 0);
  EXPECT_EQ(sem::Clear(&record), kResultOk);
  sem::Destroy(&record);

  const std::string abandoned = UniqueName("abandoned");
  sem::Semaphore lock{};
  ASSERT_EQ(sem::Init(abandoned.c_str(), 0, 0, &lock), kResultOk);
  EXPECT_EQ(testutil::RunSelf("--kv-child semaphore-take-and-end " + abandoned), 0);
  EXPECT_EQ(sem::CheckSet(&lock, 0), kResultOk);
  EXPECT_EQ(sem::Clear(&lock), kResultOk);
  sem::Destroy(&lock);
}

}  // namespace
