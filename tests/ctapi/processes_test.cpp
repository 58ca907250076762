// SPDX-License-Identifier: BSD-3-Clause
// Terminals of several processes in the one machine-wide table (fork). Every child is forked
// before its parent attaches the table, so that it is a process of its own and not a copy of
// the parent's terminals; parent and child take turns through pipes.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ctapi/ctapi.h"
#include "platform/process.h"
#include "tests/ctapi/ctapi_fixture.h"

namespace {

using ctapitest::CtapiTest;

// A child process that runs `steps` one at a time, each when the parent says so, and reports
// each step's result back. A child drops the parent's ends of its siblings' pipes, so that each
// child sees the end of its own pipe when the parent lets it go.
class Child {
 public:
  template <typename Steps>
  explicit Child(Steps steps) {
    if (pipe(to_child_) != 0 || pipe(to_parent_) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      for (int fd : ParentEnds())
        close(fd);
      close(to_child_[1]);
      close(to_parent_[0]);
      for (int step = 0;; ++step) {
        char go = 0;
        if (read(to_child_[0], &go, 1) != 1) _exit(0);
        int8_t result = steps(step);
        if (write(to_parent_[1], &result, 1) != 1) _exit(1);
      }
    }
    close(to_child_[0]);
    close(to_parent_[1]);
    ParentEnds().push_back(to_child_[1]);
    ParentEnds().push_back(to_parent_[0]);
  }
  ~Child() {
    if (pid_ > 0) End();
  }
  // Runs the child's next step and returns its result.
  int8_t Step() {
    char go = 1;
    int8_t result = 99;
    if (write(to_child_[1], &go, 1) != 1 || read(to_parent_[0], &result, 1) != 1) return 99;
    return result;
  }
  // Lets the child end as a process that simply returns, leaving its terminals open.
  void End() {
    std::vector<int>& ends = ParentEnds();
    for (int fd : {to_child_[1], to_parent_[0]}) {
      close(fd);
      ends.erase(std::remove(ends.begin(), ends.end(), fd), ends.end());
    }
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  void Kill() {
    kill(pid_, SIGKILL);
    End();
  }
  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

 private:
  static std::vector<int>& ParentEnds() {
    static std::vector<int> ends;
    return ends;
  }
  int to_child_[2] = {-1, -1};
  int to_parent_[2] = {-1, -1};
  pid_t pid_ = -1;
};

class ProcessesTest : public CtapiTest {
 protected:
  void SetUp() override {
    CtapiTest::SetUp();
    AddReaders({"TREVANO Kelvane Birch 0", "TREVANO Kelvane Birch 1", "TREVANO Kelvane Birch 2",
                "TREVANO Kelvane Birch 3", "TREVANO Kelvane Birch 4"});
  }
};

TEST_F(ProcessesTest, HeldPortRefusedOtherPortInAnotherSlot) {
  Child child([](int step) -> int8_t {
    switch (step) {
      case 0:
        return CT_init(1, 1);  // port 1 is the parent's
      case 1:
        return CT_init(1, 2);
      case 2:
        return static_cast<int8_t>(ctapi::FindSlotByCtn(1));
      default:
        return CT_close(1);
    }
  });
  ASSERT_TRUE(child.started());
  ASSERT_EQ(CT_init(1, 1), OK);
  EXPECT_EQ(child.Step(), ERR_INVALID);
  EXPECT_EQ(child.Step(), OK);
  EXPECT_EQ(child.Step(), 1);
  EXPECT_EQ(SlotAt(1).in_use, 1u);
  EXPECT_EQ(SlotAt(1).port, 2u);
  EXPECT_STREQ(SlotAt(1).reader_name, "TREVANO Kelvane Birch 1");
  // A terminal of another process is not this process's to close.
  EXPECT_EQ(CT_close(2), ERR_INVALID);
  EXPECT_EQ(child.Step(), OK);
  EXPECT_EQ(SlotAt(1).in_use, 0u);
}

TEST_F(ProcessesTest, FifthTerminalAcrossProcesses) {
  Child child([](int step) -> int8_t {
    return CT_init(static_cast<uint16_t>(10 + step), static_cast<uint16_t>(3 + step));
  });
  ASSERT_TRUE(child.started());
  ASSERT_EQ(CT_init(1, 1), OK);
  ASSERT_EQ(CT_init(2, 2), OK);
  EXPECT_EQ(child.Step(), OK);
  EXPECT_EQ(child.Step(), OK);
  EXPECT_EQ(child.Step(), ERR_MEMORY);
  EXPECT_EQ(CT_init(3, 5), ERR_MEMORY);
}

TEST_F(ProcessesTest, SlotsOfProcessesThatEndedWithoutClosingAreTakenBack) {
  Child exits([](int) -> int8_t { return CT_init(1, 1); });
  Child killed([](int) -> int8_t { return CT_init(1, 2); });
  ASSERT_TRUE(exits.started() && killed.started());
  ASSERT_EQ(CT_init(9, 5), OK);  // this process keeps the table alive
  ASSERT_EQ(exits.Step(), OK);
  ASSERT_EQ(killed.Step(), OK);
  exits.End();  // without CT_close
  killed.Kill();
  // Their ports and both their slots are free again.
  EXPECT_EQ(CT_init(1, 1), OK);
  EXPECT_EQ(CT_init(2, 2), OK);
  EXPECT_EQ(CT_init(3, 3), OK);
  EXPECT_EQ(CT_init(4, 4), ERR_MEMORY);
}

// A slot is taken back only when its recorded owner has certainly ended; one without an owner
// (another implementation on the same table) never is.
TEST_F(ProcessesTest, OnlySlotsOfOwnersThatCertainlyEndedAreTakenBack) {
  Child running([](int) -> int8_t { return 0; });
  pid_t ended = fork();
  if (ended == 0) _exit(0);
  ASSERT_TRUE(running.started() && ended > 0);
  const uint64_t ended_start = platform::ProcessStartTime(static_cast<uint32_t>(ended));
  ASSERT_EQ(waitpid(ended, nullptr, 0), ended);
  const uint32_t live = static_cast<uint32_t>(running.pid());
  const uint64_t live_start = platform::ProcessStartTime(live);
  ASSERT_NE(live_start, 0u);
  const uint32_t here = platform::ProcessNumberSpace();
  struct Case {
    const char* what;
    uint32_t pid;
    uint64_t start;
    uint32_t space;
    bool taken_back;
  } const cases[] = {
      {"no owner recorded", 0, 0, 0, false},
      {"owner runs", live, live_start, here, false},
      {"owner runs, start time not recorded", live, 0, here, false},
      {"the number now names another process", live, live_start + 1, here, true},
      {"owner ended", static_cast<uint32_t>(ended), ended_start, here, true},
      {"owner ended, seen from another set of process numbers", static_cast<uint32_t>(ended),
       ended_start, here + 1, false},
  };
  ASSERT_EQ(CT_init(9, 5), OK);
  const int mine = ctapi::FindSlotByCtn(9);
  const int other = mine == 0 ? 1 : 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ctapi::TerminalSlot& slot = SlotAt(other);
    slot.owner_pid = c.pid;
    slot.owner_start_low = static_cast<uint32_t>(c.start);
    slot.owner_start_high = static_cast<uint32_t>(c.start >> 32);
    slot.owner_namespace = c.space;
    slot.port = 3;
    slot.in_use = 1;
    EXPECT_EQ(CT_init(1, 3), c.taken_back ? OK : ERR_INVALID);
    if (c.taken_back) {
      EXPECT_EQ(SlotAt(ctapi::FindSlotByCtn(1)).owner_pid, platform::CurrentProcessId());
      ASSERT_EQ(CT_close(1), OK);
    }
    EXPECT_EQ(SlotAt(mine).port, 5u);
  }
}

TEST_F(ProcessesTest, KilledProcessSlotsFreeOnceNoProcessHoldsTheTable) {
  Child child([](int step) -> int8_t { return step == 0 ? CT_init(1, 1) : CT_init(2, 2); });
  ASSERT_TRUE(child.started());
  EXPECT_EQ(child.Step(), OK);
  EXPECT_EQ(child.Step(), OK);
  child.Kill();
  // The table died with its last holder: a fresh one is made, all slots free.
  ASSERT_EQ(CT_init(1, 1), OK);
  EXPECT_EQ(ctapi::FindSlotByCtn(1), 0);
  EXPECT_EQ(SlotAt(1).in_use, 0u);
  EXPECT_EQ(SlotAt(1).card_handle, ctapi::kNoCardHandle);
}

}  // namespace

