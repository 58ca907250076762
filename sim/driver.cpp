// SPDX-License-Identifier: BSD-3-Clause
// The simulated reader driver: the reader maker's vendor control codes (read a key, switch keypad
// input, show a text, prepare or give back the display, the request before a direct connection
// is closed) and the PIN-pad features of PC/SC part 10 (pinpad.cpp). The codes are dispatched
// through one table.
#include <cstring>

#include "sim/state.h"

namespace sim {
namespace internal {
namespace {

using pcsc::Result;

constexpr uint32_t kReadKeyInputLength = 5;
constexpr uint32_t kShowTextInputLength = 85;
constexpr uint32_t kShowTextOffset = 4;
constexpr uint32_t kShowTextLength = 81;
constexpr uint8_t kNoKey = 0;

using Request = ControlRequest;

// What a reader must have for a code to work.
enum class Needs { kNothing, kDisplay, kKeypad, kPinPad };

using Handler = Result (*)(Reader&, const Request&);

// Input: time-out in ms (16-bit little-endian), echo mode, cursor column, 0x01. Output: one key.
Result ReadKey(Reader& reader, const Request& request) {
  if (request.input_length != kReadKeyInputLength) return pcsc::kInvalidParameter;
  if (request.output_length < 1) return pcsc::kInsufficientBuffer;
  uint8_t key = kNoKey;
  if (!reader.keys.empty()) {
    key = reader.keys.front();
    reader.keys.pop_front();
  }
  // No key (the queue is empty, or a queued 0): the request waits out its time-out.
  if (key == kNoKey) {
    const uint32_t timeout_ms = request.input[0] | static_cast<uint32_t>(request.input[1]) << 8;
    AdvanceTo(GetState().now_ms + timeout_ms);
  }
  request.output[0] = key;
  *request.returned = 1;
  return pcsc::kSuccess;
}

// Input: 0x01 keypad input on, 0x00 off.
Result KeypadInput(Reader& reader, const Request& request) {
  if (request.input_length != 1 || request.input[0] > 1) return pcsc::kInvalidParameter;
  reader.keypad_on = request.input[0] == 1;
  return pcsc::kSuccess;
}

// Input: display time (16-bit little-endian), 0x00, line index 0 or 1, 81 text bytes.
Result ShowText(Reader& reader, const Request& request) {
  if (request.input_length != kShowTextInputLength || request.input[3] > 1) {
    return pcsc::kInvalidParameter;
  }
  const char* text = reinterpret_cast<const char*>(request.input + kShowTextOffset);
  reader.lines[request.input[3]].assign(text, strnlen(text, kShowTextLength));
  return pcsc::kSuccess;
}

// Input: 0x01 before a text is shown; 0x00 gives the display back to the reader, which clears it.
Result PrepareDisplay(Reader& reader, const Request& request) {
  if (request.input_length != 1 || request.input[0] > 1) return pcsc::kInvalidParameter;
  reader.display_prepared = request.input[0] == 1;
  if (!reader.display_prepared) reader.lines = {};
  return pcsc::kSuccess;
}

Result BeforeDirectClose(Reader&, const Request&) {
  return pcsc::kSuccess;
}

struct ControlEntry {
  uint32_t code;
  Needs needs;
  Handler handler;
};

constexpr ControlEntry kControls[] = {
    {pcsc::kCtlReadKey, Needs::kKeypad, ReadKey},
    {pcsc::kCtlKeypadInput, Needs::kKeypad, KeypadInput},
    {pcsc::kCtlShowText, Needs::kDisplay, ShowText},
    {pcsc::kCtlPrepareDisplay, Needs::kDisplay, PrepareDisplay},
    {pcsc::kCtlBeforeDirectClose, Needs::kNothing, BeforeDirectClose},
    {kCtlGetFeatureRequest, Needs::kNothing, FeatureRequest},
    {kCtlVerifyPinDirect, Needs::kPinPad, VerifyPinDirect},
    {kCtlModifyPinDirect, Needs::kPinPad, ModifyPinDirect},
};

bool HasWhatItNeeds(const Reader& reader, Needs needs) {
  switch (needs) {
    case Needs::kNothing:
      return true;
    case Needs::kDisplay:
      return reader.spec.display;
    case Needs::kKeypad:
      return reader.spec.keypad;
    case Needs::kPinPad:
      return reader.spec.pin_pad;
  }
  return false;
}

}  // namespace

Result DriverControl(Reader& reader, uint32_t code, const uint8_t* input, uint32_t input_length,
                     uint8_t* output, uint32_t output_length, uint32_t* returned) {
  *returned = 0;
  for (const ControlEntry& entry : kControls) {
    if (entry.code != code) continue;
    if (!HasWhatItNeeds(reader, entry.needs)) return pcsc::kUnsupportedFeature;
    return entry.handler(reader, Request{input, input_length, output, output_length, returned});
  }
  return pcsc::kUnsupportedFeature;
}

}  // namespace internal
}  // namespace sim
