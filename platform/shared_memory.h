// SPDX-License-Identifier: BSD-3-Clause
// Named shared memory: a block of memory that every process asking for the same name shares.
// A mapping lives while at least one process holds it; the last holder's end destroys it.
#pragma once

#include <cstdint>

namespace platform {

using MappingHandle = intptr_t;
constexpr MappingHandle kNoMapping = -1;

enum class MappingOpenResult { kOpened, kNotFound, kFailed };

// The machine-wide lock of named mappings, for every process of every account. Opening and
// creating take it themselves; a caller takes it around more than one step when the steps must
// be one for every other process: open-or-create and set up a new mapping, or change what
// several processes share inside one. A process may take it again while it holds it; each
// successful MappingLock is matched by one MappingUnlock. False when the lock cannot be had.
bool MappingLock();
void MappingUnlock();

// Holds the mapping lock for its lifetime (ok() tells whether it was had).
class ScopedMappingLock {
 public:
  ScopedMappingLock() : ok_(MappingLock()) {}
  ~ScopedMappingLock() {
    if (ok_) MappingUnlock();
  }
  ScopedMappingLock(const ScopedMappingLock&) = delete;
  ScopedMappingLock& operator=(const ScopedMappingLock&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_;
};

// Opens the existing mapping `name`; kNotFound when no process holds one of that name.
MappingOpenResult MappingOpen(const char* name, MappingHandle* out);

// Creates the mapping `name` of `size` bytes, all zero and open to every account, or opens the
// existing one (then *created is false and the size is the existing one's).
bool MappingCreate(const char* name, uint32_t size, MappingHandle* out, bool* created);

// Maps the whole mapping into this process; it stays mapped until the process ends.
void* MappingMapView(MappingHandle mapping);

// Gives up a mapping that was not mapped (after a failure).
void MappingClose(MappingHandle mapping);

}  // namespace platform
