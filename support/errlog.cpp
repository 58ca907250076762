// SPDX-License-Identifier: BSD-3-Clause
// The error log. A record is a head line with the time, the code, the call site, the module and
// the function, followed by the message in a box 58 characters wide:
//
//   01 12-07 10:15:05 E: 8130000A L: 0135 M: CFG F: Init
//                   |message text, cut into pieces of 58 characters ...           |
//
// The file is opened and closed for every record, so no handle stays open between calls and
// other processes can read the log at any time.
#include "support/errlog.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "platform/calendar.h"
#include "platform/process.h"
#include "support/fileio.h"
#include "support/result.h"
#include "support/strings.h"

namespace {

constexpr uint32_t kBufferSize = 512;
constexpr int kBoxWidth = 58;

uint8_t g_log_mask = 0x01;
// Set while a record is written. The file layer reports its own failures here, so a failure
// while writing the log meets the flag and is dropped instead of recursing; a second thread
// that meets it loses its record rather than waiting.
std::atomic<uint32_t> g_busy{0};

// snprintf gives the length it wanted; this is the length it wrote.
uint32_t Written(int wanted) {
  if (wanted < 0) return 0;
  return static_cast<uint32_t>(wanted) < kBufferSize ? static_cast<uint32_t>(wanted)
                                                     : kBufferSize - 1;
}

void Put(fio::Handle file, const char* text, uint32_t length) {
  uint32_t count = 0;
  fio::WriteBin(file, text, length, &count);  // a record that cannot be written is lost
}

uint32_t WriteRecord(uint32_t level, const char* module, const char* function, int32_t call_site,
                     uint32_t code, const char* format, va_list args) {
  const uint8_t level_byte = static_cast<uint8_t>(level & 0xFF);
  if ((level_byte & g_log_mask) == 0) return kResultOk;
  const char* path = platform::EnvLookup("ERRLFILE");
  if (!path) return kResultOk;

  fio::Handle file = fio::kNoHandle;
  if (fio::Open(path, &file, fio::kModeAppend, fio::kShareRead) != kResultOk &&
      fio::Open(path, &file, fio::kModeCreateNew, fio::kShareRead) != kResultOk) {
    return kErrOpenFailed;
  }

  const platform::CalendarTime now = platform::LocalTimeNow();
  char line[kBufferSize];
  int n = snprintf(line, sizeof line, "%02d %02d-%02d %02d:%02d:%02d ", level_byte, now.month,
                   now.day, now.hour, now.minute, now.second);
  Put(file, line, Written(n));
  // Overlong names are cut, but the head line keeps its end.
  n = snprintf(line, sizeof line - 2, "E: %08X L: %04d M: %s F: %s", code, call_site,
               module ? module : "", function ? function : "");
  uint32_t length = Written(n) < sizeof line - 3 ? Written(n) : sizeof line - 3;
  SafeStrCopy(line + length, sizeof line - length, "\r\n");
  Put(file, line, length + 2);

  char text[kBufferSize] = "";
  if (format) vsnprintf(text, sizeof text, format, args);
  // There is always one line, also for an empty message.
  int left = static_cast<int>(SafeStrLen(text));
  int at = 0;
  do {
    n = snprintf(line, sizeof line, "                |%-58.58s|\r\n", text + at);
    Put(file, line, Written(n));
    left -= kBoxWidth;
    at += kBoxWidth;
  } while (left > 0);

  fio::Close(file);
  return kResultOk;
}

}  // namespace

uint32_t ErrLogWrite(uint32_t level, const char* module, const char* function, int32_t call_site,
                     uint32_t code, const char* format, ...) {
  if (g_busy.exchange(1) != 0) return kResultOk;
  va_list args;
  va_start(args, format);
  uint32_t result = WriteRecord(level, module, function, call_site, code, format, args);
  va_end(args);
  g_busy.store(0);
  return result;
}

bool ErrLogActive(uint32_t level) {
  return (level & g_log_mask & 0xFF) != 0 && platform::EnvLookup("ERRLFILE") != nullptr;
}

uint32_t ErrLogChangeMask(uint8_t bits, uint32_t on) {
  g_log_mask =
      on ? static_cast<uint8_t>(g_log_mask | bits) : static_cast<uint8_t>(g_log_mask & ~bits);
  return kResultOk;
}

uint32_t ErrLogGetMask(uint8_t* mask) {
  if (!mask) return kErrIllegalArgument;
  *mask = g_log_mask;
  return kResultOk;
}

uint32_t ErrLogSetMask(uint8_t mask) {
  g_log_mask = mask;
  return kResultOk;
}
