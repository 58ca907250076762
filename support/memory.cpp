// SPDX-License-Identifier: BSD-3-Clause
// Memory functions and the allocation log. A tagged block carries 16 bytes in front of the
// caller's bytes: the last path component of the allocating source file and the line, e.g.
// "     cfg 0007". With VMPMEMLOG set, every tagged call appends one line to that file:
//
//      Alloc 00001234: 0000561d2c3e5010      cfg 0007      cfg 0007 00000050 Tue Dec  8 10:15:05
//      2026
#include "support/memory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/calendar.h"
#include "platform/error.h"
#include "platform/process.h"
#include "support/result.h"
#include "support/strings.h"

namespace mem {
namespace {

constexpr uint32_t kSysErrTextMax = 80;

const char* LastComponent(const char* path) {
  if (!path) return "";
  const char* name = path;
  for (const char* p = path; *p; ++p) {
    if (*p == '/' || *p == '\\') name = p + 1;
  }
  return name;
}

void WriteTag(char* block, const char* source_file, int line) {
  snprintf(block, kTagSize, "%8.8s %.4d", LastComponent(source_file), line);
}

// The standard 26-character calendar form, line feed included: "Tue Dec  8 10:15:05 2026\n".
void CalendarText(char* out, size_t size) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const platform::CalendarTime now = platform::LocalTimeNow();
  snprintf(out, size, "%.3s %.3s%3d %.2d:%.2d:%.2d %d\n", kDays[now.weekday % 7],
           kMonths[(now.month + 11) % 12], now.day, now.hour, now.minute, now.second, now.year);
}

void LogCall(const char* operation, const void* whole_block, const char* source_file, int line,
             size_t size) {
  const char* path = platform::EnvLookup("VMPMEMLOG");
  if (!path) return;
  FILE* log = fopen(path, "a");
  if (!log) return;
  char when[32];
  CalendarText(when, sizeof when);
  fprintf(log, "%8.8s %08lx: %08lx %13.13s %8.8s %.4d %08lx %26.26s", operation,
          static_cast<unsigned long>(platform::CurrentProcessId()),
          static_cast<unsigned long>(reinterpret_cast<uintptr_t>(whole_block)),
          static_cast<const char*>(whole_block), LastComponent(source_file), line,
          static_cast<unsigned long>(size), when);
  fclose(log);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

void* Allocate(size_t size) {
  return calloc(1, size ? size : 1);
}

void* Reallocate(void* block, size_t size) {
  if (!block) return Allocate(size);
  return realloc(block, size ? size : 1);
}

void Release(void* block) {
  free(block);
}

void* Alloc(size_t size, const char* source_file, int line) {
  if (size > SIZE_MAX - kTagSize) return nullptr;
  char* whole = static_cast<char*>(calloc(1, size + kTagSize));
  if (!whole) return nullptr;
  WriteTag(whole, source_file, line);
  LogCall("Alloc", whole, source_file, line, size + kTagSize);
  return whole + kTagSize;
}

void* ReAlloc(void* block, size_t size, const char* source_file, int line) {
  if (!block) return Alloc(size, source_file, line);
  if (size > SIZE_MAX - kTagSize) return nullptr;
  char* whole = static_cast<char*>(realloc(static_cast<char*>(block) - kTagSize, size + kTagSize));
  if (!whole) return nullptr;  // the old block stays as it was
  LogCall("ReAlloc", whole, source_file, line, size + kTagSize);
  return whole + kTagSize;
}

void Free(void* block, const char* source_file, int line) {
  if (!block) return;
  char* whole = static_cast<char*>(block) - kTagSize;
  LogCall("Free", whole, source_file, line, 0);
  free(whole);
}

const char* SysErrText(uint32_t error) {
  static char text[16 + kSysErrTextMax + 1];
  snprintf(text, sizeof text, "0x%.4x ", error);
  uint32_t prefix = SafeStrLen(text);
  platform::SystemErrorMessage(error, text + prefix, kSysErrTextMax + 1);
  uint32_t length = SafeStrLen(text);
  while (length > prefix && (text[length - 1] == '\r' || text[length - 1] == '\n')) {
    text[--length] = '\0';
  }
  return text;
}

void PutU32BE(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value >> 24);
  out[1] = static_cast<uint8_t>(value >> 16);
  out[2] = static_cast<uint8_t>(value >> 8);
  out[3] = static_cast<uint8_t>(value);
}

void PutU16BE(uint8_t* out, uint16_t value) {
  out[0] = static_cast<uint8_t>(value >> 8);
  out[1] = static_cast<uint8_t>(value);
}

uint32_t GetU32BE(const uint8_t* in) {
  return (static_cast<uint32_t>(in[0]) << 24) | (static_cast<uint32_t>(in[1]) << 16) |
         (static_cast<uint32_t>(in[2]) << 8) | in[3];
}

uint16_t GetU16BE(const uint8_t* in) {
  return static_cast<uint16_t>((in[0] << 8) | in[1]);
}

uint32_t BytesToHex(const uint8_t* bytes, uint32_t count, char* text, uint32_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  if (!text || size == 0 || (!bytes && count > 0)) return kErrIllegalArgument;
  text[0] = '\0';
  // Two characters per byte and the terminator.
  if (count > (size - 1) / 2) return kErrBufferTooSmall;
  for (uint32_t i = 0; i < count; ++i) {
    text[2 * i] = kDigits[bytes[i] >> 4];
    text[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  text[2 * count] = '\0';
  return kResultOk;
}

uint32_t HexToBytes(const char* text, uint8_t* out, uint32_t size, uint32_t* count) {
  if (count) *count = 0;
  if (!text || !count || (!out && size > 0)) return kErrIllegalArgument;
  uint32_t length = SafeStrLen(text);
  if (length % 2 != 0) return kErrParameterBase;
  if (length / 2 > size) return kErrBufferTooSmall;
  for (uint32_t i = 0; i < length / 2; ++i) {
    int high = HexValue(text[2 * i]);
    int low = HexValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return kErrParameterBase;  // not a hexadecimal text
    out[i] = static_cast<uint8_t>((high << 4) | low);
  }
  *count = length / 2;
  return kResultOk;
}

}  // namespace mem
