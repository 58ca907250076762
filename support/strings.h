// SPDX-License-Identifier: BSD-3-Clause
// Bounded string and memory helpers. Every helper that writes takes the capacity of its
// destination in bytes (terminator included for strings) and never writes past it. Strings are
// 8-bit and NUL-terminated. A null pointer or a capacity of 0 is answered by doing nothing.
#pragma once

#include <cstdint>

constexpr uint32_t kNotFound = 0xFFFFFFFF;

uint32_t SafeStrLen(const char* text);
void SafeStrCopy(char* dest, uint32_t size, const char* src);
char* SafeStrCopyN(char* dest, uint32_t size, const char* src, uint32_t n);
char* SafeStrAppend(char* dest, uint32_t size, const char* src);
char* SafeStrAppendN(char* dest, uint32_t size, const char* src, uint32_t n);
int SafeStrCompare(const char* a, const char* b);
int SafeStrCompareN(const char* a, const char* b, uint32_t n);
// Index of the n-th occurrence of `ch` within the first `limit` characters; mode 0 compares
// exactly, mode 1 ignores letter case. kNotFound for n = 0, another mode or too few occurrences.
uint32_t SafeStrFindNth(const char* text, uint32_t limit, char ch, uint32_t n, uint32_t mode);
// Digits of `value` in `radix` (2..36; larger radices count as 36). A buffer too small for all
// digits, or a radix below 2, gives an empty string.
uint32_t SafeIntToStr(uint32_t value, char* buffer, uint32_t size, uint32_t radix);
void SafeMemSet(void* dest, uint32_t size, uint8_t byte, uint32_t count);
void SafeMemCopy(void* dest, uint32_t size, const void* src, uint32_t count);
void SafeMemMove(void* dest, uint32_t size, const void* src, uint32_t count);
int32_t SafeMemCompare(const void* a, const void* b, uint32_t n);

// Upper-cases a text in place in code page 437: "a" to "z" and the lower-case letters with
// diacritics that the configuration files and command lines meet (u-umlaut, e-acute, ...).
void StrUpperCp437(char* text);
