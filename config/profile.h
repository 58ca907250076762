// SPDX-License-Identifier: BSD-3-Clause
// The private-profile (INI) service: reads and writes single values of an INI file by path, the
// way the operating system's profile functions do. Windows supplies the real service; other
// systems get an INI reader and writer with the same answers. Section and key names are compared
// without regard to letter case; blanks around "=" and at the ends of a value are not part of it.
#pragma once

#include <cstdint>

// Reads into `buffer` of `size` bytes (always terminated when size > 0):
// - section and key given: the key's value, or `default_value` (none counts as "") when the key
//   or the section is missing. At most size - 1 characters are copied; the result is the number
//   copied, size - 1 when the value was cut.
// - section given, no key: the names of the section's keys; no section: the names of all
//   sections. Each name is followed by a terminator and the list by one more. The result counts
//   the characters copied without the final terminator; a list that does not fit (an exact fit
//   counts as not fitting) is cut and the result is size - 2. A missing or empty section gives
//   the default text instead (an empty list for an empty default).
// Size 0, a missing buffer or a missing path give 0.
uint32_t ProfileGetString(const char* section, const char* key, const char* default_value,
                          char* buffer, uint32_t size, const char* path);

// Changes the file at once and writes it back with lines ended by CR LF (a missing file is
// created):
// - key and value given: sets the value, adding the key at the end of its section and the
//   section at the end of the file when needed;
// - key given, no value: deletes the key;
// - no key: deletes the section with all its lines.
// Deleting what is not there changes nothing and succeeds. Returns true on success; on failure
// ProfileLastError() tells the system's reason.
bool ProfileWriteString(const char* section, const char* key, const char* value, const char* path);

// A batch: a series of reads and changes of one file made as one step. ProfileBatchBegin waits
// for the turn of the file's folder to be saved (other processes' saves there wait from then on)
// and reads the file once; until ProfileBatchEnd, this thread's reads and writes that name the
// same path work on that copy, and ProfileBatchEnd writes it back once when it changed. Should
// that fail, the file keeps its content from before the batch. A thread has one batch at a
// time. Where the service is the system's own (Windows), it writes at once and a batch changes
// nothing. Both return true on success; on failure ProfileLastError() tells the reason.
bool ProfileBatchBegin(const char* path);
bool ProfileBatchEnd();

// The system error number of the last failed ProfileWriteString, ProfileBatchBegin or
// ProfileBatchEnd of this thread.
uint32_t ProfileLastError();
