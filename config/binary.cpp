// SPDX-License-Identifier: BSD-3-Clause
// Binary configuration files: the header, reading and writing the section and entry blocks
// field by field in big-endian form, walking the chains, adding, updating and deleting records,
// and the plain file copy. The blocks of a file are checked as they are read, so a damaged or
// hostile file can neither make a walk loop nor make a record reach outside its block.
#include "config/binary.h"

#include <climits>
#include <cstring>

#include "config/messages.h"
#include "support/errlog.h"
#include "support/memory.h"
#include "support/result.h"

namespace {

constexpr char kModule[] = "CFG";
constexpr uint32_t kLogLevel = 1;
constexpr uint32_t kCopyChunk = 4096;
constexpr uint32_t kMaxOffset = INT32_MAX;  // the file layer seeks with a signed 32-bit distance

#define CFG_LOG(function, code, ...) \
  ErrLogWrite(kLogLevel, kModule, function, __LINE__, code, __VA_ARGS__)

// What differs between section blocks and entry blocks.
struct Layout {
  uint32_t block_size;
  uint32_t name_offset;   // of the name in a record
  uint32_t record_extra;  // record length minus name length
  uint32_t max_name;
  const char* read_name;  // operation names for the log
  const char* write_name;
};

constexpr Layout kSectionLayout{kBinSectionBlockSize,   kBinSectionNameOffset,
                                kBinSectionRecordExtra, kBinMaxSectionName,
                                "BinReadSectionBlock",  "BinWriteSectionBlock"};
constexpr Layout kEntryLayout{kBinEntryBlockSize, kBinEntryNameOffset, kBinEntryRecordExtra,
                              kBinMaxEntryName,   "BinReadEntryBlock", "BinWriteEntryBlock"};

// One chain under the cursor: the block and the walk state of either the sections or the
// entries, so that the walk is written once.
struct Chain {
  const Layout& layout;
  BinBlockHead* head;
  uint8_t* records;
  uint32_t* index;
  uint32_t* pos;
  uint32_t* loaded;
  uint32_t* status;
};

Chain SectionChain(BinCursor* c) {
  return Chain{kSectionLayout,  &c->section_block.head, c->section_block.records, &c->section_index,
               &c->section_pos, &c->section_loaded,     &c->section_status};
}

Chain EntryChain(BinCursor* c) {
  return Chain{kEntryLayout,  &c->entry_block.head, c->entry_block.records, &c->entry_index,
               &c->entry_pos, &c->entry_loaded,     &c->entry_status};
}

uint32_t RecordsSize(const Layout& layout) {
  return layout.block_size - kBinBlockHeadSize;
}

// Length of a name (not null), counted up to `limit` + 1 characters: a result above
// `limit` means "too long".
uint32_t NameLength(const char* name, uint32_t limit) {
  return static_cast<uint32_t>(strnlen(name, static_cast<size_t>(limit) + 1));
}

uint32_t SeekTo(fio::Handle file, uint32_t offset) {
  if (offset > kMaxOffset) return kErrBinInvalidFile;
  return fio::Seek(file, static_cast<int32_t>(offset), 0, nullptr);
}

uint32_t EndOfFile(fio::Handle file, uint32_t* end) {
  return fio::Seek(file, 0, 2, end);
}

void EncodeHead(const BinBlockHead& head, uint8_t* out) {
  mem::PutU32BE(out, head.used);
  mem::PutU32BE(out + 4, head.own_offset);
  mem::PutU32BE(out + 8, head.next_offset);
  mem::PutU32BE(out + 12, head.count);
}

BinBlockHead DecodeHead(const uint8_t* in) {
  return BinBlockHead{mem::GetU32BE(in), mem::GetU32BE(in + 4), mem::GetU32BE(in + 8),
                      mem::GetU32BE(in + 12)};
}

// The length of the name of the record at `at` (offset in the records area) whose length is
// `length`, or a value above the layout's maximum when the name is not terminated in time.
uint32_t RecordNameLength(const Layout& layout, const uint8_t* records, uint32_t at,
                          uint32_t length) {
  const char* name = reinterpret_cast<const char*>(records + at + layout.name_offset);
  uint32_t room = length - layout.name_offset;
  uint32_t n = static_cast<uint32_t>(strnlen(name, room));
  return n + layout.record_extra <= length ? n : layout.max_name + 1;
}

// A block read from the file holds no promise: its own offset must be where it was read, the
// bytes in use must lie inside it and be exactly the head plus the record lengths, every record
// must be long enough for its fields and terminate its name inside itself, and the next block
// must lie behind this one (blocks are only ever appended), which rules out loops.
bool CheckBlock(const Layout& layout, uint32_t offset, const BinBlockHead& head,
                const uint8_t* records) {
  if (head.own_offset != offset) return false;
  if (head.used < kBinBlockHeadSize || head.used > layout.block_size) return false;
  if (head.next_offset != kBinNoBlock &&
      (head.next_offset > kMaxOffset || head.next_offset < offset + layout.block_size)) {
    return false;
  }
  const uint32_t in_use = head.used - kBinBlockHeadSize;
  uint32_t at = 0;
  for (uint32_t i = 0; i < head.count; ++i) {
    if (in_use - at < layout.record_extra) return false;
    uint32_t length = mem::GetU32BE(records + at);
    if (length < layout.record_extra || length > in_use - at) return false;
    if (RecordNameLength(layout, records, at, length) > layout.max_name) return false;
    at += length;
  }
  return at == in_use;
}

uint32_t ReadBlock(fio::Handle file, uint32_t offset, const Layout& layout, BinBlockHead* head,
                   uint8_t* records) {
  uint8_t raw[kBinSectionBlockSize] = {};
  if (offset > kMaxOffset || offset < kBinHeaderSize) {
    CFG_LOG(layout.read_name, kErrBinInvalidFile, "%s (block offset %u)",
            MessageTextEn(kErrBinInvalidFile), offset);
    return kErrBinInvalidFile;
  }
  uint32_t result = SeekTo(file, offset);
  if (result != kResultOk) return result;
  uint32_t count = 0;
  result = fio::ReadBin(file, raw, layout.block_size, layout.block_size, &count);
  if (result != kResultOk) return result;
  if (count == 0xFFFFFFFF) return kErrBinRead;
  if (count == 0) return kErrBinEndOfFile;
  BinBlockHead decoded = DecodeHead(raw);
  if (!CheckBlock(layout, offset, decoded, raw + kBinBlockHeadSize)) {
    CFG_LOG(layout.read_name, kErrBinInvalidFile, "%s (block offset %u)",
            MessageTextEn(kErrBinInvalidFile), offset);
    return kErrBinInvalidFile;
  }
  *head = decoded;
  std::memcpy(records, raw + kBinBlockHeadSize, RecordsSize(layout));
  return kResultOk;
}

uint32_t WriteBlock(fio::Handle file, const Layout& layout, const BinBlockHead& head,
                    const uint8_t* records) {
  if (head.own_offset < kBinHeaderSize || head.used < kBinBlockHeadSize ||
      head.used > layout.block_size) {
    // Never over the header, never a head that the next read would refuse.
    CFG_LOG(layout.write_name, kErrBinWrite, "%s (block offset %u, bytes in use %u)",
            MessageTextEn(kErrBinWrite), head.own_offset, head.used);
    return kErrBinWrite;
  }
  uint8_t raw[kBinSectionBlockSize] = {};
  EncodeHead(head, raw);
  std::memcpy(raw + kBinBlockHeadSize, records, RecordsSize(layout));
  uint32_t count = 0;
  uint32_t result = SeekTo(file, head.own_offset);
  if (result == kResultOk) result = fio::WriteBin(file, raw, layout.block_size, &count);
  if (result != kResultOk || count != layout.block_size) {
    CFG_LOG(layout.write_name, kErrBinWrite, "%s (block offset %u, written %u)",
            MessageTextEn(kErrBinWrite), head.own_offset, count);
    return kErrBinWrite;
  }
  return kResultOk;
}

// Records are addressed by their position in the block (16 = the first record).
uint8_t* RecordAt(uint8_t* records, uint32_t pos) {
  return records + (pos - kBinBlockHeadSize);
}

// True when the chain has a current record: index within the count, and a record at the
// position whose length keeps it inside the bytes in use.
bool HasCurrent(const Chain& chain) {
  if (!*chain.loaded) return false;
  const BinBlockHead& head = *chain.head;
  const uint32_t pos = *chain.pos;
  if (*chain.index < 1 || *chain.index > head.count || pos < kBinBlockHeadSize ||
      head.used > chain.layout.block_size || pos > head.used ||
      head.used - pos < chain.layout.record_extra) {
    return false;
  }
  const uint32_t length = mem::GetU32BE(RecordAt(chain.records, pos));
  return length >= chain.layout.record_extra && length <= head.used - pos;
}

// True when the cursor rests after the last record of the chain's last block.
bool AtChainEnd(const Chain& chain) {
  return *chain.loaded && *chain.index > chain.head->count &&
         chain.head->next_offset == kBinNoBlock && *chain.pos == chain.head->used;
}

void CopyName(char* out, uint32_t size, const uint8_t* name, uint32_t room) {
  uint32_t n = static_cast<uint32_t>(strnlen(reinterpret_cast<const char*>(name), room));
  if (n >= size) n = size - 1;
  std::memcpy(out, name, n);
  out[n] = '\0';
}

void DecodeSectionRecord(const uint8_t* in, BinSectionRecord* record) {
  record->length = mem::GetU32BE(in);
  record->entry_block = mem::GetU32BE(in + 4);
  CopyName(record->name, sizeof record->name, in + kBinSectionNameOffset,
           record->length - kBinSectionNameOffset);
}

void DecodeEntryRecord(const uint8_t* in, BinEntryRecord* record) {
  record->length = mem::GetU32BE(in);
  record->value_offset = mem::GetU32BE(in + 4);
  record->value_length = mem::GetU32BE(in + 8);
  CopyName(record->name, sizeof record->name, in + kBinEntryNameOffset,
           record->length - kBinEntryNameOffset);
}

// Writes a record at `out` (which has room for it): length, the integer fields, the name and
// zeros up to the record length.
void EncodeRecord(uint8_t* out, uint32_t length, const uint32_t* fields, uint32_t field_count,
                  const char* name, uint32_t name_length) {
  std::memset(out, 0, length);
  mem::PutU32BE(out, length);
  for (uint32_t i = 0; i < field_count; ++i)
    mem::PutU32BE(out + 4 + 4 * i, fields[i]);
  std::memcpy(out + 4 + 4 * field_count, name, name_length);
}

// A write failed half-way: the block under the cursor no longer matches the file, so the chain
// is given up until the next walk starts over.
uint32_t DropChain(const Chain& chain, uint32_t result) {
  *chain.loaded = 0;
  *chain.status = result;
  return result;
}

// Loads the block at `offset` into the chain as its current block, record 1.
uint32_t LoadBlock(fio::Handle file, const Chain& chain, uint32_t offset) {
  BinBlockHead head{};
  uint8_t records[kBinSectionRecordsSize] = {};
  uint32_t result = ReadBlock(file, offset, chain.layout, &head, records);
  if (result != kResultOk) return result;
  *chain.head = head;
  std::memcpy(chain.records, records, RecordsSize(chain.layout));
  *chain.loaded = 1;
  *chain.index = 1;
  *chain.pos = kBinBlockHeadSize;
  return kResultOk;
}

// The walk over one chain. `first` is the offset of the chain's first block; `empty_at_eof` says
// whether the end of the file there means an empty chain (the sections of a new file) rather
// than damage. True when the cursor rests on a record.
bool Walk(fio::Handle file, const Chain& chain, uint32_t mode, uint32_t first, bool empty_at_eof) {
  if (mode == kBinFirst) {
    *chain.loaded = 0;
    *chain.status = kResultOk;
    uint32_t result = LoadBlock(file, chain, first);
    if (result != kResultOk) {
      *chain.status = result == kErrBinEndOfFile && empty_at_eof ? kResultOk
                      : result == kErrBinEndOfFile               ? kErrBinInvalidFile
                                                                 : result;
      return false;
    }
  } else if (mode == kBinNext) {
    if (!*chain.loaded) return false;
    if (HasCurrent(chain)) {
      *chain.pos += mem::GetU32BE(RecordAt(chain.records, *chain.pos));
      ++*chain.index;
    }
  } else {
    return false;
  }
  // Blocks without records (or whose records were all passed) lead on to the next block. Every
  // next block lies behind the current one, so the walk ends.
  while (*chain.index > chain.head->count) {
    if (chain.head->next_offset == kBinNoBlock) return false;
    uint32_t result = LoadBlock(file, chain, chain.head->next_offset);
    if (result != kResultOk) {
      *chain.status = result == kErrBinEndOfFile ? kErrBinInvalidFile : result;
      return false;
    }
  }
  return true;
}

bool CurrentSection(BinCursor* cursor, BinSectionRecord* record) {
  Chain chain = SectionChain(cursor);
  if (!HasCurrent(chain)) return false;
  DecodeSectionRecord(RecordAt(chain.records, *chain.pos), record);
  return true;
}

bool CurrentEntry(BinCursor* cursor, BinEntryRecord* record) {
  Chain chain = EntryChain(cursor);
  if (!HasCurrent(chain)) return false;
  DecodeEntryRecord(RecordAt(chain.records, *chain.pos), record);
  return true;
}

void ForgetEntries(BinCursor* cursor) {
  cursor->entry_loaded = 0;
  cursor->entry_status = kResultOk;
  cursor->entry_index = 0;
  cursor->entry_pos = 0;
}

// Removes the current record of the chain's block and writes the block.
uint32_t RemoveCurrent(fio::Handle file, const Chain& chain) {
  BinBlockHead& head = *chain.head;
  uint32_t length = mem::GetU32BE(RecordAt(chain.records, *chain.pos));
  uint32_t end = *chain.pos + length;
  if (*chain.index < head.count) {
    std::memmove(RecordAt(chain.records, *chain.pos), RecordAt(chain.records, end),
                 head.used - end);
  }
  // The freed bytes at the end of the records become zero again, as in a fresh block.
  std::memset(RecordAt(chain.records, head.used - length), 0, length);
  head.used -= length;
  --head.count;
  uint32_t result = WriteBlock(file, chain.layout, head, chain.records);
  return result == kResultOk ? kResultOk : DropChain(chain, result);
}

bool ValueFits(uint32_t offset, uint32_t length) {
  return offset <= kMaxOffset && length <= kMaxOffset - offset;
}

}  // namespace

