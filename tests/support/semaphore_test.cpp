// SPDX-License-Identifier: BSD-3-Clause
// Semaphore records: locks and counting semaphores, local and shared between processes (the
// second process is this test program started again), the result codes of time-outs and
// failures, and the records they leave in the error log.
#include "support/semaphore.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

#include "support/errlog.h"
#include "support/result.h"
#include "tests/common/child_process.h"
#include "tests/common/test_util.h"

namespace {

using testutil::ReadFile;
using testutil::ScopedEnv;
using testutil::TempDir;

std::string UniqueName(const char* test) {
  return "kvsem_" + std::to_string(testutil::ProcessId()) + "_" + test;
}

// The second process: finds the shared lock `name` taken (it checks once, without waiting).
int FindInUse(const std::string& name) {
  sem::Semaphore theirs{};
  if (sem::Init(name.c_str(), 1, 0, &theirs) != kResultOk) return 1;
  const uint32_t result = sem::CheckSet(&theirs, 0);
  sem::Destroy(&theirs);
  return result == kErrSemaphoreInUse ? 0 : 2;
}
KV_CHILD_ROUTINE("semaphore-in-use", FindInUse);

// The second process: takes the shared semaphore `name` and gives it back.
int TakeAndGiveBack(const std::string& name) {
  sem::Semaphore theirs{};
  if (sem::Init(name.c_str(), 1, 0, &theirs) != kResultOk) return 1;
  if (sem::CheckSet(&theirs, 0) != kResultOk) return 2;
  const uint32_t cleared = sem::Clear(&theirs);
  sem::Destroy(&theirs);
  return cleared == kResultOk ? 0 : 3;
}
KV_CHILD_ROUTINE("semaphore-take-and-give-back", TakeAndGiveBack);

// The second process: takes the lock `name` and ends without giving it back.
int TakeAndEnd(const std::string& name) {
  sem::Semaphore theirs{};
  if (sem::Init(name.c_str(), 0, 0, &theirs) != kResultOk) return 1;
  return sem::CheckSet(&theirs, 0) == kResultOk ? 0 : 2;
}
KV_CHILD_ROUTINE("semaphore-take-and-end", TakeAndEnd);

// CheckSet with time-out 0 from another thread (which gives back what it got).
uint32_t CheckFromOtherThread(sem::Semaphore* record) {
  uint32_t result = 0xFFFFFFFF;
  std::thread other([&] {
    result = sem::CheckSet(record, 0);
    if (result == kResultOk) sem::Clear(record);
  });
  other.join();
  return result;
}

size_t Count(const std::string& text, const std::string& piece) {
  size_t count = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) {
    ++count;
  }
  return count;
}

class SemaphoreTest : public ::testing::Test {
 protected:
  void SetUp() override { ErrLogSetMask(0x01); }
  std::string Log() const { return ReadFile(log_); }

  TempDir dir_;
  std::string log_ = dir_.File("err.log");
  ScopedEnv env_{"ERRLFILE", log_.c_str()};
};

TEST_F(SemaphoreTest, LocalLocksAreIndependent) {
  sem::Semaphore first{};
  sem::Semaphore second{};
  ASSERT_EQ(sem::Init("CFGFileInfoSem", 0, 1, &first), kResultOk);
  ASSERT_EQ(sem::Init("CFGFileInfoSem", 0, 1, &second), kResultOk);
  EXPECT_EQ(first.kind, sem::kKindLock);
  ASSERT_EQ(sem::CheckSet(&first, 0), kResultOk);
  EXPECT_EQ(CheckFromOtherThread(&first), kErrSemaphoreInUse);
  EXPECT_EQ(CheckFromOtherThread(&second), kResultOk);
  EXPECT_EQ(sem::Clear(&first), kResultOk);
  EXPECT_EQ(CheckFromOtherThread(&first), kResultOk);
  EXPECT_FALSE(testutil::FileExists(log_));  // a time-out is an answer, not a failure
  sem::Destroy(&first);
  sem::Destroy(&second);
}

