// Error numbers on Windows: GetLastError and the system's US English texts (FormatMessageA).
#include "platform/error.h"

#include <string.h>
#include <windows.h>

namespace platform {

uint32_t LastSystemError() {
  return GetLastError();
}

bool IsTooManyFilesError(uint32_t error) {
  return error == ERROR_TOO_MANY_OPEN_FILES;
}

void SystemErrorMessage(uint32_t error, char* buffer, uint32_t size) {
  if (!buffer || size == 0) return;
  buffer[0] = '\0';
  const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  DWORD length = FormatMessageA(flags, nullptr, error, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                buffer, size, nullptr);
  // A system without the English texts gives its own language rather than nothing.
  if (length == 0) length = FormatMessageA(flags, nullptr, error, 0, buffer, size, nullptr);
  if (length == 0) {
    strncpy(buffer, "Unknown error", size - 1);
    buffer[size - 1] = '\0';
    return;
  }
  buffer[length < size ? length : size - 1] = '\0';
}

}  // namespace platform