// --- Header ------------------------------------------------------------------------------------

uint32_t BinEncodeHeader(uint8_t* out, uint32_t size, uint32_t type_code) {
  if (!out || size < kBinHeaderSize) return kErrBinValue;
  std::memset(out, 0, kBinHeaderSize);
  std::memcpy(out, kBinTitle, sizeof kBinTitle - 1);
  std::memcpy(out + kBinTitleSize, kBinFormat, sizeof kBinFormat - 1);
  mem::PutU32BE(out + kBinTypeOffset, type_code);
  return kResultOk;
}

uint32_t BinDecodeHeader(const uint8_t* in, uint32_t size, BinFileHeader* header) {
  if (!header) return kErrBinValue;
  std::memset(header, 0, sizeof *header);
  if (!in || size < kBinHeaderSize) return kErrBinInvalidFile;
  CopyName(header->title, sizeof header->title, in, kBinTitleSize);
  CopyName(header->format, sizeof header->format, in + kBinTitleSize, kBinFormatSize);
  header->type_code = mem::GetU32BE(in + kBinTypeOffset);
  return kResultOk;
}

uint32_t BinCreateHeader(fio::Handle file, uint32_t* written) {
  if (written) *written = 0;
  if (file == fio::kNoHandle) return kErrBinHandle;
  uint8_t raw[kBinHeaderSize];
  BinEncodeHeader(raw, sizeof raw, kBinTypeCode);
  uint32_t count = 0;
  uint32_t result = SeekTo(file, 0);
  if (result == kResultOk) result = fio::WriteBin(file, raw, kBinHeaderSize, &count);
  if (written) *written = count;
  if (result == kResultOk && count != kBinHeaderSize) result = kErrBinWrite;
  return result;
}

