// Terminals of several processes in the one machine-wide table (fork). Every child is forked
// before its parent attaches the table, so that it is a process of its own and not a copy of
// the parent's terminals; parent and child take turns through pipes.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ctapi/ctapi.h"
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
  void Kill() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    close(to_child_[1]);
    close(to_parent_[0]);
    pid_ = -1;
  }
  bool started() const { return pid_ > 0; }

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

TEST_F(ProcessesTest, KilledProcessBlocksItsPortWhileTheTableLives) {
  Child child([](int) -> int8_t { return CT_init(1, 1); });
  ASSERT_TRUE(child.started());
  ASSERT_EQ(CT_init(9, 2), OK);  // this process holds the table
  EXPECT_EQ(child.Step(), OK);
  child.Kill();
  EXPECT_EQ(CT_init(1, 1), ERR_INVALID);
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
