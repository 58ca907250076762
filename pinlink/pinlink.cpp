// SPDX-License-Identifier: BSD-3-Clause
// pinlink: secure PIN entry on the PIN pad of a PC/SC reader, as PC/SC part 10 defines it. The
// reader collects the PIN and builds the card command itself; this library only tells it how:
//
// 1. The CT-BCS data objects of the command are read: 0x52 the command to perform (a control
//    byte: bits 7-4 the PIN length, 0 for variable, bits 1-0 the coding, 0 BCD, 1 ASCII; the
//    insertion position of the PIN, for a modification of the old and the new PIN, counted from
//    1 at the CLA byte, so 6 is the first data byte; then the card command template), 0x80 the
//    time-out in seconds, 0x50 a display text (accepted; the reader shows its own prompts).
// 2. The reader is asked for its features (CM_IOCTL_GET_FEATURE_REQUEST, the platform control
//    code 3400); the answer is a list of tag, length 4, control code (big-endian).
// 3. PIN_VERIFY_STRUCTURE or PIN_MODIFY_STRUCTURE (laid out byte by byte: packed, multi-byte
//    fields little-endian) goes to the code of FEATURE_VERIFY_PIN_DIRECT (0x06) or
//    FEATURE_MODIFY_PIN_DIRECT (0x07); the reader answers the card's response, or its own
//    64 00 (time-out), 64 01 (cancelled), 64 02 (the new PINs differ).
//
// Processor cards get the template as it stands. Memory cards get the reader's storage-card
// command instead, with the template's placeholders: PRESENT CODE (FF 20 00 00 Lc code) or
// CHANGE CODE with old and new code (FF D2 00 00 Lc old new), the card type selected just
// before (FF A4 00 00 01 TT) when the connection reaches the card.
//
// The choices:
// - A modification with new PIN position 0 puts the new PIN in the second half of the data.
// - Without a PIN length the PIN may have 1 digit up to as many as its placeholders hold.
// - Processor cards: a command that cannot be built answers 69 00, a reader without the feature
//   6D 00, both with result 0; a failed PC/SC call gives its result. Memory cards: the same
//   cases give PINLINK_INVALID_VALUE and SCARD_E_UNSUPPORTED_FEATURE.
// - No state is kept between calls, so no lock is needed.
#include "pinlink/pinlink.h"

#include <cstring>

#include "pcsc/features.h"
#include "pcsc/pcsc.h"