uint32_t BinCheckHeader(fio::Handle file, uint32_t* type_code) {
  if (file == fio::kNoHandle) return kErrBinHandle;
  if (!type_code) return kErrBinValue;
  *type_code = 0;
  uint8_t raw[kBinHeaderSize] = {};
  uint32_t count = 0;
  if (SeekTo(file, 0) != kResultOk ||
      fio::ReadBin(file, raw, kBinHeaderSize, kBinHeaderSize, &count) != kResultOk ||
      count != kBinHeaderSize) {
    return kErrBinInvalidFile;
  }
  BinFileHeader header;
  BinDecodeHeader(raw, count, &header);
  if (header.type_code != kBinTypeCode && header.type_code != kBinAsciiTypeCode) {
    return kErrBinInvalidFile;
  }
  *type_code = header.type_code;
  return kResultOk;
}

// --- Blocks and values -------------------------------------------------------------------------

uint32_t BinReadSectionBlock(fio::Handle file, uint32_t offset, BinSectionBlock* block) {
  if (file == fio::kNoHandle || !block) return kErrBinHandle;
  std::memset(block, 0, sizeof *block);
  return ReadBlock(file, offset, kSectionLayout, &block->head, block->records);
}

uint32_t BinReadEntryBlock(fio::Handle file, uint32_t offset, BinEntryBlock* block) {
  if (file == fio::kNoHandle || !block) return kErrBinHandle;
  std::memset(block, 0, sizeof *block);
  return ReadBlock(file, offset, kEntryLayout, &block->head, block->records);
}

