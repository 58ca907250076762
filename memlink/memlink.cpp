// SPDX-License-Identifier: BSD-3-Clause
// memlink: the memory-card library. Each call becomes one or more of the reader's storage-card
// commands (class FF), sent with SCardTransmit on the caller's card handle:
//
//   FF A4 00 00 01 TT    SELECT CARD TYPE: 06 2-wire, 05 3-wire, 01/02 I2C with 1-/2-byte addresses
//   FF B0 AH AL N        READ MEMORY, N bytes from AH * 256 + AL (N = 00 means 256)
//   FF D0 AH AL N data   WRITE MEMORY (N = 00 with 256 bytes)
//   FF B2 00 00 04       READ PROTECTION BITS (2-wire)
//   FF D1 00 AA 01 VV    WRITE PROTECTION (2-wire): protect address AA, whose value is VV
//   FF B1 00 00 04       READ ERROR COUNTER (2-wire): the counter byte and three more
//   FF 20 00 00 Lc code  PRESENT CODE
//   FF D2 00 01 Lc code  CHANGE CODE (after PRESENT CODE in the same power cycle)
//
// How it goes about it:
// - Per card handle it remembers the protocol to put in the send PCI (asked once with
//   SCARD_ATTR_CURRENT_PROTOCOL_TYPE), the card type it selected and the I2C geometry of
//   MemI2CSetType, in a small table (the least recently used handle makes room).
// - The type is selected once per handle and family, and again only when the family (or the
//   I2C address width) changes: some readers power the card up on a selection, which would
//   drop a presented code. When the card loses the selection behind our back (another reset of
//   the same handle, answered 6A 81) or the protocol changed, it selects again and repeats the
//   command once.
// - A transmit that finds the card removed, or the handle or reader gone, forgets the handle; a
//   card that was reset forgets the selection (the geometry stays: it is the card's).
// - Transfers longer than 256 bytes go in several commands of at most 256 bytes. A read or
//   write that a failure stops part-way may have filled or written the chunks before it.
// - I2C reads and writes outside the geometry (address + count > size) and any range beyond
//   address 0xFFFF are refused here (0x80100016) without a command. With one-byte addresses the
//   address still goes out as AH AL: the reader turns it into the device's page bits.
// - Statuses: 90 00 success; 63 Cx wrong code; 69 83 code blocked; every other answer of the
//   card (also an answer of the wrong length) 0x80100016; a failed PC/SC call its own result.
//   A null pointer is 0x80100004 (invalid parameter); a length the card family cannot have, a
//   count above the caller's buffer size, a 3-wire write mode other than 0 and an invalid
//   geometry record are 0x80100011 (invalid value). Nothing is sent for them, and an invalid
//   geometry record leaves the previous geometry in force.
// - One lock serialises the calls of a process (the table is shared; a reader serves one
//   command at a time anyway).
#include "memlink/memlink.h"

#include <cstring>
#include <mutex>

#include "pcsc/pcsc.h"