namespace {

// Processes that make their first CT_init at the same moment, each on a table that no process
// holds yet: they report their result, and once all have opened, whether their slot is still
// theirs.
struct FirstOpen {
  int8_t code;
  int8_t slot;
  uint8_t kept;  // the slot still holds this process's port and names it as owner
};

std::vector<FirstOpen> OpenAtOnce(const std::vector<uint16_t>& ports) {
  int go[2], opened[2], check[2], results[2];
  if (pipe(go) != 0 || pipe(opened) != 0 || pipe(check) != 0 || pipe(results) != 0) return {};
  std::vector<pid_t> children;
  for (uint16_t port : ports) {
    pid_t pid = fork();
    if (pid == 0) {
      close(go[1]);
      close(check[1]);
      char byte;
      (void)!read(go[0], &byte, 1);  // the end of the file starts everybody at once
      FirstOpen outcome{CT_init(1, port), -1, 0};
      (void)!write(opened[1], "o", 1);
      (void)!read(check[0], &byte, 1);
      if (outcome.code == OK) {
        outcome.slot = static_cast<int8_t>(ctapi::FindSlotByCtn(1));
        const ctapi::TerminalSlot& slot = ctapi::Slot(outcome.slot);
        outcome.kept =
            slot.in_use == 1 && slot.port == port && slot.owner_pid == platform::CurrentProcessId();
      }
      (void)!write(results[1], &outcome, sizeof outcome);
      _exit(0);
    }
    children.push_back(pid);
  }
  close(go[1]);
  close(go[0]);
  std::vector<FirstOpen> outcomes;
  for (size_t i = 0; i < ports.size(); ++i) {
    char byte;
    if (read(opened[0], &byte, 1) != 1) break;
  }
  close(check[1]);
  for (size_t i = 0; i < ports.size(); ++i) {
    FirstOpen outcome{};
    if (read(results[0], &outcome, sizeof outcome) != sizeof outcome) break;
    outcomes.push_back(outcome);
  }
  for (pid_t child : children)
    waitpid(child, nullptr, 0);
  for (int fd : {opened[0], opened[1], check[0], results[0], results[1]})
    close(fd);
  return outcomes;
}

// The texts of the error log's records of CT_init, each joined from its 58-character lines.
std::vector<std::string> InitRecords(const std::string& log) {
  std::vector<std::string> records;
  const std::string head = "M: CTAPI F: CT_init\r\n";
  const std::string margin = "                |";
  for (size_t at = log.find(head); at != std::string::npos; at = log.find(head, at)) {
    at += head.size();
    std::string text;
    while (log.compare(at, margin.size(), margin) == 0) {
      text += log.substr(at + margin.size(), 58);
      at = log.find("\r\n", at) + 2;
    }
    records.push_back(text.substr(0, text.find_last_not_of(' ') + 1));
  }
  return records;
}

// Every refusal of CT_init leaves one record in the error log that says why.
TEST_F(CtapiTest, EveryRefusalOfCtInitLeavesOneRecordSayingWhy) {
  AddReaders({"Generic Smart Card Reader Interface 0", "TREVANO Kelvane Birch 1",
              "TREVANO Kelvane Birch 3"});
  int to_parent[2], to_child[2];
  ASSERT_EQ(pipe(to_parent), 0);
  ASSERT_EQ(pipe(to_child), 0);
  const pid_t other = fork();
  if (other == 0) {
    close(to_child[1]);
    const int8_t opened = CT_init(9, 4);
    char byte;
    (void)!write(to_parent[1], &opened, 1);
    (void)!read(to_child[0], &byte, 1);
    _exit(0);
  }
  int8_t other_opened = -99;
  ASSERT_EQ(read(to_parent[0], &other_opened, 1), 1);
  ASSERT_EQ(other_opened, OK);

  struct Case {
    const char* setting;  // CTKORVIN_OBJECT_PREFIX or CTKORVIN_OSVERSION, as the case says
    bool service;
    uint16_t ctn;
    uint16_t pn;
    int8_t result;
    std::string text;
  } const cases[] = {
      {"prefix", true, 1, 1, ERR_INVALID,
       "the terminal table cannot be used: its lock failed: Invalid argument"},
      {"version", true, 1, 1, ERR_INVALID, "this version of the system is not supported"},
      {nullptr, true, 1, 0, ERR_INVALID, "port 0 names no reader"},
      {nullptr, false, 1, 2, ERR_INVALID,
       "no PC/SC service: establishing a context failed (0x8010001D)"},
      {nullptr, true, 1, 2, OK, ""},
      {nullptr, true, 2, 2, ERR_INVALID, "port 2 is in use by this process"},
      {nullptr, true, 1, 3, ERR_INVALID, "ctn 1 is open already"},
      {nullptr, true, 2, 1, ERR_INVALID,
       "no reader \"TREVANO Kelvane Birch 0\" for port 1; PC/SC offers: Generic Smart Card "
       "Reader Interface 0, TREVANO Kelvane Birch 1, TREVANO Kelvane Birch 3; a line \"1 = "
       "READER NAME\" in /nonexistent/ctkorvin-test-ports.conf gives a reader this port"},
      {nullptr, true, 2, 4, ERR_INVALID, "port 4 is in use by process " + std::to_string(other)},
  };
  size_t records = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string setting = c.setting ? c.setting : "";
    testutil::ScopedEnv prefix("CTKORVIN_OBJECT_PREFIX", setting == "prefix"
                                                             ? std::string(300, 'p').c_str()
                                                             : testutil::ObjectPrefix().c_str());
    testutil::ScopedEnv version("CTKORVIN_OSVERSION",
                                setting == "version" ? "2.6.1.7600" : nullptr);
    sim::SetServiceRunning(c.service);
    EXPECT_EQ(CT_init(c.ctn, c.pn), c.result);
    const std::vector<std::string> logged = InitRecords(testutil::ReadFile(log_));
    if (c.result == OK) {
      EXPECT_EQ(logged.size(), records);
      continue;
    }
    ASSERT_EQ(logged.size(), ++records);
    EXPECT_EQ(logged.back(), c.text);
  }
  sim::SetServiceRunning(true);
  close(to_child[1]);
  waitpid(other, nullptr, 0);
}

}  // namespace

