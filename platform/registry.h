// SPDX-License-Identifier: BSD-3-Clause
// The system's registry of settings, read-only: 32-bit values under HKEY_LOCAL_MACHINE.
#pragma once

#include <cstdint>

namespace platform {

enum class RegistryResult { kOk, kNoKey, kNoValue };

// Reads the 32-bit value `value` of `key` (a path with "\" between its parts) under
// HKEY_LOCAL_MACHINE. The type of the value is not checked.
RegistryResult RegistryReadU32(const char* key, const char* value, uint32_t* out);

}  // namespace platform
