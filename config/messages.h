// SPDX-License-Identifier: BSD-3-Clause
// The message catalogue: the fixed German and English texts of the result codes.
#pragma once

#include <cstdint>

constexpr uint32_t kLanguageGerman = 1;

// The text of `code`; language 1 gives German (code page 437), any other value English.
const char* MessageText(uint32_t code, uint32_t language);
// The English text; the form the configuration code uses for its log records.
const char* MessageTextEn(uint32_t code);
