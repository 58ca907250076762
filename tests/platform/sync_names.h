// SPDX-License-Identifier: BSD-3-Clause
// What the lock and semaphore tests share: the platform's names and a name of the running test
// that no other test program running beside it uses.
#pragma once

#include <string>

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

}  // namespace synctest
