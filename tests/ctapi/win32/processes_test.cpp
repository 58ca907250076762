// SPDX-License-Identifier: BSD-3-Clause
// Terminals of two processes in the one terminal table of the Windows build (the mapping
// "m_KV-CTAPI" under the test's prefix): the second process is this test program started again
// (child_process.h); the two signal each other through named events.
#include <windows.h>

#include <string>

#include "ctapi/ctapi.h"
#include "ctapi/slots.h"
#include "tests/common/child_process.h"
#include "tests/ctapi/ctapi_fixture.h"

namespace {

constexpr const char* kReaders[] = {"TREVANO Kelvane Birch 0", "TREVANO Kelvane Birch 1",
                                    "TREVANO Kelvane Birch 2"};

HANDLE Event(const char* what) {
  const std::string name = testutil::ObjectPrefix() + "kvtest-" + what;
  return CreateEventA(nullptr, TRUE, FALSE, name.c_str());
}

// The second process: opens terminal 1 on port 2, says so, waits to be let go and ends without
// closing it.
int HoldPortTwo(const std::string&) {
  sim::Reset();
  for (const char* name : kReaders) {
    sim::ReaderSpec reader;
    reader.name = name;
    sim::AddReader(reader);
  }
  HANDLE opened = Event("opened");
  HANDLE go = Event("go");
  const int8_t result = CT_init(1, 2);
  SetEvent(opened);
  WaitForSingleObject(go, 30000);
  return result == OK ? 0 : 1;
}
KV_CHILD_ROUTINE("hold-port-two", HoldPortTwo);

class TwoProcessesTest : public ctapitest::CtapiTest {
 protected:
  void SetUp() override {
    CtapiTest::SetUp();
    for (const char* name : kReaders)
      AddReaders({name});
  }
};

TEST_F(TwoProcessesTest, PortOfAnotherProcessIsRefusedAndTakenBackOnceItEnded) {
  HANDLE opened = Event("opened");
  HANDLE go = Event("go");
  ASSERT_TRUE(opened && go);
  testutil::Child child("hold-port-two", "");
  ASSERT_TRUE(child.started());
  ASSERT_EQ(WaitForSingleObject(opened, 30000), WAIT_OBJECT_0);
  EXPECT_EQ(CT_init(1, 2), ERR_INVALID);  // the other process's port
  ASSERT_EQ(CT_init(1, 1), OK);
  // One table: the other process's terminal is seen here, recorded as its own.
  int theirs = ctapi::kNotFound;
  for (int i = 0; i < static_cast<int>(ctapi::kSlotCount); ++i) {
    if (SlotAt(i).in_use && SlotAt(i).port == 2) theirs = i;
  }
  ASSERT_NE(theirs, ctapi::kNotFound);
  EXPECT_EQ(SlotAt(theirs).owner_pid, child.pid());
  EXPECT_NE(theirs, ctapi::FindSlotByCtn(1));
  EXPECT_EQ(CT_close(2), ERR_INVALID);  // not this process's to close
  SetEvent(go);
  EXPECT_EQ(child.Wait(), 0);
  // It ended without CT_close: its slot and port are free for the next CT_init.
  EXPECT_EQ(CT_init(2, 2), OK);
  EXPECT_EQ(CT_close(2), OK);
  EXPECT_EQ(CT_close(1), OK);
  CloseHandle(opened);
  CloseHandle(go);
}

}  // namespace
