// SPDX-License-Identifier: BSD-3-Clause
// Named shared segments: the platform object and its size word, repeated requests, open-only
// requests, argument checks and their log records.
#include "ctapi/shared_segment.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "ctapi/ctapi.h"
#include "platform/shared_memory.h"
#include "support/result.h"
#include "tests/ctapi/ctapi_fixture.h"

namespace {

using ctapitest::CtapiTest;

class SharedSegmentTest : public CtapiTest {
 protected:
  std::string UniqueName(const char* base) { return base + std::to_string(getpid()); }
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
  const auto* view = static_cast<const uint8_t*>(payload) - 4;
  EXPECT_EQ(view[0] | view[1] << 8 | view[2] << 16 | view[3] << 24, 1104);

  struct stat st;
  std::string object = testutil::SharedObjectPath("m_" + name);
  ASSERT_EQ(stat(object.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 1108);
  EXPECT_EQ(st.st_mode & 0777, 0666u);

  // The same name again: the same block and the creator's size, whatever is asked.
  void* again = nullptr;
  uint32_t again_size = 0;
  ASSERT_EQ(ctapi::GetMem(name.c_str(), 50, nullptr, &again, &again_size), kResultOk);
  EXPECT_EQ(again, payload);
  EXPECT_EQ(again_size, 1104u);
  shm_unlink(("/m_" + name).c_str());
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
  sim::ReaderSpec reader;
  reader.name = "TREVANO Kelvane Birch 0";
  sim::AddReader(reader);
  ASSERT_EQ(CT_init(1, 1), OK);
  struct stat st;
  ASSERT_EQ(stat(testutil::SharedObjectPath("m_KV-CTAPI").c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 1108);
  std::string bytes = testutil::ReadFile(testutil::SharedObjectPath("m_KV-CTAPI"));
  ASSERT_EQ(bytes.size(), 1108u);
  uint32_t size_word = 0;
  memcpy(&size_word, bytes.data(), 4);
  EXPECT_EQ(size_word, 1104u);
  // The slot record sits right behind the size word.
  uint32_t in_use = 0;
  memcpy(&in_use, bytes.data() + 4, 4);
  EXPECT_EQ(in_use, 1u);
  EXPECT_EQ(std::string(bytes.data() + 4 + 0x30), "TREVANO Kelvane Birch 0");
  EXPECT_EQ(CT_close(1), OK);
}

// A table whose creator (another implementation, without the lock) has not written its size yet
// cannot be used; the next CT_init looks again and uses it once the size is there.
TEST_F(SharedSegmentTest, ATableWithoutItsSizeYetIsNotRemembered) {
  sim::ReaderSpec reader;
  reader.name = "TREVANO Kelvane Birch 0";
  sim::AddReader(reader);
  int go[2], done[2];
  ASSERT_EQ(pipe(go), 0);
  ASSERT_EQ(pipe(done), 0);
  pid_t creator = fork();
  if (creator == 0) {
    close(go[1]);
    close(done[0]);
    platform::MappingHandle mapping = platform::kNoMapping;
    bool created = false;
    if (!platform::MappingCreate("m_KV-CTAPI", 1108, &mapping, &created) || !created) _exit(1);
    auto* view = static_cast<uint8_t*>(platform::MappingMapView(mapping));
    char byte;
    if (!view || read(go[0], &byte, 1) != 1) _exit(1);
    const uint32_t size = 1104;
    memcpy(view, &size, 4);  // its free slots are merely zero
    (void)!write(done[1], "d", 1);
    (void)!read(go[0], &byte, 1);
    _exit(0);
  }
  // The creator has made the object once the file is there.
  while (!testutil::FileExists(testutil::SharedObjectPath("m_KV-CTAPI")))
    sched_yield();
  EXPECT_EQ(CT_init(1, 1), ERR_INVALID);
  char byte;
  ASSERT_EQ(write(go[1], "s", 1), 1);
  ASSERT_EQ(read(done[0], &byte, 1), 1);
  EXPECT_EQ(CT_init(1, 1), OK);
  EXPECT_EQ(SlotAt(ctapi::FindSlotByCtn(1)).card_handle, ctapi::kNoCardHandle);
  EXPECT_EQ(CT_close(1), OK);
  close(go[1]);
  waitpid(creator, nullptr, 0);
}

}  // namespace
