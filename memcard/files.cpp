// SPDX-License-Identifier: BSD-3-Clause
// SELECT FILE, READ BINARY and UPDATE BINARY on a memory card presented as a small file card:
// the whole memory (3F 00), the directory (2F 00), the ATR file (2F 01) and the application
// area after the directory object, selected by its identifier.
#include <cstring>
#include <vector>

#include "ctapi/command.h"
#include "ctapi/result.h"
#include "ctapi/slots.h"
#include "memcard/access.h"
#include "memcard/commands.h"
#include "memcard/insurance.h"

namespace memcard {
namespace {

using ctapi::kNoAddress;
using ctapi::StatusWord;
using ctapi::TerminalSlot;

constexpr StatusWord kSwEndReached = {0x62, 0x82};
constexpr StatusWord kSwNotWritten = {0x62, 0x00};
constexpr StatusWord kSwBufferTooSmall = {0x65, 0x01};
constexpr StatusWord kSwNotFound = {0x6A, 0x82};
constexpr StatusWord kSwNoMemory = {0x70, 0x00};
constexpr uint32_t kInsuranceAreaEnd = 256;
constexpr uint32_t kChecksumSearchEnd = 215;
constexpr uint8_t kInsuranceAids[2][6] = {{0xD2, 0x80, 0x00, 0x00, 0x01, 0x01},
                                          {0xD2, 0x76, 0x00, 0x00, 0x01, 0x01}};

void Deselect(TerminalSlot& slot) {
  slot.selected_first = kNoAddress;
  slot.selected_last = kNoAddress;
}

void Select(TerminalSlot& slot, uint32_t first, uint32_t last) {
  slot.selected_first = first;
  slot.selected_last = last;
}

bool IsInsuranceAid(const uint8_t* aid, uint8_t length) {
  if (length != 6) return false;
  for (const auto& known : kInsuranceAids) {
    if (std::memcmp(aid, known, 6) == 0) return true;
  }
  return false;
}

int8_t SelectByFileId(TerminalSlot& slot, const ctapi::CommandApdu& command, uint16_t* lenr,
                      uint8_t* response) {
  if (command.lc != 2) return ctapi::StatusOnly(lenr, response, ctapi::kSwWrongParameters);
  const uint16_t fid = static_cast<uint16_t>(command.data[0] << 8 | command.data[1]);
  switch (fid) {
    case 0x3F00:
      Select(slot, 0, slot.memory_size - 1);
      break;
    case 0x2F00:
      // Without directory bounds this selects nothing, and says so by nothing selected.
      Select(slot, slot.dir_file_first, slot.dir_file_last);
      break;
    case 0x2F01:
      if (slot.atr_file_first == kNoAddress) return ctapi::StatusOnly(lenr, response, kSwNotFound);
      Select(slot, slot.atr_file_first, slot.atr_file_last);
      break;
    default:
      return ctapi::StatusOnly(lenr, response, kSwNotFound);
  }
  slot.selected_insurance_data = 0;
  return ctapi::StatusOnly(lenr, response, ctapi::kSwSuccess);
}

// Selects the insurance data object: from the first address after the directory to its
// checksum byte, once the whole data area passed the data check.
int8_t SelectInsuranceData(TerminalSlot& slot, uint16_t* lenr, uint8_t* response) {
  const uint32_t first = slot.selected_first;
  const uint32_t count = first < kInsuranceAreaEnd ? kInsuranceAreaEnd - first : 0;
  std::vector<uint8_t> data(count);
  if (count > 0) {
    const uint32_t status = ReadMemory(slot, first, count, data.data(), count);
    if (ctapi::MapSCardResult(status, nullptr) != OK)
      return ctapi::MappedStatusOnly(lenr, response, status);
  }
  uint32_t checksum_at = 0;
  for (uint32_t i = 0; i <= kChecksumSearchEnd && i + 1 < count; ++i) {
    if (data[i] == 0x8E && data[i + 1] == 0x01) {
      checksum_at = i + 2;
      break;
    }
  }
  if (!InsuranceDataCheck(data.data(), count, slot.memory_card_header)) {
    slot.insurance_layout = 0;
    return ctapi::StatusOnly(lenr, response, kSwNotFound);
  }
  slot.selected_insurance_data = 1;
  slot.selected_last = first + checksum_at;
  return ctapi::StatusOnly(lenr, response, ctapi::kSwSuccess);
}

int8_t SelectByAid(TerminalSlot& slot, const ctapi::CommandApdu& command, uint16_t* lenr,
                   uint8_t* response) {
  if (slot.dir_file_first == kNoAddress || slot.dir_file_last == kNoAddress ||
      slot.dir_file_last < slot.dir_file_first) {
    return ctapi::StatusOnly(lenr, response, kSwNotFound);
  }
  const uint32_t size = slot.dir_file_last - slot.dir_file_first + 1;
  if (slot.memory_size < slot.dir_file_first || slot.memory_size - slot.dir_file_first < size) {
    return ctapi::StatusOnly(lenr, response, kSwNotFound);
  }
  std::vector<uint8_t> directory(size);
  const uint32_t status = ReadMemory(slot, slot.dir_file_first, size, directory.data(), size);
  if (ctapi::MapSCardResult(status, nullptr) != OK)
    return ctapi::MappedStatusOnly(lenr, response, status);
  if (directory[0] != 0x61 && directory[0] != 0x4F)
    return ctapi::StatusOnly(lenr, response, kSwNotFound);

  std::vector<uint8_t> pattern = {0x4F, command.lc};
  pattern.insert(pattern.end(), command.data, command.data + command.lc);
  if (slot.insurance_layout == 0 && IsInsuranceAid(command.data, command.lc)) {
    return ctapi::StatusOnly(lenr, response, kSwNotFound);
  }
  // Cards in the insurance layout answer to any identifier.
  bool found = false;
  for (uint32_t at = 0; at + pattern.size() <= size && !found; ++at) {
    found = slot.insurance_layout == 1 ||
            std::memcmp(directory.data() + at, pattern.data(), pattern.size()) == 0;
  }
  if (!found || size < 2) return ctapi::StatusOnly(lenr, response, kSwNotFound);

  slot.selected_first = slot.dir_file_first + 2 + directory[1];
  if (slot.insurance_layout == 1) return SelectInsuranceData(slot, lenr, response);
  uint8_t object[2] = {};
  const uint32_t read = ReadMemory(slot, slot.selected_first, 2, object, sizeof object);
  if (ctapi::MapSCardResult(read, nullptr) != OK)
    return ctapi::MappedStatusOnly(lenr, response, read);
  // The area covers the tag, the length, the value and one byte more.
  slot.selected_last = slot.selected_first + 2 + object[1];
  slot.selected_insurance_data = 0;
  return ctapi::StatusOnly(lenr, response, ctapi::kSwSuccess);
}

}  // namespace

int8_t SelectFile(int slot_index, uint16_t* lenc, const uint8_t* command, uint16_t* lenr,
                  uint8_t* response) {
  TerminalSlot& slot = ctapi::Slot(slot_index);
  ctapi::CommandApdu parsed;
  int8_t code = OK;
  if (*lenc < 6 || ctapi::ParseCommandApdu(*lenc, command, &parsed) != 0 || !parsed.no_le) {
    code = ctapi::StatusOnly(lenr, response, ctapi::kSwWrongLength);
  } else if ((parsed.p1 != 0x00 && parsed.p1 != 0x04) || parsed.p2 != 0x00) {
    code = ctapi::StatusOnly(lenr, response, ctapi::kSwWrongParameters);
  } else if (slot.memory_size == 0) {
    code = ctapi::StatusOnly(lenr, response, kSwNoMemory);
  } else {
    if (InsuranceLayoutCheck(slot_index)) slot.insurance_layout = 1;
    code = parsed.p1 == 0x00 ? SelectByFileId(slot, parsed, lenr, response)
                             : SelectByAid(slot, parsed, lenr, response);
  }
  // Whatever went wrong, nothing stays selected.
  if (response[0] != 0x90) Deselect(slot);
  return code;
}

int8_t ReadBinary(int slot_index, uint16_t* lenc, const uint8_t* command, uint16_t* lenr,
                  uint8_t* response) {
  TerminalSlot& slot = ctapi::Slot(slot_index);
  if (slot.selected_first == kNoAddress) return ctapi::StatusOnly(lenr, response, kSwNotFound);
  uint32_t le = 0;
  bool three_byte_le = false;
  if (*lenc == 5) {
    le = command[4];
  } else if (*lenc == 7 && command[4] == 0x00) {
    le = static_cast<uint32_t>(command[5]) << 8 | command[6];
    three_byte_le = true;
  } else {
    return ctapi::StatusOnly(lenr, response, ctapi::kSwWrongLength);
  }
  const uint32_t offset = static_cast<uint32_t>(command[2]) << 8 | command[3];
  if (slot.selected_first + offset > slot.selected_last) {
    return ctapi::StatusOnly(lenr, response, kSwEndReached);
  }
  uint32_t available = slot.selected_last - slot.selected_first - offset + 1;
  const uint32_t in_memory =
      slot.memory_size > slot.selected_first ? slot.memory_size - slot.selected_first : 0;
  if (available > in_memory) available = in_memory;
  const bool le_was_zero = le == 0;
  if (le_was_zero) le = (three_byte_le || available <= 256) ? available : 256;
  bool short_answer = false;
  if (available < le) {
    le = available;
    short_answer = true;
  }
  // Each call has its own transfer buffer, so two terminals of one process never share one.
  std::vector<uint8_t> transfer(le);
  const uint32_t status =
      le > 0 ? ReadMemory(slot, slot.selected_first + offset, le, transfer.data(), le) : 0;
  if (*lenr < le + 2) return ctapi::StatusOnly(lenr, response, kSwBufferTooSmall);
  if (ctapi::MapSCardResult(status, nullptr) != OK)
    return ctapi::MappedStatusOnly(lenr, response, status);
  if (le > 0) std::memcpy(response, transfer.data(), le);
  const bool end_reached = short_answer || (slot.selected_insurance_data == 1 && le_was_zero);
  ctapi::PutStatusWord(response, static_cast<uint16_t>(le), lenr,
                       end_reached ? kSwEndReached : ctapi::kSwSuccess);
  return OK;
}

int8_t UpdateBinary(int slot_index, uint16_t* lenc, const uint8_t* command, uint16_t* lenr,
                    uint8_t* response) {
  TerminalSlot& slot = ctapi::Slot(slot_index);
  if (*lenc < 6) return ctapi::StatusOnly(lenr, response, ctapi::kSwWrongLength);
  if (slot.selected_first == kNoAddress) return ctapi::StatusOnly(lenr, response, kSwNotFound);
  const uint32_t offset = static_cast<uint32_t>(command[2]) << 8 | command[3];
  if (slot.selected_first + offset > slot.selected_last) {
    return ctapi::StatusOnly(lenr, response, kSwNotWritten);
  }
  const uint32_t available = slot.selected_last - slot.selected_first - offset + 1;
  uint32_t lc = 0;
  uint32_t data_at = 0;
  if (command[4] == 0x00) {
    if (*lenc < 7) return ctapi::StatusOnly(lenr, response, ctapi::kSwWrongLength);
    lc = static_cast<uint32_t>(command[5]) << 8 | command[6];
    data_at = 7;
  } else {
    lc = command[4];
    data_at = 5;
  }
  if (*lenc != lc + data_at) return ctapi::StatusOnly(lenr, response, ctapi::kSwWrongLength);
  if (available < lc || slot.insurance_layout == 1)
    return ctapi::StatusOnly(lenr, response, kSwNotWritten);
  const uint32_t status = WriteMemory(slot, slot.selected_first + offset, lc, command + data_at);
  return ctapi::StatusOnly(
      lenr, response,
      ctapi::MapSCardResult(status, nullptr) == OK ? ctapi::kSwSuccess : kSwNotWritten);
}

}  // namespace memcard
