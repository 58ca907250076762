// SPDX-License-Identifier: BSD-3-Clause
// Error numbers on Windows: GetLastError and the system's US English texts (FormatMessageA).
#include "platform/error.h"

#include <string.h>
#include <windows.h>

namespace platform {
namespace {

// The system's text for `error` in `language`, in a block to free with LocalFree; its length
// in *length. The system refuses to cut a text for a buffer too small, so it allocates it.
char* FormatText(uint32_t error, DWORD language, DWORD* length) {
  char* text = nullptr;
  *length = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, error, language, reinterpret_cast<char*>(&text), 0, nullptr);
  if (*length == 0 && text) {
    LocalFree(text);
    text = nullptr;
  }
  return text;
}

}  // namespace

uint32_t LastSystemError() {
  return GetLastError();
}

bool IsTooManyFilesError(uint32_t error) {
  return error == ERROR_TOO_MANY_OPEN_FILES;
}

void SystemErrorMessage(uint32_t error, char* buffer, uint32_t size) {
  if (!buffer || size == 0) return;
  DWORD length = 0;
  char* text = FormatText(error, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), &length);
  // A system without the English texts gives its own language rather than nothing.
  if (!text) text = FormatText(error, 0, &length);
  const char* source = text ? text : "Unknown error";
  size_t copied = text ? length : strlen(source);
  if (copied > size - 1) copied = size - 1;
  memcpy(buffer, source, copied);
  buffer[copied] = '\0';
  if (text) LocalFree(text);
}

}  // namespace platform
