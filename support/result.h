// SPDX-License-Identifier: BSD-3-Clause
// Result codes of the support library and the configuration-file code: 32-bit, 0 = success.
// 0x810xxxxx parameter errors, 0x811xxxxx rights and PINs, 0x812xxxxx configuration content,
// 0x813xxxxx run-time errors, 0x81Fxxxxx file and module errors, 0x820xxxxx the file layer.
#pragma once

#include <cstdint>

constexpr uint32_t kResultOk = 0;

constexpr uint32_t kErrParameterBase = 0x81000000;  // + n: "Error in parameter n+1"
constexpr uint32_t kErrNotEnoughMemory = 0x81300002;
constexpr uint32_t kErrBufferTooSmall = 0x81300003;
constexpr uint32_t kErrIllegalArgument = 0x81300006;
constexpr uint32_t kErrGeneralFailure = 0x8130000A;
constexpr uint32_t kErrOpenFailed = 0x8130000C;  // file (or error log) could not be opened
constexpr uint32_t kErrSemaphoreInUse = 0x8130000D;

// The file layer's own codes.
constexpr uint32_t kFioCopyFailed = 0x82000003;
constexpr uint32_t kFioDeleteFailed = 0x82000005;
constexpr uint32_t kFioNoAccess = 0x82000006;
constexpr uint32_t kFioExists = 0x82000008;
constexpr uint32_t kFioTooManyOpen = 0x8200000A;
constexpr uint32_t kFioCloseFailed = 0x8200000B;
constexpr uint32_t kFioNoSpace = 0x8200000C;
constexpr uint32_t kFioBufferOverflow = 0x8200000D;
constexpr uint32_t kFioEndOfFile = 0x8200000F;
constexpr uint32_t kFioNoInfo = 0x82000010;
