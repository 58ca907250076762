// SPDX-License-Identifier: BSD-3-Clause
// kv-vicc's side of the vpcd link, apart from the sockets: the frames vpcd sends (a two-byte
// big-endian length and the payload) read from a link, each answered on the card, and the frames
// sent back. A one-byte payload is a control byte (00 power off, 01 power on, 02 reset, 04 get
// ATR - only the last one is answered, with the ATR); a longer payload is a command APDU,
// answered with exactly one frame holding the response; an empty frame is passed over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/cards/card.h"

namespace vicc {

using cards::Bytes;

// vpcd's control bytes.
constexpr uint8_t kCtrlPowerOff = 0x00;
constexpr uint8_t kCtrlPowerOn = 0x01;
constexpr uint8_t kCtrlReset = 0x02;
constexpr uint8_t kCtrlGetAtr = 0x04;

constexpr size_t kMaxFrame = 0xFFFF;  // the longest payload a frame's length can name

// How a wait or a transfer ended.
enum class Outcome { kDone, kSignal, kClosed, kTimeout, kError };

// Where frames come from and go to: the socket to vpcd, or bytes in memory for tests.
class Link {
 public:
  virtual ~Link() = default;
  // Reads exactly `length` bytes into `buffer`; anything but kDone ends the service.
  virtual Outcome Read(uint8_t* buffer, size_t length) = 0;
  // Sends one whole frame (length and payload).
  virtual Outcome Send(const Bytes& frame) = 0;
};

// The frame for `payload`; false (and no frame) when the payload is too long for one.
bool MakeFrame(const Bytes& payload, Bytes* frame);

// Answers the frames read from `link` on `card` until the link ends or fails, which is the
// outcome returned. `verbose` logs control bytes (but the frequent get ATR) and APDUs on stderr.
Outcome Serve(Link& link, cards::Card& card, bool verbose);

// The bytes as hex digits without separators.
std::string Hex(const uint8_t* data, size_t length);

}  // namespace vicc
