// The running process: its number and its environment.
#pragma once

#include <cstdint>

namespace platform {

// The value of the environment variable `name`, or nullptr when it is not set. The text belongs
// to the environment and stays valid until the variable is changed.
const char* EnvLookup(const char* name);

uint32_t CurrentProcessId();

}  // namespace platform