TEST_F(SemaphoreTest, SecondProcessSharesTheNamedObject) {
  std::string name = UniqueName("shared");
  sem::Semaphore record{};
  ASSERT_EQ(sem::Init(name.c_str(), 1, 0, &record), kResultOk);
  ASSERT_EQ(sem::CheckSet(&record, 0), kResultOk);
  EXPECT_EQ(testutil::Child("semaphore-in-use", name).Wait(), 0);
  ASSERT_EQ(sem::Clear(&record), kResultOk);
  EXPECT_EQ(testutil::Child("semaphore-take-and-give-back", name).Wait(), 0);
  EXPECT_EQ(sem::CheckSet(&record, 0), kResultOk);  // the child gave it back
  EXPECT_EQ(sem::Clear(&record), kResultOk);
  sem::Destroy(&record);
  EXPECT_EQ(record.kind, 0u);
  EXPECT_EQ(record.handle, nullptr);
  EXPECT_EQ(sem::CheckSet(&record, 0), kErrIllegalArgument);
}

TEST_F(SemaphoreTest, LockOfAProcessThatDiedCountsAsAcquired) {
  std::string name = UniqueName("abandoned");
  sem::Semaphore record{};
  ASSERT_EQ(sem::Init(name.c_str(), 0, 0, &record), kResultOk);
  ASSERT_EQ(testutil::Child("semaphore-take-and-end", name).Wait(), 0);
  EXPECT_EQ(sem::CheckSet(&record, 0), kResultOk);
  EXPECT_EQ(CheckFromOtherThread(&record), kErrSemaphoreInUse);
  EXPECT_EQ(sem::Clear(&record), kResultOk);
  EXPECT_FALSE(testutil::FileExists(log_));
  sem::Destroy(&record);
}

TEST_F(SemaphoreTest, CountingSemaphoreStopsAtItsCount) {
  sem::Semaphore record{};
  ASSERT_EQ(sem::Init("pool", 2, 1, &record), kResultOk);
  EXPECT_EQ(sem::CheckSet(&record, 0), kResultOk);
  EXPECT_EQ(sem::WaitSet(&record), kResultOk);
  EXPECT_EQ(sem::CheckSet(&record, 0), kErrSemaphoreInUse);
  EXPECT_EQ(sem::Clear(&record), kResultOk);
  EXPECT_EQ(sem::CheckSet(&record, 0), kResultOk);
  EXPECT_FALSE(testutil::FileExists(log_));
  EXPECT_EQ(sem::Clear(&record), kResultOk);
  EXPECT_EQ(sem::Clear(&record), kResultOk);
  EXPECT_EQ(sem::Clear(&record), kErrGeneralFailure);  // above the maximum
  std::string log = Log();
  EXPECT_NE(log.find("E: 8130000A"), std::string::npos) << log;
  EXPECT_NE(log.find("M: SEM F: Clear"), std::string::npos) << log;
  EXPECT_NE(log.find("|failure releasing semaphore, err=0x"), std::string::npos) << log;
  sem::Destroy(&record);
}

TEST_F(SemaphoreTest, WaitSetTurnsFailuresIntoGeneralFailure) {
  // Init failed after setting the kind: the record has no object to wait for.
  sem::Semaphore record{sem::kKindLock, nullptr};
  EXPECT_EQ(sem::WaitSet(&record), kErrGeneralFailure);
  std::string log = Log();
  EXPECT_NE(log.find("M: SEM F: CheckSet"), std::string::npos) << log;
  EXPECT_NE(log.find("|failure waiting for semaphore. WAIT_FAILED, err=0x"), std::string::npos);
  EXPECT_NE(log.find("E: 8130000A"), std::string::npos);
  EXPECT_NE(log.find("M: SEM F: WaitSet"), std::string::npos) << log;
  EXPECT_EQ(Count(log, "M: SEM"), 2u);
}