namespace {

constexpr uint8_t kTagCommand = 0x52;
constexpr uint8_t kTagDisplay = 0x50;
constexpr uint8_t kTagTimeout = 0x80;

using pcsc::kFeatureModifyPinDirect;
using pcsc::kFeatureVerifyPinDirect;

constexpr pcsc::Result kNotTransacted = 0x80100016;

constexpr uint32_t kApduHeader = 5;  // CLA INS P1 P2 Lc
constexpr uint32_t kMaxApdu = kApduHeader + 255 + 1;
constexpr uint32_t kVerifyHeader = 19;  // PIN_VERIFY_STRUCTURE up to abData
constexpr uint32_t kModifyHeader = 24;  // PIN_MODIFY_STRUCTURE up to abData
constexpr uint32_t kFirstDataPosition = 6;
constexpr uint32_t kMaxFormatPosition = 15;
constexpr uint32_t kMaxBlockSize = 15;
constexpr uint32_t kFeatureListSize = 256;
constexpr uint32_t kReaderAnswerSize = 258;

constexpr uint8_t kCodingBcd = 0;
constexpr uint8_t kCodingAscii = 1;
// bmFormatString: unit bytes, and the PIN formats of part 10.
constexpr uint8_t kFormatUnitBytes = 0x80;
constexpr uint8_t kFormatBcd = 0x01;
constexpr uint8_t kFormatAscii = 0x02;
constexpr uint8_t kValidationKey = 0x02;
constexpr uint16_t kLanguageEnglish = 0x0409;

constexpr uint8_t kInsVerify = 0x20;
constexpr uint8_t kInsChangeReferenceData = 0x24;
constexpr uint8_t kMemoryClass = 0xFF;
constexpr uint8_t kInsSelectType = 0xA4;
constexpr uint8_t kInsPresentCode = 0x20;
constexpr uint8_t kInsChangeCode = 0xD2;

const uint8_t kSwInvalid[] = {0x69, 0x00};
const uint8_t kSwNoFeature[] = {0x6D, 0x00};

// The two memory-card families: their code length and the reader's card type.
struct Family {
  uint8_t family;
  uint8_t code_length;
  uint8_t card_type;
};
constexpr Family kFamilies[] = {
    {0xA2, 3, 0x06},
    {0x92, 2, 0x05},
};

// The reader's answers to a memory-card command and what the caller gets for them.
struct StatusWordEntry {
  uint16_t sw;
  uint16_t mask;
  uint32_t status;
};
constexpr StatusWordEntry kMemoryStatuses[] = {
    {0x9000, 0xFFFF, 0},
    {0x63C0, 0xFFF0, PINLINK_WRONG_PIN},
    {0x6983, 0xFFFF, PINLINK_PIN_BLOCKED},
    {0x6400, 0xFFFF, pcsc::kTimeout},
    {0x6401, 0xFFFF, PINLINK_CANCELLED},
    {0x6402, 0xFFFF, PINLINK_NEW_PINS_DIFFER},
};

enum class Kind { kVerify, kModify };

// The PIN entry the command asks for, with the card command it goes into. Offsets are in the
// command's data field; a block is the placeholder bytes of one PIN.
struct PinRequest {
  uint8_t pin_length;  // 0: variable
  uint8_t coding;      // kCodingBcd or kCodingAscii
  bool ask_old;        // modification: the current PIN is entered too
  uint32_t old_offset;
  uint32_t new_offset;  // the PIN of a verification is here as well
  uint32_t block_size;
  uint8_t timeout_s;
  uint8_t apdu[kMaxApdu];
  uint32_t apdu_length;
};

// The data objects of the CT-BCS command.
struct Objects {
  const uint8_t* command;  // value of 0x52, nullptr when absent
  uint32_t command_length;
  uint8_t timeout_s;
};

bool ReadObjects(const uint8_t* data, uint32_t length, Objects* objects) {
  *objects = Objects{nullptr, 0, 0};
  for (uint32_t at = 0; at < length;) {
    if (length - at < 2) return false;
    const uint8_t tag = data[at];
    const uint32_t value_length = data[at + 1];
    if (length - at - 2 < value_length) return false;
    const uint8_t* value = data + at + 2;
    if (tag == kTagCommand && objects->command == nullptr) {
      objects->command = value;
      objects->command_length = value_length;
    } else if (tag == kTagTimeout) {
      if (value_length != 1) return false;
      objects->timeout_s = value[0];
    } else if (tag == kTagDisplay) {
      // The structures carry no text of their own: the reader's own prompts serve.
    }
    at += 2 + value_length;
  }
  return objects->command != nullptr;
}

// The data offset of insertion position `position`; false when it is not in the data field.
bool DataOffset(uint32_t position, uint32_t lc, uint32_t* offset) {
  if (position < kFirstDataPosition || position - kFirstDataPosition >= lc) return false;
  *offset = position - kFirstDataPosition;
  return true;
}

uint32_t Capacity(const PinRequest& request, uint32_t block) {
  return request.coding == kCodingBcd ? 2 * block : block;
}

// Reads the 0x52 object (and the time-out) into *request; false when it is malformed.
bool ReadRequest(Kind kind, const uint8_t* data, uint32_t length, PinRequest* request) {
  Objects objects{};
  if (!ReadObjects(data, length, &objects)) return false;
  const uint8_t* value = objects.command;
  const uint32_t positions = kind == Kind::kVerify ? 1 : 2;
  if (objects.command_length < 1 + positions + kApduHeader) return false;
  *request = PinRequest{};
  request->timeout_s = objects.timeout_s;
  request->pin_length = value[0] >> 4;
  request->coding = value[0] & 0x03;
  if (request->coding != kCodingBcd && request->coding != kCodingAscii) return false;
  const uint8_t* apdu = value + 1 + positions;
  const uint32_t apdu_length = objects.command_length - 1 - positions;
  const uint32_t lc = apdu[4];
  if (lc == 0 || (apdu_length != kApduHeader + lc && apdu_length != kApduHeader + lc + 1)) {
    return false;
  }
  memcpy(request->apdu, apdu, apdu_length);
  request->apdu_length = apdu_length;

  uint32_t old_block = 0;
  uint32_t new_block = 0;
  if (kind == Kind::kVerify) {
    if (!DataOffset(value[1], lc, &request->new_offset)) return false;
    new_block = lc - request->new_offset;
  } else {
    request->ask_old = value[1] != 0;
    if (request->ask_old && !DataOffset(value[1], lc, &request->old_offset)) return false;
    if (value[2] != 0) {
      if (!DataOffset(value[2], lc, &request->new_offset)) return false;
    } else {
      // No position for the new PIN: it takes the second half of the data.
      if (!request->ask_old || lc % 2 != 0) return false;
      request->new_offset = lc / 2;
    }
    if (request->ask_old) {
      if (request->old_offset == request->new_offset) return false;
      const bool old_first = request->old_offset < request->new_offset;
      old_block = old_first ? request->new_offset - request->old_offset : lc - request->old_offset;
      new_block = old_first ? lc - request->new_offset : request->old_offset - request->new_offset;
    } else {
      new_block = lc - request->new_offset;
    }
  }
  request->block_size = new_block;
  if (request->ask_old && old_block < request->block_size) request->block_size = old_block;
  if (request->block_size > kMaxBlockSize) request->block_size = kMaxBlockSize;
  if (request->new_offset > kMaxFormatPosition && kind == Kind::kVerify) return false;
  if (request->old_offset > 0xFF || request->new_offset > 0xFF) return false;
  return request->pin_length <= Capacity(*request, request->block_size);
}

void PutLe16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

void PutLe32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    at[i] = static_cast<uint8_t>(value >> (8 * i));
}

