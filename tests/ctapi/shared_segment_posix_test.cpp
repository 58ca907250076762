// SPDX-License-Identifier: BSD-3-Clause
// Named shared segments on POSIX: the object under /dev/shm holds the size word and the payload
// and is open to every account.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "ctapi/ctapi.h"
#include "ctapi/shared_segment.h"
#include "support/result.h"
#include "tests/ctapi/ctapi_fixture.h"

namespace {

using SharedSegmentPosixTest = ctapitest::CtapiTest;

TEST_F(SharedSegmentPosixTest, TheObjectIsTheSizeWordAndThePayloadOpenToEveryone) {
  const std::string name = "KVTEST-" + std::to_string(testutil::ProcessId());
  void* payload = nullptr;
  uint32_t size = 0;
  ASSERT_EQ(ctapi::GetMem(name.c_str(), 1104, nullptr, &payload, &size), kResultOk);
  AddReaders({"TREVANO Kelvane Birch 0"});
  ASSERT_EQ(CT_init(1, 1), OK);
  for (const std::string& object : {"m_" + name, std::string("m_KV-CTAPI")}) {
    struct stat st;
    ASSERT_EQ(stat(testutil::SharedObjectPath(object).c_str(), &st), 0) << object;
    EXPECT_EQ(st.st_size, 1108) << object;
    EXPECT_EQ(st.st_mode & 0777, 0666u) << object;
  }
  EXPECT_EQ(CT_close(1), OK);
}

}  // namespace
