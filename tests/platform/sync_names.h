// SPDX-License-Identifier: BSD-3-Clause
// What the lock and semaphore tests share: the platform's names, a name of the running test that
// no other test program running beside it uses, and two small steps.
#pragma once

#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/sync.h"
#include "tests/common/test_util.h"

namespace synctest {

using platform::SyncClose;
using platform::SyncCreate;
using platform::SyncCreateResult;
using platform::SyncObject;
using platform::SyncRelease;
using platform::SyncWait;
using platform::SyncWaitResult;

inline std::string UniqueName(const char* test) {
  return "s_kvsync_" + std::to_string(testutil::ProcessId()) + "_" + test;
}

// Creates an object that the test expects to be made.
inline SyncObject* Create(const char* name, uint32_t count) {
  SyncObject* object = nullptr;
  uint32_t error = 0;
  EXPECT_EQ(SyncCreate(name, count, &object, &error), SyncCreateResult::kOk) << error;
  return object;
}

// What another thread sees when it tries the object without waiting.
inline SyncWaitResult TryFromOtherThread(SyncObject* object) {
  SyncWaitResult result = SyncWaitResult::kFailed;
  std::thread other([&] {
    uint32_t error = 0;
    result = SyncWait(object, 0, &error);
    if (result == SyncWaitResult::kAcquired) SyncRelease(object, &error);
  });
  other.join();
  return result;
}

}  // namespace synctest
