// SPDX-License-Identifier: BSD-3-Clause
// Many processes opening and closing terminals at once, on the same, distinct and overlapping
// ports, while some of them are killed: the table never gives a port to two terminals, never
// has more than four terminals open, and loses no slot.
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "ctapi/ctapi.h"
#include "platform/process.h"
#include "platform/shared_memory.h"
#include "tests/ctapi/ctapi_fixture.h"

namespace {

constexpr int kProcesses = 8;
constexpr int kRounds = 2000;
constexpr int kKills = 12;
constexpr int kReportEvery = 100;  // rounds between two progress reports to the parent
constexpr uint16_t kKeeperPort = 10;
constexpr char kDone = 0x40;  // with a worker's number: it has finished all its rounds

// What the processes share besides the terminal table: who holds a terminal now, and counts.
struct Shared {
  std::atomic<int> holding[kProcesses];
  std::atomic<int> opens;
  std::atomic<int> anomalies;
};

// Process p's port in round i: the first processes all want port 1, the next ones a port of
// their own, the rest a port that moves through ports shared with the others.
uint16_t PortFor(int p, int round) {
  if (p < 3) return 1;
  if (p < 5) return static_cast<uint16_t>(p);  // 3 and 4
  return static_cast<uint16_t>(1 + (round + p) % 6);
}

// Under the table lock: exactly one slot in use holds `port`, and it is this process's.
bool PortHeldOnceByMe(uint16_t port) {
  if (!platform::MappingLock()) return false;
  int holders = 0;
  bool mine = false;
  for (int i = 0; i < ctapi::kSlotCount; ++i) {
    const ctapi::TerminalSlot& slot = ctapi::Slot(i);
    if (slot.in_use != 1 || slot.port != port) continue;
    ++holders;
    mine = slot.owner_pid == platform::CurrentProcessId();
  }
  platform::MappingUnlock();
  return holders == 1 && mine;
}

[[noreturn]] void Work(Shared* shared, int p, int progress_fd) {
  int anomalies = 0;
  for (int round = 0; round < kRounds; ++round) {
    const uint16_t port = PortFor(p, round);
    const int8_t code = CT_init(1, port);
    if (code == OK) {
      shared->holding[p] = 1;
      int open_now = 0;
      for (const auto& holding : shared->holding)
        open_now += holding.load();
      anomalies += open_now > ctapi::kSlotCount || !PortHeldOnceByMe(port);
      shared->opens += 1;
      shared->holding[p] = 0;
      anomalies += CT_close(1) != OK;
    } else {
      anomalies += code != ERR_INVALID && code != ERR_MEMORY;
    }
    if (round % kReportEvery == 0) {
      const char who = static_cast<char>(p);
      (void)!write(progress_fd, &who, 1);
    }
  }
  shared->anomalies += anomalies;
  const char done = static_cast<char>(kDone | p);
  (void)!write(progress_fd, &done, 1);
  _exit(0);
}

class StressTest : public ctapitest::CtapiTest {};

TEST_F(StressTest, KilledAndRacingProcessesNeverShareAPortOrLoseASlot) {
  for (int i = 0; i <= kKeeperPort; ++i)
    AddReaders({("TREVANO Kelvane Birch " + std::to_string(i)).c_str()});
  void* memory =
      mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(memory, MAP_FAILED);
  Shared* shared = new (memory) Shared();
  int progress[2];
  ASSERT_EQ(pipe(progress), 0);

  // A process that keeps the table alive from start to end, so that at the end the slots of
  // the killed processes are still in it, to be taken back.
  int keeper_go[2];
  ASSERT_EQ(pipe(keeper_go), 0);
  pid_t keeper = fork();
  if (keeper == 0) {
    close(keeper_go[1]);
    if (CT_init(1, kKeeperPort) != OK) _exit(1);
    char byte;
    (void)!write(progress[1], "k", 1);
    close(progress[1]);
    (void)!read(keeper_go[0], &byte, 1);
    _exit(0);
  }
  close(keeper_go[0]);
  char ready = 0;
  ASSERT_EQ(read(progress[0], &ready, 1), 1);
  ASSERT_EQ(ready, 'k');

  std::vector<pid_t> workers(kProcesses);
  std::vector<bool> done(kProcesses);
  auto start = [&](int p) {
    shared->holding[p] = 0;
    done[p] = false;
    workers[p] = fork();
    if (workers[p] == 0) {
      close(progress[0]);
      close(keeper_go[1]);
      Work(shared, p, progress[1]);
    }
  };
  for (int p = 0; p < kProcesses; ++p)
    start(p);

  // Every few progress reports one worker is killed wherever it is and another takes its place.
  int reports = 0, kills = 0, finished = 0;
  char report = 0;
  while (finished < kProcesses && read(progress[0], &report, 1) == 1) {
    if (report & kDone) {
      done[report & ~kDone] = true;
      ++finished;
      continue;
    }
    const int victim = (++reports / 7) % kProcesses;
    if (reports % 7 != 0 || kills == kKills || done[victim]) continue;
    kill(workers[victim], SIGKILL);
    waitpid(workers[victim], nullptr, 0);
    ++kills;
    start(victim);
  }
  close(progress[0]);
  close(progress[1]);
  for (pid_t worker : workers)
    waitpid(worker, nullptr, 0);

  EXPECT_EQ(kills, kKills);
  EXPECT_EQ(shared->anomalies.load(), 0);
  EXPECT_GT(shared->opens.load(), kProcesses * kRounds / 10);
  // No slot lost: besides the keeper's, three terminals open and a fourth finds the table full.
  EXPECT_EQ(CT_init(1, 1), OK);
  EXPECT_EQ(CT_init(2, 2), OK);
  EXPECT_EQ(CT_init(3, 3), OK);
  EXPECT_EQ(CT_init(4, 4), ERR_MEMORY);
  close(keeper_go[1]);
  waitpid(keeper, nullptr, 0);
  munmap(memory, sizeof(Shared));
}

}  // namespace