namespace {

constexpr uint8_t kClass = 0xFF;
constexpr uint8_t kTypeTwoWire = 0x06;
constexpr uint8_t kTypeThreeWire = 0x05;
constexpr uint8_t kTypeI2cShort = 0x01;
constexpr uint8_t kTypeI2cLong = 0x02;

constexpr uint8_t kInsSelectType = 0xA4;
constexpr uint8_t kInsRead = 0xB0;
constexpr uint8_t kInsWrite = 0xD0;
constexpr uint8_t kInsReadProtection = 0xB2;
constexpr uint8_t kInsWriteProtection = 0xD1;
constexpr uint8_t kInsReadErrorCounter = 0xB1;
constexpr uint8_t kInsPresentCode = 0x20;
constexpr uint8_t kInsChangeCode = 0xD2;

constexpr uint16_t kSwTypeLost = 0x6A81;
constexpr uint32_t kChunk = 256;
constexpr uint32_t kAddressSpace = 65536;
constexpr uint32_t kTwoWireCodeLength = 3;
constexpr uint32_t kThreeWireCodeLength = 2;
constexpr uint32_t kProtectionBytes = 4;
constexpr uint8_t kI2cKind = 8;
constexpr size_t kHeader = 5;
constexpr size_t kSessions = 16;

// The card's status words and what the caller gets for them; everything else is a refusal.
struct StatusWordEntry {
  uint16_t sw;
  uint16_t mask;
  uint32_t status;
};
constexpr StatusWordEntry kStatusWords[] = {
    {0x9000, 0xFFFF, MEMLINK_OK},
    {0x63C0, 0xFFF0, MEMLINK_WRONG_PIN},
    {0x6983, 0xFFFF, MEMLINK_PIN_BLOCKED},
};

uint32_t StatusOf(uint16_t sw) {
  for (const StatusWordEntry& entry : kStatusWords) {
    if ((sw & entry.mask) == entry.sw) return entry.status;
  }
  return MEMLINK_NOT_TRANSACTED;
}

// What we know about one card handle.
struct Session {
  bool in_use;
  uint32_t card;
  uint64_t last_use;
  uint32_t protocol;  // for the send PCI; 0 = not asked yet
  uint8_t selected;   // card type selected through this handle; 0 = none
  bool has_geometry;
  uint8_t address_width;
  uint32_t memory_size;
};

struct Sessions {
  std::mutex mutex;
  Session table[kSessions];
  uint64_t clock;
};

Sessions& GetSessions() {
  static Sessions sessions;
  return sessions;
}

// The handle's session, made (in a free place or in that of the least recently used handle)
// when there is none. The caller holds the lock.
Session& Acquire(uint32_t card) {
  Sessions& sessions = GetSessions();
  Session* chosen = nullptr;
  for (Session& session : sessions.table) {
    if (session.in_use && session.card == card) chosen = &session;
  }
  if (chosen == nullptr) {
    for (Session& session : sessions.table) {
      if (chosen == nullptr || (chosen->in_use && !session.in_use) ||
          (chosen->in_use && session.in_use && session.last_use < chosen->last_use)) {
        chosen = &session;
      }
    }
    *chosen = Session{};
    chosen->in_use = true;
    chosen->card = card;
  }
  chosen->last_use = ++sessions.clock;
  return *chosen;
}

void AfterFailure(Session& session, pcsc::Result result) {
  switch (result) {
    case pcsc::kRemovedCard:
    case pcsc::kInvalidHandle:
    case pcsc::kReaderUnavailable:
      session = Session{};
      break;
    case pcsc::kCardWasReset:
    case pcsc::kProtoMismatch:
      session.selected = 0;
      session.protocol = 0;
      break;
    default:
      break;
  }
}

// One card answer: data and SW1 SW2.
struct Reply {
  uint8_t data[kChunk];
  uint32_t length;
  uint16_t sw;
};

// A command of at most kHeader + kChunk bytes.
struct Command {
  uint8_t bytes[kHeader + kChunk];
  uint32_t length;
};

Command MakeCommand(uint8_t ins, uint8_t p1, uint8_t p2, uint8_t p3, const uint8_t* data,
                    uint32_t data_length) {
  Command command{};
  command.bytes[0] = kClass;
  command.bytes[1] = ins;
  command.bytes[2] = p1;
  command.bytes[3] = p2;
  command.bytes[4] = p3;
  if (data_length > 0) memcpy(command.bytes + kHeader, data, data_length);
  command.length = static_cast<uint32_t>(kHeader) + data_length;
  return command;
}

// Sends one command. A PC/SC failure is returned as it came (and may end the session); an
// answer without a status word is a refusal.
uint32_t Exchange(Session& session, const Command& command, Reply* reply) {
  if (session.protocol == 0) {
    uint8_t value[4] = {};
    uint32_t length = sizeof value;
    const pcsc::Result result =
        pcsc::SCardGetAttrib(session.card, pcsc::kAttrCurrentProtocolType, value, &length);
    if (result != pcsc::kSuccess) {
      AfterFailure(session, result);
      return result;
    }
    uint32_t protocol = 0;
    for (uint32_t i = 0; i < length && i < sizeof value; ++i)
      protocol |= static_cast<uint32_t>(value[i]) << (8 * i);
    session.protocol = protocol;
  }
  const pcsc::IoRequest pci{session.protocol, sizeof(pcsc::IoRequest)};
  uint8_t answer[kChunk + 2];
  uint32_t answer_length = sizeof answer;
  const pcsc::Result result = pcsc::SCardTransmit(session.card, &pci, command.bytes, command.length,
                                                  nullptr, answer, &answer_length);
  if (result != pcsc::kSuccess) {
    AfterFailure(session, result);
    return result;
  }
  if (answer_length < 2 || answer_length > sizeof answer) return MEMLINK_NOT_TRANSACTED;
  reply->length = answer_length - 2;
  memcpy(reply->data, answer, reply->length);
  reply->sw = static_cast<uint16_t>(answer[answer_length - 2] << 8 | answer[answer_length - 1]);
  return MEMLINK_OK;
}

uint32_t Select(Session& session, uint8_t type) {
  Reply reply{};
  const uint32_t sent = Exchange(session, MakeCommand(kInsSelectType, 0, 0, 1, &type, 1), &reply);
  if (sent != MEMLINK_OK) return sent;
  const uint32_t status = StatusOf(reply.sw);
  session.selected = status == MEMLINK_OK ? type : 0;
  return status;
}

// One command for a card of `type`, with the type selected first when needed; the card's
// answer in *reply, the status of the whole as the result.
uint32_t Run(Session& session, uint8_t type, const Command& command, Reply* reply) {
  for (int attempt = 0;; ++attempt) {
    const bool selected_before = session.selected == type;
    if (!selected_before) {
      const uint32_t status = Select(session, type);
      if (status != MEMLINK_OK) return status;
    }
    const uint32_t sent = Exchange(session, command, reply);
    // A selection from an earlier call that the card no longer has: once more from the start.
    const bool lost =
        sent == pcsc::kProtoMismatch || (sent == MEMLINK_OK && reply->sw == kSwTypeLost);
    if (lost && selected_before && attempt == 0) {
      session.selected = 0;
      session.protocol = 0;
      continue;
    }
    if (sent != MEMLINK_OK) return sent;
    return StatusOf(reply->sw);
  }
}

// True when [address, address + count) can be addressed by AH AL.
bool Addressable(uint32_t address, uint32_t count) {
  return address <= kAddressSpace && count <= kAddressSpace - address;
}

uint32_t ReadMemory(Session& session, uint8_t type, uint32_t address, uint32_t count,
                    uint8_t* buffer) {
  if (!Addressable(address, count)) return MEMLINK_NOT_TRANSACTED;
  for (uint32_t done = 0; done < count;) {
    const uint32_t chunk = count - done < kChunk ? count - done : kChunk;
    const uint32_t at = address + done;
    const Command command =
        MakeCommand(kInsRead, static_cast<uint8_t>(at >> 8), static_cast<uint8_t>(at),
                    static_cast<uint8_t>(chunk), nullptr, 0);
    Reply reply{};
    const uint32_t status = Run(session, type, command, &reply);
    if (status != MEMLINK_OK) return status;
    if (reply.length != chunk) return MEMLINK_NOT_TRANSACTED;
    memcpy(buffer + done, reply.data, chunk);
    done += chunk;
  }
  return MEMLINK_OK;
}

uint32_t WriteMemory(Session& session, uint8_t type, uint32_t address, uint32_t count,
                     const uint8_t* data) {
  if (!Addressable(address, count)) return MEMLINK_NOT_TRANSACTED;
  for (uint32_t done = 0; done < count;) {
    const uint32_t chunk = count - done < kChunk ? count - done : kChunk;
    const uint32_t at = address + done;
    const Command command =
        MakeCommand(kInsWrite, static_cast<uint8_t>(at >> 8), static_cast<uint8_t>(at),
                    static_cast<uint8_t>(chunk), data + done, chunk);
    Reply reply{};
    const uint32_t status = Run(session, type, command, &reply);
    if (status != MEMLINK_OK) return status;
    done += chunk;
  }
  return MEMLINK_OK;
}

uint32_t PresentCode(Session& session, uint8_t type, uint32_t length, const uint8_t* code) {
  Reply reply{};
  return Run(session, type,
             MakeCommand(kInsPresentCode, 0, 0, static_cast<uint8_t>(length), code, length),
             &reply);
}

uint32_t ChangeCode(Session& session, uint8_t type, uint32_t code_length, uint32_t old_length,
                    const uint8_t* old_code, uint32_t new_length, const uint8_t* new_code) {
  if (old_code == nullptr || new_code == nullptr) return pcsc::kInvalidParameter;
  if (old_length != code_length || new_length != code_length) return pcsc::kInvalidValue;
  const uint32_t presented = PresentCode(session, type, old_length, old_code);
  if (presented != MEMLINK_OK) return presented;
  Reply reply{};
  return Run(
      session, type,
      MakeCommand(kInsChangeCode, 0, 1, static_cast<uint8_t>(new_length), new_code, new_length),
      &reply);
}

// The I2C type and the check of a range against the handle's geometry.
uint32_t I2cType(const Session& session, uint32_t address, uint32_t count, uint8_t* type) {
  if (!session.has_geometry) return MEMLINK_NOT_TRANSACTED;
  if (address > session.memory_size || count > session.memory_size - address) {
    return MEMLINK_NOT_TRANSACTED;
  }
  *type = session.address_width == 2 ? kTypeI2cLong : kTypeI2cShort;
  return MEMLINK_OK;
}

std::unique_lock<std::mutex> Lock() {
  return std::unique_lock<std::mutex>(GetSessions().mutex);
}

}  // namespace

