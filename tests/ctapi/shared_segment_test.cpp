// SPDX-License-Identifier: BSD-3-Clause
// Named shared segments: the size word in front, repeated requests, open-only requests, argument
// checks and their log records, and what a second process (this test program started again)
// finds under the name: the segment's bytes, the terminal table's record, and a table that its
// creator has not finished yet. What the POSIX object is made of: shared_segment_posix_test.cpp.
#include "ctapi/shared_segment.h"

#include <cstring>
#include <string>

#include "ctapi/ctapi.h"
#include "platform/shared_memory.h"
#include "platform/sync.h"
#include "support/result.h"
#include "tests/common/child_process.h"
#include "tests/ctapi/ctapi_fixture.h"

namespace {

using ctapitest::CtapiTest;

uint32_t SizeWordOf(const void* payload) {
  const auto* view = static_cast<const uint8_t*>(payload) - 4;
  return view[0] | view[1] << 8 | view[2] << 16 | static_cast<uint32_t>(view[3]) << 24;
}

// The second process: opens the segment `name`, expects the creator's size and its text
// "shared" at the start, and answers with "seen".
int OpenTheSegment(const std::string& name) {
  void* payload = nullptr;
  uint32_t size = 0;
  if (ctapi::GetMem(name.c_str(), 0, nullptr, &payload, &size) != kResultOk || !payload) return 1;
  if (size != 1104 || SizeWordOf(payload) != 1104) return 2;
  if (std::strcmp(static_cast<const char*>(payload), "shared") != 0) return 3;
  std::memcpy(payload, "seen", 5);
  return 0;
}
KV_CHILD_ROUTINE("segment-open", OpenTheSegment);

// The second process: finds terminal 1 of the first in the terminal table, byte by byte: the
// size word, then the first slot record with in_use and the reader name at 0x30.
int ReadTheTable(const std::string&) {
  void* payload = nullptr;
  uint32_t size = 0;
  if (ctapi::GetMem("KV-CTAPI", 0, nullptr, &payload, &size) != kResultOk || !payload) return 1;
  if (size != 1104 || SizeWordOf(payload) != 1104) return 2;
  const auto* record = static_cast<const char*>(payload);
  uint32_t in_use = 0;
  std::memcpy(&in_use, record, 4);
  if (in_use != 1) return 3;
  return std::strcmp(record + 0x30, "TREVANO Kelvane Birch 0") == 0 ? 0 : 4;
}
KV_CHILD_ROUTINE("segment-table", ReadTheTable);

class SharedSegmentTest : public CtapiTest {
 protected:
  std::string UniqueName(const char* base) { return base + std::to_string(testutil::ProcessId()); }
  size_t Records(const std::string& function) {
    std::string log = testutil::ReadFile(log_);
    size_t count = 0;
    for (size_t at = log.find("M: SMEM F: " + function + "\r\n"); at != std::string::npos;
         at = log.find("M: SMEM F: " + function + "\r\n", at + 1)) {
      ++count;
    }
    return count;
  }
};

TEST_F(SharedSegmentTest, CreateWritesTheSizeWordInFront) {
  std::string name = UniqueName("KVTEST-");
  void* payload = nullptr;
  uint32_t size = 0;
  ASSERT_EQ(ctapi::GetMem(name.c_str(), 1104, nullptr, &payload, &size), kResultOk);
  ASSERT_NE(payload, nullptr);
  EXPECT_EQ(size, 1104u);
  EXPECT_EQ(SizeWordOf(payload), 1104u);

  // The same name again: the same block and the creator's size, whatever is asked.
  void* again = nullptr;
  uint32_t again_size = 0;
  ASSERT_EQ(ctapi::GetMem(name.c_str(), 50, nullptr, &again, &again_size), kResultOk);
  EXPECT_EQ(again, payload);
  EXPECT_EQ(again_size, 1104u);

  // Another process finds the same bytes under the name, and this one sees what it wrote.
  std::memcpy(payload, "shared", 7);
  EXPECT_EQ(testutil::Child("segment-open", name).Wait(), 0);
  EXPECT_STREQ(static_cast<const char*>(payload), "seen");
}

TEST_F(SharedSegmentTest, OpenOnlyOfAMissingSegment) {
  void* payload = reinterpret_cast<void*>(0x1);
  uint32_t size = 77;
  EXPECT_EQ(ctapi::GetMem(UniqueName("KVMISSING-").c_str(), 0, nullptr, &payload, &size),
            kResultOk);
  EXPECT_EQ(payload, nullptr);
  EXPECT_EQ(size, 0u);
  EXPECT_FALSE(testutil::FileExists(log_));
}

TEST_F(SharedSegmentTest, ArgumentChecksInOrder) {
  void* payload = nullptr;
  uint32_t size = 0;
  int own = 0;
  struct Case {
    const char* name;
    void** out;
    uint32_t* out_size;
    void* own;
    const char* text;
  };
  const Case cases[] = {
      {nullptr, &payload, &size, nullptr, "pszSMEMName=NULL"},
      {"", &payload, &size, nullptr, "pszSMEMName is empty"},
      {"", nullptr, nullptr, &own, "pszSMEMName is empty"},
      {"X", nullptr, &size, nullptr, "ppSMEM=NULL"},
      {"X", &payload, nullptr, nullptr, "pulSMEMSize=NULL"},
      {"X", &payload, &size, &own, "self provided pointers are not supported"},
  };
  size_t records = 0;
  for (const Case& c : cases) {
    EXPECT_EQ(ctapi::GetMem(c.name, 10, c.own, c.out, c.out_size), kErrIllegalArgument) << c.text;
    records += 1;
    EXPECT_EQ(Records("GetMemInternal"), records) << c.text;
    EXPECT_EQ(Records("GetMem"), records) << c.text;
    std::string log = testutil::ReadFile(log_);
    EXPECT_NE(log.find(std::string("|") + c.text + " "), std::string::npos) << c.text;
  }
  EXPECT_NE(testutil::ReadFile(log_).find("E: 81300006 L: "), std::string::npos);
}

TEST_F(SharedSegmentTest, TerminalTableSegment) {
  AddReaders({"TREVANO Kelvane Birch 0"});
  ASSERT_EQ(CT_init(1, 1), OK);
  EXPECT_EQ(testutil::Child("segment-table", "").Wait(), 0);
  EXPECT_EQ(CT_close(1), OK);
}

// The two processes of the next test take turns through two named semaphores, each taken by
// this process first: "go" lets the creator go on, "done" says it did its step. This process
// waits for a step at most 30 s, so that a creator that failed fails the test, not hangs it.
platform::SyncObject* Turn(const char* what) {
  platform::SyncObject* turn = nullptr;
  const std::string name = std::string("s_kvtest-segment-") + what;
  return platform::SyncCreate(name.c_str(), 1, &turn, nullptr) == platform::SyncCreateResult::kOk
             ? turn
             : nullptr;
}

bool Take(platform::SyncObject* turn, uint32_t timeout_ms = platform::kWaitForever) {
  return platform::SyncWait(turn, timeout_ms, nullptr) == platform::SyncWaitResult::kAcquired;
}

// The second process: creates the terminal table as another implementation would, without the
// lock, says so, and writes its size only when let go; then stays until let go again, holding
// it.
int CreateWithoutSize(const std::string&) {
  platform::SyncObject* go = Turn("go");
  platform::SyncObject* done = Turn("done");
  platform::MappingHandle mapping = platform::kNoMapping;
  bool created = false;
  if (!go || !done || !platform::MappingCreate("m_KV-CTAPI", 1108, &mapping, &created) ||
      !created) {
    return 1;
  }
  auto* view = static_cast<uint8_t*>(platform::MappingMapView(mapping));
  if (!view || !platform::SyncRelease(done, nullptr) || !Take(go)) return 2;
  const uint32_t size = 1104;
  std::memcpy(view, &size, 4);  // its free slots are merely zero
  if (!platform::SyncRelease(done, nullptr) || !Take(go)) return 3;
  return 0;
}
KV_CHILD_ROUTINE("segment-create-without-size", CreateWithoutSize);

// A table whose creator (another implementation, without the lock) has not written its size yet
// cannot be used; the next CT_init looks again and uses it once the size is there.
TEST_F(SharedSegmentTest, ATableWithoutItsSizeYetIsNotRemembered) {
  AddReaders({"TREVANO Kelvane Birch 0"});
  platform::SyncObject* go = Turn("go");
  platform::SyncObject* done = Turn("done");
  ASSERT_TRUE(go && done && Take(go) && Take(done));
  testutil::Child creator("segment-create-without-size", "");
  ASSERT_TRUE(creator.started());
  constexpr uint32_t kStepMs = 30000;
  ASSERT_TRUE(Take(done, kStepMs));  // the table is there, without its size
  EXPECT_EQ(CT_init(1, 1), ERR_INVALID);
  ASSERT_TRUE(platform::SyncRelease(go, nullptr));
  ASSERT_TRUE(Take(done, kStepMs));
  EXPECT_EQ(CT_init(1, 1), OK);
  EXPECT_EQ(SlotAt(ctapi::FindSlotByCtn(1)).card_handle, ctapi::kNoCardHandle);
  EXPECT_EQ(CT_close(1), OK);
  ASSERT_TRUE(platform::SyncRelease(go, nullptr));
  EXPECT_EQ(creator.Wait(), 0);
  platform::SyncClose(go);
  platform::SyncClose(done);
}

}  // namespace
