// SPDX-License-Identifier: BSD-3-Clause
// INPUT and OUTPUT on readers with a display and a keypad, through the vendor control codes of
// the reader's driver. Each command reaches the reader over the card connection the terminal
// keeps, or over a connection of its own (shared when a card answers, else direct) that it
// gives back at its end, followed by a pause that lets the reader settle.
#include "ctapi/display.h"

#include <cstring>
#include <string>

#include "ctapi/card_link.h"
#include "ctapi/result.h"
#include "ctapi/slots.h"
#include "pcsc/pcsc.h"

namespace ctapi {
namespace {

constexpr uint32_t kAreaSize = 81;
constexpr uint32_t kLineSize = 40;
constexpr uint32_t kLineChars = 39;
constexpr uint32_t kRequestSize = 85;
constexpr uint32_t kMaxText = 255;
constexpr uint32_t kFirstKeySeconds = 15;
constexpr uint32_t kNextKeySeconds = 5;
constexpr uint8_t kTagText = 0x50;
constexpr uint8_t kTagTime = 0x80;
constexpr uint8_t kKeyNone = 0;
constexpr uint8_t kKeyConfirm = 13;
constexpr uint8_t kKeyCancel = 27;

constexpr char kPrompt[] = "Bitte Daten-\neingabe";
constexpr char kConfirm[] = "Bitte Eingabe\nbestaetigen";
constexpr char kCancelled[] = "Abbruch";

constexpr StatusWord kSwCancelled = {0x64, 0x01};
constexpr StatusWord kSwNotShown = {0x64, 0x10};

// The data objects of INPUT and OUTPUT: a text (0x50) and a time in seconds (0x80, at most 4
// bytes, least significant first). An object whose value runs past the data field is not taken.
struct Objects {
  bool has_text = false;
  std::string text;
  bool has_seconds = false;
  uint32_t seconds = 0;
};

Objects ReadObjects(const CommandApdu& command) {
  Objects objects;
  for (uint32_t at = 0; at + 1 < command.lc;) {
    const uint8_t tag = command.data[at];
    const uint32_t length = command.data[at + 1];
    const uint8_t* value = command.data + at + 2;
    if (at + 2 + length > command.lc) break;
    if (tag == kTagText) {
      uint32_t text_length = 0;
      while (text_length < length && text_length < kMaxText && value[text_length] != 0) {
        ++text_length;
      }
      objects.has_text = true;
      objects.text.assign(reinterpret_cast<const char*>(value), text_length);
    } else if (tag == kTagTime && length <= 4) {
      uint32_t seconds = 0;
      for (uint32_t i = length; i > 0; --i)
        seconds = seconds << 8 | value[i - 1];
      objects.has_seconds = true;
      objects.seconds = seconds;
    }
    at += 2 + length;
  }
  return objects;
}

// Bytes [at, at + 40) of the area become a line: zeros, then up to 39 characters of `text`,
// then spaces up to the line's last byte, which stays zero.
void PutLine(uint8_t* area, uint32_t at, const std::string& text) {
  std::memset(area + at, 0, kLineSize);
  const uint32_t length = text.size() < kLineChars ? text.size() : kLineChars;
  std::memcpy(area + at, text.data(), length);
  for (uint32_t i = length; i < kLineChars; ++i)
    area[at + i] = ' ';
}

pcsc::Result ShowRequest(pcsc::CardHandle handle, uint32_t seconds, uint8_t line,
                         const uint8_t* text, uint32_t length) {
  uint8_t request[kRequestSize];
  std::memset(request, ' ', sizeof request);
  const uint32_t tenths = seconds * 10;
  request[0] = static_cast<uint8_t>(tenths);
  request[1] = static_cast<uint8_t>(tenths >> 8);
  request[2] = 0;
  request[3] = line;
  std::memcpy(request + 4, text, length);
  uint32_t returned = 0;
  return pcsc::SCardControl(handle, pcsc::kCtlShowText, request, sizeof request, nullptr, 0,
                            &returned);
}

// Shows `first` (one line, or two split at its line feed), `second` after it when given, for
// `seconds`. True when the reader showed it.
bool Display(TerminalSlot& slot, pcsc::CardHandle handle, const std::string& first,
             const std::string* second, uint32_t seconds) {
  const uint8_t prepare = 0x01;
  uint32_t returned = 0;
  pcsc::SCardControl(handle, pcsc::kCtlPrepareDisplay, &prepare, 1, nullptr, 0, &returned);
  slot.display_mode_set = 1;

  uint8_t area[kAreaSize];
  std::memset(area, ' ', sizeof area);
  const size_t feed = first.find('\n');
  const bool two_lines = feed != std::string::npos;
  const std::string line1 = two_lines ? first.substr(0, feed) : first;
  const std::string line2 = two_lines ? first.substr(feed + 1) : std::string();
  PutLine(area, 0, line1);
  if (two_lines) {
    std::memset(area + kLineSize, 0, kLineSize);
    std::memcpy(area + kLineSize, line2.data(),
                line2.size() < kLineChars ? line2.size() : kLineChars);
  }
  if (second) {
    const std::string& shown = two_lines ? line2 : line1;
    const uint32_t m = shown.size() < kLineChars ? shown.size() : kLineChars;
    area[kLineSize + m] = ' ';
    const uint32_t start = m == 0 ? kLineSize : two_lines ? kLineSize + m + 1 : kLineSize + 1;
    const uint32_t cleared = kLineSize - m;
    std::memset(area + start, 0, start + cleared <= kAreaSize ? cleared : kAreaSize - start);
    if (two_lines) {
      const uint32_t room = kLineChars - m;
      std::memcpy(area + start, second->data(), second->size() < room ? second->size() : room);
    }
  }
  pcsc::Result result = pcsc::kSuccess;
  if (two_lines) {
    result = ShowRequest(handle, seconds, 0, area, kLineSize);
    if (result == pcsc::kSuccess)
      result = ShowRequest(handle, seconds, 1, area + kLineSize, kLineSize);
  } else {
    result = ShowRequest(handle, seconds, 0, area, kAreaSize);
  }
  return MapSCardResult(result, nullptr) == OK;
}

// One key from the keypad, or false when the request failed. The time-out travels in 16 bits of
// milliseconds, so times above 65 s wrap.
bool ReadKey(pcsc::CardHandle handle, uint8_t echo, uint32_t column, uint32_t seconds,
             uint8_t* key) {
  const uint32_t ms = seconds * 1000;
  const uint8_t request[5] = {static_cast<uint8_t>(ms), static_cast<uint8_t>(ms >> 8), echo,
                              static_cast<uint8_t>(column), 0x01};
  uint32_t returned = 0;
  const pcsc::Result result =
      pcsc::SCardControl(handle, pcsc::kCtlReadKey, request, sizeof request, key, 1, &returned);
  return MapSCardResult(result, nullptr) == OK && returned == 1;
}

bool IsInputKey(uint8_t key) {
  return (key >= '0' && key <= '9') || key == '*' || key == ',';
}

// The dialogue of INPUT once the connection stands and the keypad is on.
int8_t KeyDialogue(TerminalSlot& slot, pcsc::CardHandle handle, const CommandApdu& command,
                   uint8_t echo, const std::string& prompt, uint32_t seconds, std::string* keyed,
                   uint16_t* lenr, uint8_t* response) {
  const std::string nothing;
  auto cancel = [&](StatusWord sw) {
    Display(slot, handle, kCancelled, &nothing, 0);
    return StatusOnly(lenr, response, sw);
  };
  const size_t feed = prompt.find('\n');
  const uint32_t base = feed == std::string::npos ? 0 : 1 + (prompt.size() - feed - 1);
  for (;;) {
    uint8_t key = kKeyNone;
    if (!ReadKey(handle, echo, base + keyed->size(), seconds, &key)) {
      return StatusOnly(lenr, response, kSwExecutionError);
    }
    seconds = kNextKeySeconds;
    if (key == kKeyNone && !keyed->empty() && command.le == 0) {
      // A pause after some input: ask for confirmation, showing what was keyed as the echo mode
      // allows.
      const std::string echoed = echo == 0   ? *keyed
                                 : echo == 1 ? std::string(keyed->size(), '*')
                                             : std::string();
      if (!Display(slot, handle, kConfirm, &echoed, 0) ||
          !ReadKey(handle, echo, base + keyed->size(), kNextKeySeconds, &key)) {
        return cancel(kSwExecutionError);
      }
    }
    if (key == kKeyNone) return cancel(kSwExecutionError);
    if (key == kKeyCancel) return cancel(kSwCancelled);
    if (key == kKeyConfirm) {
      if (keyed->empty()) return StatusOnly(lenr, response, kSwSuccess);
      break;
    }
    if (IsInputKey(key) && keyed->size() < kMaxText) keyed->push_back(static_cast<char>(key));
    if (command.le != 0 && keyed->size() == command.le) break;
  }
  // The keyed text and its status word must fit the caller's buffer.
  if (*lenr < keyed->size() + 2) return StatusOnly(lenr, response, kSwExecutionError, ERR_MEMORY);
  std::memcpy(response, keyed->data(), keyed->size());
  PutStatusWord(response, static_cast<uint16_t>(keyed->size()), lenr, kSwSuccess);
  return OK;
}

int8_t InputBody(TerminalSlot& slot, uint16_t* lenr, uint8_t* response,
                 const CommandApdu& command) {
  ReaderLink link;
  const pcsc::Result connected = ConnectToReader(slot, &link);
  int8_t code = OK;
  bool keypad_on = false;
  std::string keyed;
  StatusWord sw{};
  const uint8_t echo_by_p2[] = {2, 0, 1};
  if (connected != pcsc::kSuccess) {
    MapSCardResult(connected, &sw);
    code = StatusOnly(lenr, response, sw);
  } else if ((command.p2 & 0x0F) > 2) {
    code = StatusOnly(lenr, response, kSwWrongParameters);
  } else {
    const uint8_t echo = echo_by_p2[command.p2 & 0x0F];
    const Objects objects = ReadObjects(command);
    const std::string prompt = objects.has_text ? objects.text : kPrompt;
    const uint32_t seconds = objects.has_seconds ? objects.seconds : kFirstKeySeconds;
    const std::string nothing;
    const uint8_t on = 0x01;
    uint32_t returned = 0;
    pcsc::Result switched = pcsc::kSuccess;
    if (!Display(slot, link.handle, prompt, &nothing, 0)) {
      code = StatusOnly(lenr, response, kSwExecutionError);
    } else if ((switched = pcsc::SCardControl(link.handle, pcsc::kCtlKeypadInput, &on, 1, nullptr,
                                              0, &returned)) != pcsc::kSuccess) {
      MapSCardResult(switched, &sw);
      code = StatusOnly(lenr, response, sw);
    } else {
      keypad_on = true;
      code = KeyDialogue(slot, link.handle, command, echo, prompt, seconds, &keyed, lenr, response);
    }
  }
  if (keypad_on) {
    const uint8_t off = 0x00;
    uint32_t returned = 0;
    pcsc::SCardControl(link.handle, pcsc::kCtlKeypadInput, &off, 1, nullptr, 0, &returned);
  }
  ReleaseReaderLink(link);
  std::fill(keyed.begin(), keyed.end(), '\0');  // the keyed text does not outlive the command
  slot.display_used = 1;
  return code;
}

int8_t OutputBody(TerminalSlot& slot, uint16_t* lenr, uint8_t* response,
                  const CommandApdu& command) {
  ReaderLink link;
  const pcsc::Result connected = ConnectToReader(slot, &link);
  int8_t code = OK;
  if (connected != pcsc::kSuccess) {
    StatusWord sw{};
    MapSCardResult(connected, &sw);
    code = StatusOnly(lenr, response, sw);
  } else if (command.le != 0) {
    code = StatusOnly(lenr, response, kSwWrongLength);
  } else {
    const Objects objects = ReadObjects(command);
    const bool shown = Display(slot, link.handle, objects.text, nullptr, objects.seconds);
    code = StatusOnly(lenr, response, shown ? kSwSuccess : kSwNotShown);
  }
  ReleaseReaderLink(link);
  slot.display_used = 1;
  return code;
}

}  // namespace

int8_t Input(int slot, uint8_t* sad, uint8_t* dad, uint16_t* lenr, uint8_t* response,
             const CommandApdu& command) {
  return RunHandler(slot, sad, dad, lenr, response, command, InputBody);
}

int8_t Output(int slot, uint8_t* sad, uint8_t* dad, uint16_t* lenr, uint8_t* response,
              const CommandApdu& command) {
  return RunHandler(slot, sad, dad, lenr, response, command, OutputBody);
}

}  // namespace ctapi
