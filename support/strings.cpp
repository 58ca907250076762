// SPDX-License-Identifier: BSD-3-Clause
// Bounded string and memory helpers: copies, appends, comparisons, searches and number
// formatting that take the capacity of their destination and never write past it.
#include "support/strings.h"

#include <cstring>

namespace {

constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
constexpr uint32_t kMaxRadix = 36;
// Enough for the 32 binary digits of the largest value.
constexpr uint32_t kMaxDigits = 32;

struct CasePair {
  unsigned char lower;
  unsigned char upper;
};

// Code-page-437 letters with diacritics and their upper-case forms.
constexpr CasePair kCp437Case[] = {
    {0x81, 0x9A},  // u-umlaut
    {0x82, 0x90},  // e-acute
    {0x84, 0x8E},  // a-umlaut
    {0x86, 0x8F},  // a-ring
    {0x87, 0x80},  // c-cedilla
    {0x91, 0x92},  // ae
    {0x94, 0x99},  // o-umlaut
    {0xA4, 0xA5},  // n-tilde
};

unsigned char UpperCp437(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 'a' + 'A');
  for (const CasePair& pair : kCp437Case) {
    if (pair.lower == c) return pair.upper;
  }
  return c;
}

// Length of `text`, looking at no more than `limit` bytes.
uint32_t BoundedLen(const char* text, uint32_t limit) {
  uint32_t length = 0;
  while (length < limit && text[length] != '\0')
    ++length;
  return length;
}

// Sign of the first difference between a and b (unsigned bytes) within n characters,
// stopping at the first terminator. A missing text counts as the empty one.
int CompareBounded(const char* a, const char* b, uint32_t n) {
  if (!a) a = "";
  if (!b) b = "";
  for (uint32_t i = 0; i < n; ++i) {
    unsigned char ca = static_cast<unsigned char>(a[i]);
    unsigned char cb = static_cast<unsigned char>(b[i]);
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == '\0') break;
  }
  return 0;
}

}  // namespace

uint32_t SafeStrLen(const char* text) {
  if (!text) return 0;
  return static_cast<uint32_t>(strlen(text));
}

void SafeStrCopy(char* dest, uint32_t size, const char* src) {
  SafeStrCopyN(dest, size, src, size);
}

char* SafeStrCopyN(char* dest, uint32_t size, const char* src, uint32_t n) {
  if (!dest || size == 0 || !src) return dest;
  memset(dest, 0, size);
  uint32_t count = BoundedLen(src, n < size - 1 ? n : size - 1);
  memcpy(dest, src, count);
  return dest;
}

char* SafeStrAppend(char* dest, uint32_t size, const char* src) {
  return SafeStrAppendN(dest, size, src, kNotFound);
}

char* SafeStrAppendN(char* dest, uint32_t size, const char* src, uint32_t n) {
  if (!dest || size == 0 || !src) return dest;
  uint32_t length = BoundedLen(dest, size);
  if (length >= size) return dest;
  uint32_t room = size - length - 1;
  uint32_t count = BoundedLen(src, n < room ? n : room);
  memcpy(dest + length, src, count);
  dest[length + count] = '\0';
  return dest;
}

int SafeStrCompare(const char* a, const char* b) {
  return CompareBounded(a, b, kNotFound);
}

int SafeStrCompareN(const char* a, const char* b, uint32_t n) {
  return CompareBounded(a, b, n);
}

uint32_t SafeStrFindNth(const char* text, uint32_t limit, char ch, uint32_t n, uint32_t mode) {
  if (!text || n == 0 || mode > 1) return kNotFound;
  uint32_t length = BoundedLen(text, limit);
  unsigned char wanted = static_cast<unsigned char>(ch);
  if (mode == 1) wanted = UpperCp437(wanted);
  uint32_t seen = 0;
  for (uint32_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (mode == 1) c = UpperCp437(c);
    if (c == wanted && ++seen == n) return i;
  }
  return kNotFound;
}

uint32_t SafeIntToStr(uint32_t value, char* buffer, uint32_t size, uint32_t radix) {
  if (!buffer || size == 0) return 0;
  buffer[0] = '\0';
  if (radix < 2) return 0;
  if (radix > kMaxRadix) radix = kMaxRadix;
  // The digits come out least significant first; they are laid down from the back.
  char digits[kMaxDigits];
  uint32_t start = kMaxDigits;
  do {
    digits[--start] = kDigits[value % radix];
    value /= radix;
  } while (value != 0);
  uint32_t count = kMaxDigits - start;
  // Too small for every digit and the terminator: the empty string, never a cut number.
  if (count + 1 > size) return 0;
  memcpy(buffer, digits + start, count);
  buffer[count] = '\0';
  return 0;
}

void SafeMemSet(void* dest, uint32_t size, uint8_t byte, uint32_t count) {
  if (!dest || size == 0) return;
  memset(dest, byte, count < size ? count : size);
}

void SafeMemCopy(void* dest, uint32_t size, const void* src, uint32_t count) {
  if (!dest || size == 0 || !src) return;
  memcpy(dest, src, count < size ? count : size);
}

void SafeMemMove(void* dest, uint32_t size, const void* src, uint32_t count) {
  if (!dest || size == 0 || !src) return;
  memmove(dest, src, count < size ? count : size);
}

int32_t SafeMemCompare(const void* a, const void* b, uint32_t n) {
  if (n == 0 || a == b) return 0;
  // A missing area sorts before any present one.
  if (!a) return -1;
  if (!b) return 1;
  const unsigned char* pa = static_cast<const unsigned char*>(a);
  const unsigned char* pb = static_cast<const unsigned char*>(b);
  for (uint32_t i = 0; i < n; ++i) {
    if (pa[i] != pb[i]) return static_cast<int32_t>(pa[i]) - static_cast<int32_t>(pb[i]);
  }
  return 0;
}

void StrUpperCp437(char* text) {
  if (!text) return;
  for (; *text != '\0'; ++text)
    *text = static_cast<char>(UpperCp437(static_cast<unsigned char>(*text)));
}
