// Terminals of several processes in the one machine-wide table (fork). Every child is forked
// before its parent attaches the table, so that it is a process of its own and not a copy of
// the parent's terminals; parent and child take turns through pipes.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ctapi/ctapi.h"
#include "platform/process.h"
#include "tests/ctapi/ctapi_fixture.h"

namespace {

using ctapitest::CtapiTest;

// A child process that runs `steps` one at a time, each when the parent says so, and reports
// each step's result back.
class Child {
 public:
  template <typename Steps>
  explicit Child(Steps steps) {
    if (pipe(to_child_) != 0 || pipe(to_parent_) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
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
  }
  ~Child() {
    if (pid_ > 0) {
      close(to_child_[1]);
      close(to_parent_[0]);
      waitpid(pid_, nullptr, 0);
    }
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
    close(to_child_[1]);
    close(to_parent_[0]);
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
  killed.Kill();
  exits.End();  // without CT_close
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
  struct Case {
    const char* what;
    uint32_t pid;
    uint64_t start;
    bool taken_back;
  } const cases[] = {
      {"no owner recorded", 0, 0, false},
      {"owner runs", live, live_start, false},
      {"owner runs, start time not recorded", live, 0, false},
      {"the number now names another process", live, live_start + 1, true},
      {"owner ended", static_cast<uint32_t>(ended), ended_start, true},
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