TEST_F(ProcessesTest, SimultaneousFirstOpensShareOneTableAndNeverOnePort) {
  AddReaders({"TREVANO Kelvane Birch 5"});
  // Two processes for each of four ports, and the fifth port for nobody: every round makes a new
  // table (nobody holds the last one), and exactly one process of each pair gets its port.
  const std::vector<uint16_t> ports = {1, 2, 3, 4, 1, 2, 3, 4};
  int anomalies = 0;
  for (int round = 0; round < 25; ++round) {
    std::vector<FirstOpen> outcomes = OpenAtOnce(ports);
    ASSERT_EQ(outcomes.size(), ports.size()) << "round " << round;
    int opened = 0;
    bool slot_taken[ctapi::kSlotCount] = {};
    for (const FirstOpen& outcome : outcomes) {
      if (outcome.code != OK) {
        anomalies += outcome.code != ERR_INVALID;
        continue;
      }
      ++opened;
      anomalies += !outcome.kept || outcome.slot < 0 || slot_taken[outcome.slot];
      if (outcome.slot >= 0) slot_taken[outcome.slot] = true;
    }
    anomalies += opened != 4;
  }
  EXPECT_EQ(anomalies, 0);
}

// /dev/shm is sticky: a table that root's process left behind cannot be removed by another
// account, which takes it over instead; while root's process still runs, the table is shared.
TEST_F(ProcessesTest, AnyAccountOpensTerminalsAfterAnotherAccount) {
  if (geteuid() != 0) GTEST_SKIP() << "acting as two accounts needs root";
  auto as_nobody = [](uint16_t port) -> int8_t {
    if (setgid(65534) != 0 || setuid(65534) != 0) return 99;
    return CT_init(1, port);
  };
  Child root_holds([](int) -> int8_t { return CT_init(1, 1); });
  Child nobody_while_held([&](int) -> int8_t { return as_nobody(2); });
  Child nobody_after([&](int) -> int8_t { return as_nobody(1); });
  ASSERT_TRUE(root_holds.started() && nobody_while_held.started() && nobody_after.started());
  ASSERT_EQ(root_holds.Step(), OK);
  EXPECT_EQ(nobody_while_held.Step(), OK);
  nobody_while_held.End();
  root_holds.End();  // ends without CT_close: the table stays behind, root's
  EXPECT_EQ(nobody_after.Step(), OK);
}
