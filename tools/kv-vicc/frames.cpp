// SPDX-License-Identifier: BSD-3-Clause
// kv-vicc's frames: read from the link, answered on the card, sent back.
#include "tools/kv-vicc/frames.h"

#include <cstdio>

namespace vicc {

bool MakeFrame(const Bytes& payload, Bytes* frame) {
  frame->clear();
  if (payload.size() > kMaxFrame) return false;
  frame->reserve(payload.size() + 2);
  frame->push_back(static_cast<uint8_t>(payload.size() >> 8));
  frame->push_back(static_cast<uint8_t>(payload.size() & 0xFF));
  frame->insert(frame->end(), payload.begin(), payload.end());
  return true;
}

namespace {

Outcome SendPayload(Link& link, const Bytes& payload) {
  Bytes frame;
  if (!MakeFrame(payload, &frame)) return Outcome::kError;
  return link.Send(frame);
}

}  // namespace

Outcome Serve(Link& link, cards::Card& card, bool verbose) {
  Bytes payload;
  for (;;) {
    uint8_t header[2];
    Outcome outcome = link.Read(header, sizeof header);
    if (outcome != Outcome::kDone) return outcome;
    payload.resize(static_cast<size_t>(header[0] << 8 | header[1]));
    if (payload.empty()) continue;
    outcome = link.Read(payload.data(), payload.size());
    if (outcome != Outcome::kDone) return outcome;
    if (payload.size() == 1) {
      // vpcd asks for the ATR at every presence poll (400 ms); only the rest is worth a line.
      if (verbose && payload[0] != kCtrlGetAtr) {
        fprintf(stderr, "kv-vicc: control %02X\n", payload[0]);
      }
      switch (payload[0]) {
        case kCtrlPowerOn:
        case kCtrlReset:
          card.Reset();
          break;
        case kCtrlGetAtr:
          outcome = SendPayload(link, card.Atr());
          break;
        case kCtrlPowerOff:
        default:
          break;
      }
    } else {
      const Bytes response = card.Process(payload);
      if (verbose) {
        fprintf(stderr, "kv-vicc: C-APDU %s R-APDU %s\n",
                Hex(payload.data(), payload.size()).c_str(),
                Hex(response.data(), response.size()).c_str());
      }
      outcome = SendPayload(link, response);
    }
    if (outcome != Outcome::kDone) return outcome;
  }
}

std::string Hex(const uint8_t* data, size_t length) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    text += kDigits[data[i] >> 4];
    text += kDigits[data[i] & 0xF];
  }
  return text;
}

}  // namespace vicc
