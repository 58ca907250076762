// SPDX-License-Identifier: BSD-3-Clause
// CT-API return codes and status words, and the one mapping of a PC/SC result onto them that
// every command handler shares.
#pragma once

#include <cstdint>

#include "ctapi/ctapi.h"

namespace ctapi {

// SW1 SW2 answers of the terminal.
struct StatusWord {
  uint8_t sw1;
  uint8_t sw2;
};

constexpr StatusWord kSwSuccess = {0x90, 0x00};
constexpr StatusWord kSwExecutionError = {0x64, 0x00};
constexpr StatusWord kSwNoCard = {0x64, 0xA1};
constexpr StatusWord kSwCardNotActivated = {0x64, 0xA2};
constexpr StatusWord kSwWrongLength = {0x67, 0x00};
constexpr StatusWord kSwWrongParameters = {0x6A, 0x00};
constexpr StatusWord kSwUnknownInstruction = {0x6D, 0x00};
constexpr StatusWord kSwWrongClass = {0x6E, 0x00};
constexpr StatusWord kSwTransmissionError = {0x6F, 0x00};

// Turns a PC/SC result into a return code and a status word (SW1 is always 0x64).
int8_t MapSCardResult(uint32_t result, StatusWord* sw);

}  // namespace ctapi
