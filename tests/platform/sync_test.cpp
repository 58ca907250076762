// SPDX-License-Identifier: BSD-3-Clause
// Locks and semaphores of the platform layer, the same on both systems: ownership and re-entry,
// abandoned locks, the maximum count, names the system refuses, and names shared with another
// process (this test program started again). What the POSIX objects are made of (/dev/shm,
// forked copies): sync_posix_test.cpp; the Windows objects' own error numbers: win32/.
#include "platform/sync.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "tests/common/child_process.h"
#include "tests/common/test_util.h"
#include "tests/platform/sync_names.h"

namespace {

using namespace synctest;

// The second process: asks for the name of a lock as a semaphore.
int OpenAsSemaphore(const std::string& name) {
  SyncObject* theirs = nullptr;
  return SyncCreate(name.c_str(), 3, &theirs, nullptr) == SyncCreateResult::kInvalidName ? 0 : 1;
}
KV_CHILD_ROUTINE("sync-open-as-semaphore", OpenAsSemaphore);

// The second process: takes the semaphore `name` and ends without giving it back.
int TakeAndEnd(const std::string& name) {
  SyncObject* theirs = nullptr;
  if (SyncCreate(name.c_str(), 1, &theirs, nullptr) != SyncCreateResult::kOk) return 1;
  return SyncWait(theirs, 0, nullptr) == SyncWaitResult::kAcquired ? 0 : 2;
}
KV_CHILD_ROUTINE("sync-take-and-end", TakeAndEnd);

TEST(SyncLockTest, OwnerMayTakeItAgainAndOthersWait) {
  SyncObject* lock = Create(nullptr, 0);
  ASSERT_NE(lock, nullptr);
  uint32_t error = 0;
  ASSERT_EQ(SyncWait(lock, 0, &error), SyncWaitResult::kAcquired);
  ASSERT_EQ(SyncWait(lock, platform::kWaitForever, &error), SyncWaitResult::kAcquired);
  EXPECT_EQ(TryFromOtherThread(lock), SyncWaitResult::kTimeout);
  EXPECT_TRUE(SyncRelease(lock, &error));
  EXPECT_EQ(TryFromOtherThread(lock), SyncWaitResult::kTimeout);  // still held once
  EXPECT_TRUE(SyncRelease(lock, &error));
  EXPECT_EQ(TryFromOtherThread(lock), SyncWaitResult::kAcquired);
  SyncClose(lock);
}

TEST(SyncLockTest, OnlyTheHolderMayRelease) {
  SyncObject* lock = Create("", 0);
  ASSERT_NE(lock, nullptr);
  uint32_t error = 0;
  EXPECT_FALSE(SyncRelease(lock, &error));
  EXPECT_NE(error, 0u);
  ASSERT_EQ(SyncWait(lock, 0, &error), SyncWaitResult::kAcquired);
  bool released = true;
  std::thread other([&] { released = SyncRelease(lock, &error); });
  other.join();
  EXPECT_FALSE(released);
  EXPECT_TRUE(SyncRelease(lock, nullptr));
  SyncClose(lock);
}

TEST(SyncLockTest, ThreadThatEndsHoldingItAbandonsIt) {
  SyncObject* lock = Create(nullptr, 0);
  ASSERT_NE(lock, nullptr);
  std::thread holder([&] { SyncWait(lock, 0, nullptr); });
  holder.join();
  uint32_t error = 0;
  EXPECT_EQ(SyncWait(lock, 0, &error), SyncWaitResult::kAbandoned);
  EXPECT_EQ(TryFromOtherThread(lock), SyncWaitResult::kTimeout);  // now ours
  EXPECT_TRUE(SyncRelease(lock, &error));
  SyncClose(lock);
}

TEST(SyncSemaphoreTest, CountsDownAndStopsAtTheMaximum) {
  SyncObject* semaphore = Create(nullptr, 2);
  ASSERT_NE(semaphore, nullptr);
  uint32_t error = 0;
  EXPECT_FALSE(SyncRelease(semaphore, &error));
  EXPECT_NE(error, 0u);
  EXPECT_EQ(SyncWait(semaphore, 0, &error), SyncWaitResult::kAcquired);
  EXPECT_EQ(SyncWait(semaphore, 50, &error), SyncWaitResult::kAcquired);
  EXPECT_EQ(SyncWait(semaphore, 0, &error), SyncWaitResult::kTimeout);
  // Any thread may release a semaphore.
  bool released = false;
  std::thread other([&] { released = SyncRelease(semaphore, nullptr); });
  other.join();
  EXPECT_TRUE(released);
  EXPECT_EQ(SyncWait(semaphore, 0, &error), SyncWaitResult::kAcquired);
  SyncClose(semaphore);
}

TEST(SyncSemaphoreTest, WaiterIsWokenByRelease) {
  SyncObject* semaphore = Create(nullptr, 1);
  ASSERT_NE(semaphore, nullptr);
  ASSERT_EQ(SyncWait(semaphore, 0, nullptr), SyncWaitResult::kAcquired);
  for (uint32_t timeout : {600000u, platform::kWaitForever}) {
    SyncWaitResult result = SyncWaitResult::kFailed;
    std::thread waiter([&] { result = SyncWait(semaphore, timeout, nullptr); });
    EXPECT_TRUE(SyncRelease(semaphore, nullptr));
    waiter.join();
    EXPECT_EQ(result, SyncWaitResult::kAcquired) << timeout;
  }
  SyncClose(semaphore);
}

TEST(SyncCreateTest, RefusesBadArguments) {
  struct Case {
    const char* name;
    uint32_t count;
    SyncCreateResult result;
  };
  std::string too_long(300, 'x');
  const Case cases[] = {
      // "/" cannot stand in a POSIX name, "\\" in a Windows one (a folder of the namespace).
      {"a/b\\c", 0, SyncCreateResult::kInvalidName},
      {too_long.c_str(), 0, SyncCreateResult::kInvalidName},
      {nullptr, 0x80000000u, SyncCreateResult::kFailed},
  };
  for (const Case& c : cases) {
    SyncObject* object = reinterpret_cast<SyncObject*>(1);
    uint32_t error = 0;
    EXPECT_EQ(SyncCreate(c.name, c.count, &object, &error), c.result)
        << (c.name ? c.name : "(null)");
    EXPECT_NE(error, 0u);  // the system's number: sync_posix_test.cpp, win32/
    EXPECT_EQ(object, nullptr);
  }
  uint32_t error = 0;
  EXPECT_EQ(SyncCreate("x", 0, nullptr, &error), SyncCreateResult::kFailed);
  EXPECT_EQ(SyncWait(nullptr, 0, &error), SyncWaitResult::kFailed);
  EXPECT_FALSE(SyncRelease(nullptr, &error));
  SyncClose(nullptr);
}

TEST(SyncNamedTest, NameOfTheOtherKindIsInvalid) {
  std::string name = UniqueName("kind");
  SyncObject* lock = Create(name.c_str(), 0);
  ASSERT_NE(lock, nullptr);
  SyncObject* object = nullptr;
  uint32_t error = 0;
  EXPECT_EQ(SyncCreate(name.c_str(), 3, &object, &error), SyncCreateResult::kInvalidName);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(testutil::Child("sync-open-as-semaphore", name).Wait(), 0);
  SyncClose(lock);
}

TEST(SyncNamedTest, ObjectLeftByADeadProcessStartsAfresh) {
  std::string name = UniqueName("stale");
  ASSERT_EQ(testutil::Child("sync-take-and-end", name).Wait(), 0);
  SyncObject* semaphore = Create(name.c_str(), 1);
  ASSERT_NE(semaphore, nullptr);
  EXPECT_EQ(SyncWait(semaphore, 0, nullptr), SyncWaitResult::kAcquired);
  SyncClose(semaphore);
}

}  // namespace