// PIN_VERIFY_STRUCTURE or PIN_MODIFY_STRUCTURE for `request`; the length in *length.
void BuildStructure(Kind kind, const PinRequest& request, uint8_t* out, uint32_t* length) {
  const uint8_t format = request.coding == kCodingBcd ? kFormatBcd : kFormatAscii;
  const uint8_t max_digits = request.pin_length != 0
                                 ? request.pin_length
                                 : static_cast<uint8_t>(Capacity(request, request.block_size));
  const uint8_t min_digits = request.pin_length != 0 ? request.pin_length : 1;
  const uint8_t block = static_cast<uint8_t>(request.block_size);
  if (kind == Kind::kVerify) {
    out[0] = request.timeout_s;  // bTimerOut
    out[1] = request.timeout_s;  // bTimerOut2
    out[2] = static_cast<uint8_t>(kFormatUnitBytes | request.new_offset << 3 | format);
    out[3] = block;       // bmPINBlockString: no PIN length field, the block's bytes
    out[4] = 0;           // bmPINLengthFormat
    out[5] = max_digits;  // wPINMaxExtraDigit: maximum (low byte), minimum (high byte)
    out[6] = min_digits;
    out[7] = kValidationKey;  // bEntryValidationCondition
    out[8] = 1;               // bNumberMessage
    PutLe16(out + 9, kLanguageEnglish);
    out[11] = 0;                      // bMsgIndex
    out[12] = out[13] = out[14] = 0;  // bTeoPrologue
    PutLe32(out + 15, request.apdu_length);
    memcpy(out + kVerifyHeader, request.apdu, request.apdu_length);
    *length = kVerifyHeader + request.apdu_length;
    return;
  }
  out[0] = request.timeout_s;
  out[1] = request.timeout_s;
  out[2] = static_cast<uint8_t>(kFormatUnitBytes | format);  // positions in the offsets below
  out[3] = block;
  out[4] = 0;
  out[5] = static_cast<uint8_t>(request.old_offset);  // bInsertionOffsetOld
  out[6] = static_cast<uint8_t>(request.new_offset);  // bInsertionOffsetNew
  out[7] = max_digits;
  out[8] = min_digits;
  out[9] = static_cast<uint8_t>(request.ask_old ? 0x03 : 0x01);  // bConfirmPIN
  out[10] = kValidationKey;
  out[11] = static_cast<uint8_t>(request.ask_old ? 3 : 2);  // bNumberMessage
  PutLe16(out + 12, kLanguageEnglish);
  out[14] = 0;  // bMsgIndex1..3: current, new, confirm
  out[15] = 1;
  out[16] = 2;
  out[17] = out[18] = out[19] = 0;
  PutLe32(out + 20, request.apdu_length);
  memcpy(out + kModifyHeader, request.apdu, request.apdu_length);
  *length = kModifyHeader + request.apdu_length;
}