uint32_t BinWriteSectionBlock(fio::Handle file, const BinSectionBlock* block) {
  if (file == fio::kNoHandle || !block) return kErrBinHandle;
  return WriteBlock(file, kSectionLayout, block->head, block->records);
}

uint32_t BinWriteEntryBlock(fio::Handle file, const BinEntryBlock* block) {
  if (file == fio::kNoHandle || !block) return kErrBinHandle;
  return WriteBlock(file, kEntryLayout, block->head, block->records);
}

uint32_t BinWriteEntryValue(fio::Handle file, const BinEntryRecord* record, const void* value,
                            uint32_t length) {
  if (file == fio::kNoHandle) return kErrBinHandle;
  if (!record) return kErrBinEntry;
  if (!value && length > 0) return kErrBinValue;
  uint32_t written = 0;
  uint32_t result = SeekTo(file, record->value_offset);
  if (result == kResultOk) result = fio::WriteBin(file, value, length, &written);
  if (written < length || result != kResultOk) {
    CFG_LOG("BinWriteEntryValue", result, "error while writing to CFG-File (iWritten %d)",
            static_cast<int>(written));
    return kErrBinWrite;
  }
  return kResultOk;
}

uint32_t BinReadEntryValue(fio::Handle file, const BinEntryRecord* record, void* buffer,
                           uint32_t* length) {
  if (file == fio::kNoHandle) return kErrBinHandle;
  if (!record) return kErrBinEntry;
  if (!length) return kErrBinLength;
  const uint32_t stored = record->value_length;
  if (!buffer) {
    *length = stored;
    return kResultOk;
  }
  if (*length < stored) {
    *length = stored;
    return kErrBinBufferTooSmall;
  }
  *length = stored;
  uint32_t result = SeekTo(file, record->value_offset);
  uint32_t count = 0;
  if (result == kResultOk) result = fio::ReadBin(file, buffer, stored, stored, &count);
  if (result != kResultOk) return result;
  if (count != stored) {
    // The record promises more than the file holds.
    CFG_LOG("BinReadEntryValue", kErrBinInvalidFile, "%s (value offset %u, length %u)",
            MessageTextEn(kErrBinInvalidFile), record->value_offset, stored);
    return kErrBinInvalidFile;
  }
  return kResultOk;
}

