// SPDX-License-Identifier: BSD-3-Clause
// The operating system's error numbers and their texts.
#pragma once

#include <cstdint>

namespace platform {

// The error number of the last failed system call of this thread.
uint32_t LastSystemError();

// True when `error` says that the process or the system has too many files open.
bool IsTooManyFilesError(uint32_t error);

// Writes the system's English text for `error` into `buffer` (always terminated, cut to fit).
void SystemErrorMessage(uint32_t error, char* buffer, uint32_t size);

}  // namespace platform
