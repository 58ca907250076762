// The running process on POSIX: environment and process number.
#include "platform/process.h"

#include <stdlib.h>
#include <unistd.h>

namespace platform {

const char* EnvLookup(const char* name) {
  return name ? getenv(name) : nullptr;
}

uint32_t CurrentProcessId() {
  return static_cast<uint32_t>(getpid());
}

}  // namespace platform
