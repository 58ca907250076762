// SPDX-License-Identifier: BSD-3-Clause
// Semaphore records: locks and counting semaphores, local and shared between processes, the
// result codes of time-outs and failures, and the records they leave in the error log.
#include "support/semaphore.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "support/errlog.h"
#include "support/result.h"
#include "tests/common/test_util.h"

namespace {

using testutil::ReadFile;
using testutil::ScopedEnv;
using testutil::TempDir;

std::string UniqueName(const char* test) {
  return "kvsem_" + std::to_string(getpid()) + "_" + test;
}

std::string ShmPath(const std::string& name) {
  return testutil::SharedObjectPath("s_" + name);
}

int WaitForChild(pid_t child) {
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

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
  EXPECT_FALSE(testutil::FileExists(ShmPath("CFGFileInfoSem")));
  ASSERT_EQ(sem::CheckSet(&first, 0), kResultOk);
  EXPECT_EQ(CheckFromOtherThread(&first), kErrSemaphoreInUse);
  EXPECT_EQ(CheckFromOtherThread(&second), kResultOk);
  EXPECT_EQ(sem::Clear(&first), kResultOk);
  EXPECT_EQ(CheckFromOtherThread(&first), kResultOk);
  EXPECT_FALSE(testutil::FileExists(log_));  // a time-out is an answer, not a failure
  sem::Destroy(&first);
  sem::Destroy(&second);
}

TEST_F(SemaphoreTest, NamedObjectExistsWhileOpen) {
  std::string name = UniqueName("named");
  sem::Semaphore record{};
  ASSERT_EQ(sem::Init(name.c_str(), 1, 0, &record), kResultOk);
  EXPECT_EQ(record.kind, sem::kKindSemaphore);
  EXPECT_TRUE(testutil::FileExists(ShmPath(name)));
  sem::Destroy(&record);
  EXPECT_FALSE(testutil::FileExists(ShmPath(name)));
  EXPECT_EQ(record.kind, 0u);
  EXPECT_EQ(record.handle, nullptr);
  EXPECT_EQ(sem::CheckSet(&record, 0), kErrIllegalArgument);
}

TEST_F(SemaphoreTest, SecondProcessSharesTheNamedObject) {
  std::string name = UniqueName("shared");
  sem::Semaphore record{};
  ASSERT_EQ(sem::Init(name.c_str(), 1, 0, &record), kResultOk);
  ASSERT_EQ(sem::CheckSet(&record, 0), kResultOk);
  int up[2];
  int down[2];
  ASSERT_EQ(pipe(up), 0);
  ASSERT_EQ(pipe(down), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    sem::Semaphore theirs{};
    if (sem::Init(name.c_str(), 1, 0, &theirs) != kResultOk) _exit(1);
    if (sem::CheckSet(&theirs, 0) != kErrSemaphoreInUse) _exit(2);
    char byte = 'b';
    if (write(up[1], &byte, 1) != 1) _exit(3);
    if (read(down[0], &byte, 1) != 1) _exit(4);
    if (sem::CheckSet(&theirs, 0) != kResultOk) _exit(5);
    if (sem::Clear(&theirs) != kResultOk) _exit(6);
    sem::Destroy(&theirs);
    _exit(0);
  }
  char byte = 0;
  ASSERT_EQ(read(up[0], &byte, 1), 1);  // the child found it taken
  ASSERT_EQ(sem::Clear(&record), kResultOk);
  ASSERT_EQ(write(down[1], "c", 1), 1);
  EXPECT_EQ(WaitForChild(child), 0);
  EXPECT_EQ(sem::CheckSet(&record, 0), kResultOk);  // the child gave it back
  EXPECT_EQ(sem::Clear(&record), kResultOk);
  for (int fd : {up[0], up[1], down[0], down[1]})
    close(fd);
  sem::Destroy(&record);
}

TEST_F(SemaphoreTest, LockOfAProcessThatDiedCountsAsAcquired) {
  std::string name = UniqueName("abandoned");
  sem::Semaphore record{};
  ASSERT_EQ(sem::Init(name.c_str(), 0, 0, &record), kResultOk);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    sem::Semaphore theirs{};
    if (sem::Init(name.c_str(), 0, 0, &theirs) != kResultOk) _exit(1);
    _exit(sem::CheckSet(&theirs, 0) == kResultOk ? 0 : 2);  // ends without Clear
  }
  ASSERT_EQ(WaitForChild(child), 0);
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
      unlink(log_.c_str());
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
      {"a/b", 0, "|invalid semaphore name: a/b"},
      {std::string(300, 'n'), 1, "|invalid semaphore name: nnnn"},
  };
  for (const Case& c : cases) {
    unlink(log_.c_str());
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