// --- Walking -----------------------------------------------------------------------------------

uint32_t BinSearchSection(fio::Handle file, BinCursor* cursor, uint32_t mode,
                          BinSectionRecord* record) {
  if (file == fio::kNoHandle || !cursor) return 0;
  // Another section becomes current: the entry cursor belonged to the old one.
  ForgetEntries(cursor);
  if (!Walk(file, SectionChain(cursor), mode, kBinFirstSectionBlock, true)) return 0;
  BinSectionRecord current;
  if (!CurrentSection(cursor, &current)) return 0;
  if (record) *record = current;
  return 1;
}

uint32_t BinSearchEntry(fio::Handle file, BinCursor* cursor, uint32_t mode,
                        BinEntryRecord* record) {
  if (file == fio::kNoHandle || !cursor) return 0;
  uint32_t first = 0;
  if (mode == kBinFirst) {
    BinSectionRecord section;
    if (!CurrentSection(cursor, &section)) {
      ForgetEntries(cursor);
      cursor->entry_status = kErrBinSequence;
      return 0;
    }
    first = section.entry_block;
  }
  if (!Walk(file, EntryChain(cursor), mode, first, false)) return 0;
  BinEntryRecord current;
  if (!CurrentEntry(cursor, &current)) return 0;
  if (record) *record = current;
  return 1;
}

