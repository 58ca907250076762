// SPDX-License-Identifier: BSD-3-Clause
// Error numbers on POSIX: errno, and the C locale's texts for them (the English ones).
#include "platform/error.h"

#include <errno.h>
#include <locale.h>
#include <string.h>

namespace platform {

uint32_t LastSystemError() {
  return static_cast<uint32_t>(errno);
}

bool IsTooManyFilesError(uint32_t error) {
  return error == EMFILE || error == ENFILE;
}

void SystemErrorMessage(uint32_t error, char* buffer, uint32_t size) {
  if (!buffer || size == 0) return;
  // The texts of the C locale are the English ones, whatever locale the process runs in.
  locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  const char* text = c_locale ? strerror_l(static_cast<int>(error), c_locale) : "Unknown error";
  size_t length = strlen(text);
  if (length > size - 1) length = size - 1;
  memcpy(buffer, text, length);
  buffer[length] = '\0';
  if (c_locale) freelocale(c_locale);
}

}  // namespace platform