// The control code of `feature` from the reader's feature list; 0 when the reader lacks it.
pcsc::Result FindFeature(uint32_t card, uint8_t feature, uint32_t* code) {
  *code = 0;
  uint8_t list[kFeatureListSize];
  uint32_t returned = 0;
  const pcsc::Result result =
      pcsc::SCardControl(card, pcsc::PlatformControlCode(pcsc::kFeatureRequestFunction), nullptr, 0,
                         list, sizeof list, &returned);
  // A reader that does not know the request has no features.
  if (result == pcsc::kUnsupportedFeature) return pcsc::kSuccess;
  if (result != pcsc::kSuccess) return result;
  if (returned > sizeof list) returned = sizeof list;
  *code = pcsc::FeatureControlCode(list, returned, feature);
  return pcsc::kSuccess;
}

// The PIN entry on the reader: the reader's answer in `answer` (*answer_length bytes). A reader
// without the feature is *missing = true with result 0.
pcsc::Result EnterPin(uint32_t card, Kind kind, const PinRequest& request, uint8_t* answer,
                      uint32_t* answer_length, bool* missing) {
  *missing = false;
  uint32_t code = 0;
  const pcsc::Result found = FindFeature(
      card, kind == Kind::kVerify ? kFeatureVerifyPinDirect : kFeatureModifyPinDirect, &code);
  if (found != pcsc::kSuccess) return found;
  if (code == 0) {
    *missing = true;
    return pcsc::kSuccess;
  }
  uint8_t structure[kModifyHeader + kMaxApdu];
  uint32_t length = 0;
  BuildStructure(kind, request, structure, &length);
  uint32_t returned = 0;
  const pcsc::Result result =
      pcsc::SCardControl(card, code, structure, length, answer, *answer_length, &returned);
  if (result != pcsc::kSuccess) return result;
  if (returned < 2 || returned > *answer_length) return kNotTransacted;
  *answer_length = returned;
  return pcsc::kSuccess;
}

// Copies `bytes` to the caller's answer; never past its capacity.
uint32_t Answer(const uint8_t* bytes, uint32_t size, uint8_t* answer, uint32_t* answer_length) {
  if (*answer_length < size) {
    *answer_length = size;
    return pcsc::kInsufficientBuffer;
  }
  memcpy(answer, bytes, size);
  *answer_length = size;
  return pcsc::kSuccess;
}

uint32_t ProcessorPin(Kind kind, uint32_t card, const uint8_t* data, uint32_t length,
                      uint8_t* answer, uint32_t* answer_length) {
  if ((data == nullptr && length > 0) || answer == nullptr || answer_length == nullptr) {
    return pcsc::kInvalidParameter;
  }
  PinRequest request;
  if (!ReadRequest(kind, data, length, &request)) {
    return Answer(kSwInvalid, sizeof kSwInvalid, answer, answer_length);
  }
  uint8_t reply[kReaderAnswerSize];
  uint32_t reply_length = sizeof reply;
  bool missing = false;
  const pcsc::Result result = EnterPin(card, kind, request, reply, &reply_length, &missing);
  if (result != pcsc::kSuccess) return result;
  if (missing) return Answer(kSwNoFeature, sizeof kSwNoFeature, answer, answer_length);
  return Answer(reply, reply_length, answer, answer_length);
}

const Family* FindFamily(uint8_t family) {
  for (const Family& entry : kFamilies) {
    if (entry.family == family) return &entry;
  }
  return nullptr;
}

// The template made into the reader's storage-card command for a code of `code_length` bytes:
// the placeholders of each PIN, cut to the code length. False when a block is too short.
bool ToMemoryCommand(Kind kind, const Family& family, PinRequest* request) {
  const uint8_t code_length = family.code_length;
  if (request->apdu[1] != (kind == Kind::kVerify ? kInsVerify : kInsChangeReferenceData)) {
    return false;
  }
  if (request->block_size < code_length) return false;
  if (request->pin_length > Capacity(*request, code_length)) return false;
  uint8_t command[kApduHeader + 2 * 3];
  const uint8_t* data = request->apdu + kApduHeader;
  command[0] = kMemoryClass;
  command[2] = 0x00;
  command[3] = 0x00;
  if (kind == Kind::kVerify) {
    command[1] = kInsPresentCode;
    command[4] = code_length;
    memcpy(command + kApduHeader, data + request->new_offset, code_length);
    request->new_offset = 0;
  } else {
    if (!request->ask_old) return false;
    command[1] = kInsChangeCode;
    command[4] = static_cast<uint8_t>(2 * code_length);
    memcpy(command + kApduHeader, data + request->old_offset, code_length);
    memcpy(command + kApduHeader + code_length, data + request->new_offset, code_length);
    request->old_offset = 0;
    request->new_offset = code_length;
  }
  request->block_size = code_length;
  request->apdu_length = kApduHeader + command[4];
  memcpy(request->apdu, command, request->apdu_length);
  return true;
}