uint32_t BinFindSection(fio::Handle file, BinCursor* cursor, const char* name,
                        BinSectionRecord* record) {
  if (file == fio::kNoHandle || !cursor || !name) return 0;
  BinSectionRecord current;
  for (uint32_t found = BinSearchSection(file, cursor, kBinFirst, &current); found;
       found = BinSearchSection(file, cursor, kBinNext, &current)) {
    if (std::strcmp(current.name, name) == 0) {
      if (record) *record = current;
      return 1;
    }
  }
  return 0;
}

uint32_t BinFindEntry(fio::Handle file, BinCursor* cursor, const char* name,
                      BinEntryRecord* record) {
  if (file == fio::kNoHandle || !cursor || !name) return 0;
  BinEntryRecord current;
  for (uint32_t found = BinSearchEntry(file, cursor, kBinFirst, &current); found;
       found = BinSearchEntry(file, cursor, kBinNext, &current)) {
    if (std::strcmp(current.name, name) == 0) {
      if (record) *record = current;
      return 1;
    }
  }
  return 0;
}

// --- Changes -----------------------------------------------------------------------------------

uint32_t BinAddSection(fio::Handle file, BinCursor* cursor, const char* section, const char* entry,
                       const void* value, uint32_t length) {
  static const char kName[] = "BinAddSection";
  if (file == fio::kNoHandle || !cursor) return kErrBinHandle;
  if (!section || NameLength(section, kBinMaxSectionName) > kBinMaxSectionName) {
    CFG_LOG(kName, kErrBinSection, "%s", MessageTextEn(kErrBinSection));
    return kErrBinSection;
  }
  if (!entry || NameLength(entry, kBinMaxEntryName) > kBinMaxEntryName) {
    CFG_LOG(kName, kErrBinEntry, "%s", MessageTextEn(kErrBinEntry));
    return kErrBinEntry;
  }
  if (!value && length > 0) return kErrBinValue;
  Chain sections = SectionChain(cursor);
  if (cursor->section_status != kResultOk) {
    CFG_LOG(kName, cursor->section_status, "%s", MessageTextEn(cursor->section_status));
    return cursor->section_status;
  }
  uint32_t eof = 0;
  uint32_t result = EndOfFile(file, &eof);
  if (result != kResultOk) return result;
  if (*sections.loaded) {
    // The new record goes after the last record of the last block, nowhere else.
    if (!AtChainEnd(sections)) {
      CFG_LOG(kName, kErrBinSequence, "%s", MessageTextEn(kErrBinSequence));
      return kErrBinSequence;
    }
    // A block that the file ends inside is written whole; nothing may be placed over it.
    const uint32_t block_end = sections.head->own_offset + kBinSectionBlockSize;
    if (eof < block_end) eof = block_end;
  } else if (eof != kBinFirstSectionBlock) {
    // Without a block under the cursor only a file without sections takes a first block.
    result = eof < kBinFirstSectionBlock ? kErrBinInvalidFile : kErrBinSequence;
    CFG_LOG(kName, result, "%s", MessageTextEn(result));
    return result;
  }

  const uint32_t section_length = NameLength(section, kBinMaxSectionName);
  const uint32_t entry_length = NameLength(entry, kBinMaxEntryName);
  const uint32_t r = section_length + kBinSectionRecordExtra;
  const bool fits = *sections.loaded && sections.head->used + r <= kBinSectionBlockSize;
  const uint32_t entry_block = eof + (fits ? 0 : kBinSectionBlockSize);
  const uint32_t value_offset = entry_block + kBinEntryBlockSize;
  if (!ValueFits(value_offset, length)) {
    CFG_LOG(kName, kErrBinWrite, "%s", MessageTextEn(kErrBinWrite));
    return kErrBinWrite;
  }

  if (!fits) {
    if (*sections.loaded) {
      sections.head->next_offset = eof;
      result = WriteBlock(file, kSectionLayout, *sections.head, sections.records);
      if (result != kResultOk) return DropChain(sections, result);
    }
    *sections.head = BinBlockHead{kBinBlockHeadSize, eof, kBinNoBlock, 0};
    std::memset(sections.records, 0, kBinSectionRecordsSize);
    *sections.loaded = 1;
  }
  BinBlockHead& head = *sections.head;
  const uint32_t pos = head.used;
  const uint32_t section_fields[] = {entry_block};
  EncodeRecord(RecordAt(sections.records, pos), r, section_fields, 1, section, section_length);
  head.used += r;
  ++head.count;
  *sections.index = head.count;
  *sections.pos = pos;
  result = WriteBlock(file, kSectionLayout, head, sections.records);
  if (result != kResultOk) return DropChain(sections, result);

  // The section's first entry block, holding the one entry.
  ForgetEntries(cursor);
  Chain entries = EntryChain(cursor);
  const uint32_t er = entry_length + kBinEntryRecordExtra;
  *entries.head = BinBlockHead{kBinBlockHeadSize + er, entry_block, kBinNoBlock, 1};
  std::memset(entries.records, 0, kBinEntryRecordsSize);
  const uint32_t entry_fields[] = {value_offset, length};
  EncodeRecord(entries.records, er, entry_fields, 2, entry, entry_length);
  *entries.loaded = 1;
  *entries.index = 1;
  *entries.pos = kBinBlockHeadSize;
  result = WriteBlock(file, kEntryLayout, *entries.head, entries.records);
  if (result != kResultOk) return DropChain(entries, result);
  BinEntryRecord record;
  DecodeEntryRecord(entries.records, &record);
  return BinWriteEntryValue(file, &record, value, length);
}