extern "C" {

uint32_t MEMLINK_CALL Mem2WRead(uint32_t card, uint32_t count, uint8_t* buffer, uint32_t address) {
  if (buffer == nullptr) return pcsc::kInvalidParameter;
  auto lock = Lock();
  return ReadMemory(Acquire(card), kTypeTwoWire, address, count, buffer);
}

uint32_t MEMLINK_CALL Mem2WWrite(uint32_t card, uint32_t count, const uint8_t* data,
                                 uint32_t address) {
  if (data == nullptr) return pcsc::kInvalidParameter;
  auto lock = Lock();
  return WriteMemory(Acquire(card), kTypeTwoWire, address, count, data);
}

uint32_t MEMLINK_CALL Mem2WReadProtect(uint32_t card, uint32_t count, uint8_t* buffer) {
  if (buffer == nullptr) return pcsc::kInvalidParameter;
  if (count != kProtectionBytes) return pcsc::kInvalidValue;
  auto lock = Lock();
  Reply reply{};
  const uint32_t status =
      Run(Acquire(card), kTypeTwoWire,
          MakeCommand(kInsReadProtection, 0, 0, kProtectionBytes, nullptr, 0), &reply);
  if (status != MEMLINK_OK) return status;
  if (reply.length != kProtectionBytes) return MEMLINK_NOT_TRANSACTED;
  memcpy(buffer, reply.data, kProtectionBytes);
  return MEMLINK_OK;
}

uint32_t MEMLINK_CALL Mem2WWriteProtect(uint32_t card, uint8_t address, uint8_t value) {
  auto lock = Lock();
  Reply reply{};
  return Run(Acquire(card), kTypeTwoWire,
             MakeCommand(kInsWriteProtection, 0, address, 1, &value, 1), &reply);
}

uint32_t MEMLINK_CALL Mem2WVerify(uint32_t card, uint8_t length, const uint8_t* pin) {
  if (pin == nullptr) return pcsc::kInvalidParameter;
  if (length != kTwoWireCodeLength) return pcsc::kInvalidValue;
  auto lock = Lock();
  return PresentCode(Acquire(card), kTypeTwoWire, length, pin);
}

uint32_t MEMLINK_CALL Mem2WChange(uint32_t card, uint32_t old_length, const uint8_t* old_pin,
                                  uint32_t new_length, const uint8_t* new_pin) {
  auto lock = Lock();
  return ChangeCode(Acquire(card), kTypeTwoWire, kTwoWireCodeLength, old_length, old_pin,
                    new_length, new_pin);
}

uint32_t MEMLINK_CALL Mem2WReadErrorCounter(uint32_t card, uint8_t* counter) {
  if (counter == nullptr) return pcsc::kInvalidParameter;
  auto lock = Lock();
  Reply reply{};
  const uint32_t status = Run(Acquire(card), kTypeTwoWire,
                              MakeCommand(kInsReadErrorCounter, 0, 0, 4, nullptr, 0), &reply);
  if (status != MEMLINK_OK) return status;
  if (reply.length == 0) return MEMLINK_NOT_TRANSACTED;
  *counter = reply.data[0];
  return MEMLINK_OK;
}

uint32_t MEMLINK_CALL Mem3WRead(uint32_t card, uint32_t count, uint8_t* buffer, uint32_t address) {
  if (buffer == nullptr) return pcsc::kInvalidParameter;
  auto lock = Lock();
  return ReadMemory(Acquire(card), kTypeThreeWire, address, count, buffer);
}

uint32_t MEMLINK_CALL Mem3WWrite(uint32_t card, uint32_t count, const uint8_t* data,
                                 uint32_t address, uint32_t mode) {
  if (data == nullptr) return pcsc::kInvalidParameter;
  if (mode != 0) return pcsc::kInvalidValue;
  auto lock = Lock();
  return WriteMemory(Acquire(card), kTypeThreeWire, address, count, data);
}

uint32_t MEMLINK_CALL Mem3WVerify(uint32_t card, uint8_t length, const uint8_t* pin) {
  if (pin == nullptr) return pcsc::kInvalidParameter;
  if (length != kThreeWireCodeLength) return pcsc::kInvalidValue;
  auto lock = Lock();
  return PresentCode(Acquire(card), kTypeThreeWire, length, pin);
}

uint32_t MEMLINK_CALL Mem3WChange(uint32_t card, uint32_t old_length, const uint8_t* old_pin,
                                  uint32_t new_length, const uint8_t* new_pin) {
  auto lock = Lock();
  return ChangeCode(Acquire(card), kTypeThreeWire, kThreeWireCodeLength, old_length, old_pin,
                    new_length, new_pin);
}

uint32_t MEMLINK_CALL MemI2CSetType(uint32_t card, const uint8_t* type, uint32_t reserved) {
  (void)reserved;  // always 0; not looked at
  if (type == nullptr) return pcsc::kInvalidParameter;
  const uint32_t size = static_cast<uint32_t>(type[2]) | static_cast<uint32_t>(type[3]) << 8 |
                        static_cast<uint32_t>(type[4]) << 16 | static_cast<uint32_t>(type[5]) << 24;
  const bool valid =
      type[0] == kI2cKind && (type[1] == 1 || type[1] == 2) && size > 0 && size <= kAddressSpace;
  if (!valid) return pcsc::kInvalidValue;
  auto lock = Lock();
  Session& session = Acquire(card);
  session.has_geometry = true;
  session.address_width = type[1];
  session.memory_size = size;
  return MEMLINK_OK;
}

uint32_t MEMLINK_CALL MemI2CRead(uint32_t card, uint8_t* buffer, uint32_t buffer_size,
                                 uint32_t address, uint32_t count) {
  if (buffer == nullptr) return pcsc::kInvalidParameter;
  if (count > buffer_size) return pcsc::kInvalidValue;
  auto lock = Lock();
  Session& session = Acquire(card);
  uint8_t type = 0;
  const uint32_t fits = I2cType(session, address, count, &type);
  if (fits != MEMLINK_OK) return fits;
  return ReadMemory(session, type, address, count, buffer);
}

uint32_t MEMLINK_CALL MemI2CWrite(uint32_t card, const uint8_t* data, uint32_t data_size,
                                  uint32_t address, uint32_t count) {
  if (data == nullptr) return pcsc::kInvalidParameter;
  if (count > data_size) return pcsc::kInvalidValue;
  auto lock = Lock();
  Session& session = Acquire(card);
  uint8_t type = 0;
  const uint32_t fits = I2cType(session, address, count, &type);
  if (fits != MEMLINK_OK) return fits;
  return WriteMemory(session, type, address, count, data);
}

}  // extern "C"