// Selects the family's card type when the connection reaches the card (a direct connection
// without a protocol leaves that to the reader).
uint32_t SelectCardType(uint32_t card, const Family& family) {
  uint8_t value[4] = {};
  uint32_t length = sizeof value;
  pcsc::Result result = pcsc::SCardGetAttrib(card, pcsc::kAttrCurrentProtocolType, value, &length);
  if (result != pcsc::kSuccess) return result;
  uint32_t protocol = 0;
  for (uint32_t i = 0; i < length && i < sizeof value; ++i)
    protocol |= static_cast<uint32_t>(value[i]) << (8 * i);
  if (protocol == pcsc::kProtocolUndefined) return pcsc::kSuccess;
  const uint8_t select[] = {kMemoryClass, kInsSelectType, 0x00, 0x00, 0x01, family.card_type};
  const pcsc::IoRequest pci{protocol, sizeof(pcsc::IoRequest)};
  uint8_t reply[2] = {};
  uint32_t reply_length = sizeof reply;
  result = pcsc::SCardTransmit(card, &pci, select, sizeof select, nullptr, reply, &reply_length);
  if (result != pcsc::kSuccess) return result;
  if (reply_length != 2 || reply[0] != 0x90 || reply[1] != 0x00) return kNotTransacted;
  return pcsc::kSuccess;
}

uint32_t MemoryStatus(const uint8_t* reply, uint32_t length) {
  const uint16_t sw = static_cast<uint16_t>(reply[length - 2] << 8 | reply[length - 1]);
  for (const StatusWordEntry& entry : kMemoryStatuses) {
    if ((sw & entry.mask) == entry.sw) return entry.status;
  }
  return kNotTransacted;
}

uint32_t MemoryPin(Kind kind, uint32_t card, const uint8_t* data, uint32_t length, uint8_t* answer,
                   uint32_t* answer_length, uint8_t family) {
  if ((data == nullptr && length > 0) || answer == nullptr || answer_length == nullptr) {
    return pcsc::kInvalidParameter;
  }
  const Family* found = FindFamily(family);
  PinRequest request;
  if (found == nullptr || !ReadRequest(kind, data, length, &request) ||
      !ToMemoryCommand(kind, *found, &request)) {
    return PINLINK_INVALID_VALUE;
  }
  const uint32_t selected = SelectCardType(card, *found);
  if (selected != pcsc::kSuccess) return selected;
  uint8_t reply[kReaderAnswerSize];
  uint32_t reply_length = sizeof reply;
  bool missing = false;
  const pcsc::Result result = EnterPin(card, kind, request, reply, &reply_length, &missing);
  if (result != pcsc::kSuccess) return result;
  if (missing) return pcsc::kUnsupportedFeature;
  // The caller does not need the reader's answer; it gets it when it has room.
  if (*answer_length >= 2) {
    memcpy(answer, reply + reply_length - 2, 2);
    *answer_length = 2;
  } else {
    *answer_length = 0;
  }
  return MemoryStatus(reply, reply_length);
}

}  // namespace

extern "C" {

uint32_t PINLINK_CALL SCardSPEVerifyPin(uint32_t card, const uint8_t* data, uint32_t length,
                                        uint8_t* answer, uint32_t* answer_length) {
  return ProcessorPin(Kind::kVerify, card, data, length, answer, answer_length);
}

uint32_t PINLINK_CALL SCardSPEChangePin(uint32_t card, const uint8_t* data, uint32_t length,
                                        uint8_t* answer, uint32_t* answer_length) {
  return ProcessorPin(Kind::kModify, card, data, length, answer, answer_length);
}

uint32_t PINLINK_CALL MemPinVerify(uint32_t card, const uint8_t* data, uint32_t length,
                                   uint8_t* answer, uint32_t* answer_length, uint8_t family) {
  return MemoryPin(Kind::kVerify, card, data, length, answer, answer_length, family);
}

uint32_t PINLINK_CALL MemPinChange(uint32_t card, const uint8_t* data, uint32_t length,
                                   uint8_t* answer, uint32_t* answer_length, uint8_t family) {
  return MemoryPin(Kind::kModify, card, data, length, answer, answer_length, family);
}

}  // extern "C"
