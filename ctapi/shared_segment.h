// SPDX-License-Identifier: BSD-3-Clause
// Named shared-memory segments: a block of memory shared with every process that asks for the
// same name. Each process remembers the segments it was given, so a second request for a name
// costs nothing and returns the same address. Failures are logged under "SMEM".
#pragma once

#include <cstdint>

namespace ctapi {

// Opens (size 0) or creates (size > 0) the segment `name` with `size` bytes of payload. On
// success *out points at the payload and *out_size is the payload size its creator chose; an
// open-only request for a segment that does not exist gives 0, null and 0. `own` must be null.
uint32_t GetMem(const char* name, uint32_t size, void* own, void** out, uint32_t* out_size);
uint32_t GetMemInternal(const char* name, uint32_t size, void* own, void** out, uint32_t* out_size);
// The system's error number of the last request of this process that the system refused.
uint32_t GetMemLastSystemError();

}  // namespace ctapi
