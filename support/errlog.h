// SPDX-License-Identifier: BSD-3-Clause
// The error log: one boxed, time-stamped record per reported failure, appended to the file
// named by the environment variable ERRLFILE. Without that variable nothing is written.
#pragma once

#include <cstdint>

// Writes one record when the low byte of `level` shares a bit with the log mask. `format` may be
// null (the record then has one empty text line). Returns 0, or kErrOpenFailed when the log file
// could be neither opened nor created.
uint32_t ErrLogWrite(uint32_t level, const char* module, const char* function, int32_t call_site,
                     uint32_t code, const char* format, ...) __attribute__((format(printf, 6, 7)));

// True when a record of `level` would be written now (its level is in the mask and ERRLFILE is
// set): callers skip gathering what only a record would show.
bool ErrLogActive(uint32_t level);

uint32_t ErrLogChangeMask(uint8_t bits, uint32_t on);
uint32_t ErrLogGetMask(uint8_t* mask);
uint32_t ErrLogSetMask(uint8_t mask);
