// SPDX-License-Identifier: BSD-3-Clause
// Memory functions: zero-filled allocation, tagged allocation with the allocation log (one line
// per call in the file named by VMPMEMLOG), and the small conversions of the configuration code.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mem {

constexpr uint32_t kTagSize = 16;

// Plain functions: zero-filled blocks; null when the allocation fails.
void* Allocate(size_t size);
void* Reallocate(void* block, size_t size);
void Release(void* block);

// Tagged functions: each block carries the file and line of its allocation in front of the
// caller's bytes, and each call is logged when VMPMEMLOG names a file.
void* Alloc(size_t size, const char* source_file, int line);
void* ReAlloc(void* block, size_t size, const char* source_file, int line);
void Free(void* block, const char* source_file, int line);

// "0x%04.4x " and the system's English text for `error`; the text lives in one static buffer
// that the next call overwrites.
const char* SysErrText(uint32_t error);

void PutU32BE(uint8_t* out, uint32_t value);
void PutU16BE(uint8_t* out, uint16_t value);
uint32_t GetU32BE(const uint8_t* in);
uint16_t GetU16BE(const uint8_t* in);

// Lower-case hexadecimal text of `count` bytes into `text` of `size` bytes (terminated).
uint32_t BytesToHex(const uint8_t* bytes, uint32_t count, char* text, uint32_t size);
// Bytes of a hexadecimal text (either letter case) into `out` of `size` bytes; *count tells how
// many were written.
uint32_t HexToBytes(const char* text, uint8_t* out, uint32_t size, uint32_t* count);

}  // namespace mem

#define KV_ALLOC(size) mem::Alloc((size), __FILE__, __LINE__)
#define KV_REALLOC(block, size) mem::ReAlloc((block), (size), __FILE__, __LINE__)
#define KV_FREE(block) mem::Free((block), __FILE__, __LINE__)