TEST_F(SemaphoreTest, RecordsOfNeitherKindAreRefused) {
  struct Case {
    const char* operation;
    uint32_t (*call)(sem::Semaphore*);
    const char* logged;  // the functions that log, in order
  };
  const Case cases[] = {
      {"CheckSet", [](sem::Semaphore* r) { return sem::CheckSet(r, 0); }, "CheckSet"},
      {"WaitSet", [](sem::Semaphore* r) { return sem::WaitSet(r); }, "CheckSet WaitSet"},
      {"Clear", [](sem::Semaphore* r) { return sem::Clear(r); }, "Clear"},
  };
  sem::Semaphore neither{3, nullptr};
  for (const Case& c : cases) {
    for (sem::Semaphore* record : {static_cast<sem::Semaphore*>(nullptr), &neither}) {
      std::remove(log_.c_str());
      EXPECT_EQ(c.call(record), kErrIllegalArgument) << c.operation;
      std::string log = Log();
      EXPECT_EQ(Count(log, "E: 81300006"), Count(c.logged, " ") + 1u) << c.operation;
      EXPECT_NE(log.find(std::string("M: SEM F: ") + c.operation), std::string::npos) << log;
      EXPECT_NE(log.find("|" + std::string(58, ' ') + "|"), std::string::npos) << log;
    }
  }
}

TEST_F(SemaphoreTest, InitRefusesMissingArguments) {
  sem::Semaphore record{};
  EXPECT_EQ(sem::Init(nullptr, 0, 1, &record), kErrIllegalArgument);
  EXPECT_EQ(sem::Init("x", 0, 1, nullptr), kErrIllegalArgument);
  std::string log = Log();
  EXPECT_EQ(Count(log, "E: 81300006 L: "), 2u);
  EXPECT_EQ(Count(log, "M: SEM F: Init"), 2u);
}

TEST_F(SemaphoreTest, InitReportsNamesTheSystemRefuses) {
  struct Case {
    std::string name;
    uint32_t count;
    const char* text;
  };
  const Case cases[] = {
      // "/" cannot stand in a POSIX name, "\\" in a Windows one (a folder of the namespace).
      {"a/b\\c", 0, "|invalid semaphore name: a/b\\c"},
      {std::string(300, 'n'), 1, "|invalid semaphore name: nnnn"},
  };
  for (const Case& c : cases) {
    std::remove(log_.c_str());
    sem::Semaphore record{};
    EXPECT_EQ(sem::Init(c.name.c_str(), c.count, 0, &record), kErrGeneralFailure);
    EXPECT_EQ(record.handle, nullptr);
    std::string log = Log();
    EXPECT_NE(log.find("E: 8130000A"), std::string::npos) << log;
    EXPECT_NE(log.find("M: SEM F: Init"), std::string::npos) << log;
    EXPECT_NE(log.find(c.text), std::string::npos) << log;
  }
}

TEST_F(SemaphoreTest, InitOfANameInUseByTheOtherKindFails) {
  std::string name = UniqueName("otherkind");
  sem::Semaphore lock{};
  ASSERT_EQ(sem::Init(name.c_str(), 0, 0, &lock), kResultOk);
  sem::Semaphore semaphore{};
  EXPECT_EQ(sem::Init(name.c_str(), 4, 0, &semaphore), kErrGeneralFailure);
  EXPECT_NE(Log().find("|invalid semaphore name: " + name), std::string::npos);
  sem::Destroy(&semaphore);
  sem::Destroy(&lock);
}

TEST_F(SemaphoreTest, InitReportsOtherCreationProblems) {
  sem::Semaphore record{};
  EXPECT_EQ(sem::Init("huge", 0x80000000u, 1, &record), kErrGeneralFailure);
  std::string log = Log();
  EXPECT_NE(log.find("|problem creating semaphore huge, err=0x"), std::string::npos) << log;
}

}  // namespace
