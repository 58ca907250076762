// SPDX-License-Identifier: BSD-3-Clause
// Clock and sleep. Every wait of the system goes through these two functions and nothing else
// calls the operating system's sleep, so that a test build can run the whole library on virtual
// time by linking another implementation of this header (the reader simulator does).
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds on a clock that never goes backwards; the origin is arbitrary.
uint64_t MonotonicMs();

// Blocks the calling thread for about `ms` milliseconds.
void SleepMs(uint32_t ms);

}  // namespace platform