uint32_t BinAddEntry(fio::Handle file, BinCursor* cursor, const char* entry, const void* value,
                     uint32_t length) {
  static const char kName[] = "BinAddEntry";
  if (file == fio::kNoHandle || !cursor) return kErrBinHandle;
  if (!entry || NameLength(entry, kBinMaxEntryName) > kBinMaxEntryName) {
    CFG_LOG(kName, kErrBinEntry, "%s", MessageTextEn(kErrBinEntry));
    return kErrBinEntry;
  }
  if (!value && length > 0) return kErrBinValue;
  Chain entries = EntryChain(cursor);
  if (cursor->entry_status != kResultOk || !AtChainEnd(entries)) {
    // A damaged chain, or a cursor that does not rest after the section's last entry.
    uint32_t code = cursor->entry_status != kResultOk ? cursor->entry_status : kErrBinSequence;
    CFG_LOG(kName, code, "%s", MessageTextEn(code));
    return code;
  }
  uint32_t eof = 0;
  uint32_t result = EndOfFile(file, &eof);
  if (result != kResultOk) return result;
  const uint32_t block_end = entries.head->own_offset + kBinEntryBlockSize;
  if (eof < block_end) eof = block_end;

  const uint32_t entry_length = NameLength(entry, kBinMaxEntryName);
  const uint32_t r = entry_length + kBinEntryRecordExtra;
  const bool fits = entries.head->used + r <= kBinEntryBlockSize;
  const uint32_t value_offset = eof + (fits ? 0 : kBinEntryBlockSize);
  if (!ValueFits(value_offset, length)) {
    CFG_LOG(kName, kErrBinWrite, "%s", MessageTextEn(kErrBinWrite));
    return kErrBinWrite;
  }
  if (!fits) {
    entries.head->next_offset = eof;
    result = WriteBlock(file, kEntryLayout, *entries.head, entries.records);
    if (result != kResultOk) return DropChain(entries, result);
    *entries.head = BinBlockHead{kBinBlockHeadSize, eof, kBinNoBlock, 0};
    std::memset(entries.records, 0, kBinEntryRecordsSize);
  }
  BinBlockHead& head = *entries.head;
  const uint32_t pos = head.used;
  const uint32_t fields[] = {value_offset, length};
  EncodeRecord(RecordAt(entries.records, pos), r, fields, 2, entry, entry_length);
  head.used += r;
  ++head.count;
  *entries.index = head.count;
  *entries.pos = pos;
  result = WriteBlock(file, kEntryLayout, head, entries.records);
  if (result != kResultOk) return DropChain(entries, result);
  BinEntryRecord record;
  DecodeEntryRecord(RecordAt(entries.records, pos), &record);
  return BinWriteEntryValue(file, &record, value, length);
}

