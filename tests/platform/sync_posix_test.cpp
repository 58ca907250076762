// SPDX-License-Identifier: BSD-3-Clause
// Locks and semaphores on POSIX, what they are made of: a named object is a file in /dev/shm,
// open to every account, while a process has it open; a process has one object per name, and
// closing its last reference lets go of a lock it holds; a forked copy closed in the child
// leaves the parent's; processes that open and close one name at the same time meet in one
// object; and the system's error numbers. (On Windows the kernel keeps the objects: closing
// a held mutex does not release it, and each create gives a handle of its own.)
#include <errno.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "platform/sync.h"
#include "tests/common/child_process.h"
#include "tests/common/test_util.h"
#include "tests/platform/sync_names.h"

namespace {

using namespace synctest;

std::string ShmPath(const std::string& name) {
  return testutil::SharedObjectPath(name);
}

int WaitForChild(pid_t child) {
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(SyncPosixTest, ErrorNumbersAreTheSystems) {
  uint32_t error = 0;
  SyncObject* lock = Create(nullptr, 0);
  ASSERT_NE(lock, nullptr);
  EXPECT_FALSE(SyncRelease(lock, &error));
  EXPECT_EQ(error, static_cast<uint32_t>(EPERM));
  SyncClose(lock);
  SyncObject* semaphore = Create(nullptr, 1);
  ASSERT_NE(semaphore, nullptr);
  EXPECT_FALSE(SyncRelease(semaphore, &error));
  EXPECT_EQ(error, static_cast<uint32_t>(EOVERFLOW));
  SyncClose(semaphore);
  SyncObject* object = nullptr;
  const std::string too_long(300, 'x');
  EXPECT_EQ(SyncCreate("a/b", 0, &object, &error), SyncCreateResult::kInvalidName);
  EXPECT_EQ(error, static_cast<uint32_t>(EINVAL));
  EXPECT_EQ(SyncCreate(too_long.c_str(), 0, &object, &error), SyncCreateResult::kInvalidName);
  EXPECT_EQ(error, static_cast<uint32_t>(ENAMETOOLONG));
  EXPECT_EQ(SyncCreate(nullptr, 0x80000000u, &object, &error), SyncCreateResult::kFailed);
  EXPECT_EQ(error, static_cast<uint32_t>(EINVAL));
}

// The child routine "sync-take-and-end" is sync_test.cpp's.
TEST(SyncPosixTest, ObjectLeftByADeadProcessStaysUntilTheNextUserClosesIt) {
  std::string name = UniqueName("stale");
  ASSERT_EQ(testutil::Child("sync-take-and-end", name).Wait(), 0);
  EXPECT_TRUE(testutil::FileExists(ShmPath(name)));  // nobody removed the name
  SyncObject* semaphore = Create(name.c_str(), 1);
  ASSERT_NE(semaphore, nullptr);
  SyncClose(semaphore);
  EXPECT_FALSE(testutil::FileExists(ShmPath(name)));
}

TEST(SyncPosixTest, ClosingWhileHeldLetsOthersIn) {
  std::string name = UniqueName("closeheld");
  SyncObject* first = Create(name.c_str(), 0);
  ASSERT_NE(first, nullptr);
  SyncObject* second = Create(name.c_str(), 0);
  ASSERT_EQ(second, first);  // one object per process and name
  ASSERT_EQ(SyncWait(first, 0, nullptr), SyncWaitResult::kAcquired);
  ASSERT_EQ(SyncWait(second, 0, nullptr), SyncWaitResult::kAcquired);
  int up[2];
  ASSERT_EQ(pipe(up), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    SyncObject* theirs = nullptr;
    if (SyncCreate(name.c_str(), 0, &theirs, nullptr) != SyncCreateResult::kOk) _exit(1);
    if (SyncWait(theirs, 0, nullptr) != SyncWaitResult::kTimeout) _exit(2);
    if (write(up[1], "o", 1) != 1) _exit(3);
    if (SyncWait(theirs, platform::kWaitForever, nullptr) != SyncWaitResult::kAcquired) _exit(4);
    SyncClose(theirs);
    _exit(0);
  }
  char byte = 0;
  ASSERT_EQ(read(up[0], &byte, 1), 1);
  SyncClose(first);  // not the last reference of this process: still held
  EXPECT_EQ(TryFromOtherThread(second), SyncWaitResult::kTimeout);
  SyncClose(second);  // the last one lets go of it, however often it was taken
  EXPECT_EQ(WaitForChild(child), 0);
  EXPECT_FALSE(testutil::FileExists(ShmPath(name)));  // the child closed it last
  close(up[0]);
  close(up[1]);
}

TEST(SyncPosixTest, ExistsWhileOpenAndIsOpenToEveryone) {
  std::string name = UniqueName("life");
  SyncObject* object = Create(name.c_str(), 1);
  ASSERT_NE(object, nullptr);
  struct stat st;
  ASSERT_EQ(stat(ShmPath(name).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u);
  SyncObject* again = Create(name.c_str(), 1);
  EXPECT_EQ(again, object);  // one object per process and name
  SyncClose(again);
  EXPECT_TRUE(testutil::FileExists(ShmPath(name)));
  SyncClose(object);
  EXPECT_FALSE(testutil::FileExists(ShmPath(name)));
}

TEST(SyncPosixTest, ForkedChildClosingItsCopyLeavesTheParentsObject) {
  std::string name = UniqueName("inherit");
  SyncObject* lock = Create(name.c_str(), 0);
  ASSERT_NE(lock, nullptr);
  ASSERT_EQ(SyncWait(lock, 0, nullptr), SyncWaitResult::kAcquired);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    SyncClose(lock);
    _exit(0);
  }
  ASSERT_EQ(WaitForChild(child), 0);
  EXPECT_TRUE(testutil::FileExists(ShmPath(name)));
  child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    SyncObject* theirs = nullptr;
    if (SyncCreate(name.c_str(), 0, &theirs, nullptr) != SyncCreateResult::kOk) _exit(1);
    _exit(SyncWait(theirs, 0, nullptr) == SyncWaitResult::kTimeout ? 0 : 2);
  }
  EXPECT_EQ(WaitForChild(child), 0);
  EXPECT_TRUE(SyncRelease(lock, nullptr));
  SyncClose(lock);
}

// Processes that keep opening, using and closing one name must always meet in one object,
// also while it is being created and removed: otherwise two of them hold the lock at once and
// an increment of the shared counter is lost.
TEST(SyncPosixTest, ProcessesOpeningAndClosingTogetherShareOneObject) {
  constexpr int kChildren = 4;
  constexpr int kRounds = 200;
  std::string name = UniqueName("churn");
  void* shared =
      mmap(nullptr, sizeof(long), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(shared, MAP_FAILED);
  volatile long* counter = static_cast<volatile long*>(shared);
  *counter = 0;
  pid_t children[kChildren];
  for (pid_t& child : children) {
    child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int round = 0; round < kRounds; ++round) {
        SyncObject* lock = nullptr;
        if (SyncCreate(name.c_str(), 0, &lock, nullptr) != SyncCreateResult::kOk) _exit(1);
        if (SyncWait(lock, platform::kWaitForever, nullptr) != SyncWaitResult::kAcquired) {
          _exit(2);
        }
        long seen = *counter;
        sched_yield();
        *counter = seen + 1;
        if (!SyncRelease(lock, nullptr)) _exit(3);
        SyncClose(lock);
      }
      _exit(0);
    }
  }
  for (pid_t child : children)
    EXPECT_EQ(WaitForChild(child), 0);
  EXPECT_EQ(*counter, kChildren * kRounds);
  EXPECT_FALSE(testutil::FileExists(ShmPath(name)));
  munmap(shared, sizeof(long));
}

}  // namespace