uint32_t BinUpdateEntry(fio::Handle file, BinCursor* cursor, const void* value, uint32_t length) {
  static const char kName[] = "BinUpdateEntry";
  if (file == fio::kNoHandle || !cursor) return kErrBinHandle;
  if (!value && length > 0) return kErrBinValue;
  Chain entries = EntryChain(cursor);
  BinEntryRecord record;
  if (!CurrentEntry(cursor, &record)) {
    CFG_LOG(kName, kErrBinSequence, "%s", MessageTextEn(kErrBinSequence));
    return kErrBinSequence;
  }
  uint32_t eof = 0;
  uint32_t result = EndOfFile(file, &eof);
  if (result != kResultOk) return result;
  const uint32_t block_end = entries.head->own_offset + kBinEntryBlockSize;
  if (eof < block_end) eof = block_end;
  if (record.value_length < length) {
    record.value_offset = eof;  // the longer value moves to the end of the file
  } else if (!ValueFits(record.value_offset, record.value_length) ||
             record.value_offset + record.value_length > eof) {
    // Overwriting in place would write where the file holds no value.
    CFG_LOG(kName, kErrBinInvalidFile, "%s (value offset %u)", MessageTextEn(kErrBinInvalidFile),
            record.value_offset);
    return kErrBinInvalidFile;
  }
  if (!ValueFits(record.value_offset, length)) {
    CFG_LOG(kName, kErrBinWrite, "%s", MessageTextEn(kErrBinWrite));
    return kErrBinWrite;
  }
  record.value_length = length;
  uint8_t* at = RecordAt(entries.records, *entries.pos);
  mem::PutU32BE(at + 4, record.value_offset);
  mem::PutU32BE(at + 8, record.value_length);
  result = WriteBlock(file, kEntryLayout, *entries.head, entries.records);
  if (result != kResultOk) return DropChain(entries, result);
  return BinWriteEntryValue(file, &record, value, length);
}

uint32_t BinDeleteSection(fio::Handle file, BinCursor* cursor, const char* name) {
  static const char kName[] = "BinDeleteSection";
  if (file == fio::kNoHandle || !cursor) return kErrBinHandle;
  if (!name) return kErrBinSection;
  if (!BinFindSection(file, cursor, name, nullptr)) {
    uint32_t code =
        cursor->section_status != kResultOk ? cursor->section_status : kErrBinSectionNotFound;
    CFG_LOG(kName, code, "%s", MessageTextEn(code));
    return code;
  }
  ForgetEntries(cursor);
  return RemoveCurrent(file, SectionChain(cursor));
}

uint32_t BinDeleteEntry(fio::Handle file, BinCursor* cursor, const char* name) {
  static const char kName[] = "BinDeleteEntry";
  if (file == fio::kNoHandle || !cursor) return kErrBinHandle;
  if (!name) return kErrBinEntry;
  if (!BinFindEntry(file, cursor, name, nullptr)) {
    uint32_t code = cursor->entry_status != kResultOk ? cursor->entry_status : kErrBinEntryNotFound;
    CFG_LOG(kName, code, "%s", MessageTextEn(code));
    return code;
  }
  return RemoveCurrent(file, EntryChain(cursor));
}

// --- Copy --------------------------------------------------------------------------------------

uint32_t BinCopyFile(const char* destination, const char* source) {
  static const char kName[] = "BinCopyFile";
  if (!destination) return kErrBinHandle;
  if (!source) return kErrBinSection;
  fio::Handle from = fio::kNoHandle;
  if (fio::Open(source, &from, fio::kModeReadWrite, fio::kShareAll) != kResultOk) {
    CFG_LOG(kName, kErrBinOpen, "error from open Source File %s", source);
    return kErrBinOpen;
  }
  fio::Handle to = fio::kNoHandle;
  if (fio::Open(destination, &to, fio::kModeReplace, fio::kShareAll) != kResultOk) {
    CFG_LOG(kName, kErrBinOpen, "error from open Destination File %s", destination);
    fio::Close(from);
    return kErrBinOpen;
  }
  uint8_t* buffer = static_cast<uint8_t*>(mem::Allocate(kCopyChunk));
  if (!buffer) {
    CFG_LOG(kName, kErrBinNoMemory, "out of memory ");
    fio::Close(from);
    fio::Close(to);
    return kErrBinNoMemory;
  }
  uint32_t result = kResultOk;
  for (;;) {
    uint32_t got = 0;
    result = fio::ReadBin(from, buffer, kCopyChunk, kCopyChunk, &got);
    if (result != kResultOk || got == 0 || got > kCopyChunk) break;
    uint32_t written = 0;
    result = fio::WriteBin(to, buffer, got, &written);
    if (written < got) {
      CFG_LOG(kName, kErrBinWrite, "error while writing to Destination File (iWritten %d)",
              static_cast<int>(written));
      result = kErrBinWrite;
      break;
    }
  }
  fio::Close(from);
  fio::Close(to);
  mem::Release(buffer);
  return result;
}
