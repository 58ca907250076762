// SPDX-License-Identifier: BSD-3-Clause
// Binary configuration files: a 64-byte header followed by chains of fixed-size blocks. Section
// blocks (540 bytes, the first at offset 64) hold section records; each section record points to
// a chain of entry blocks (288 bytes) whose records point to the values, which lie outside any
// block. Every multi-byte field in the file is a 32-bit unsigned integer, most significant byte
// first, read and written field by field. The file only grows: blocks and values are appended,
// deleted records leave their space unused.
//
// A file comes from outside: every block read is checked (own offset, bytes in use, record count
// and record lengths, chain order) before anything looks into it, and a block that fails the
// check is answered kErrBinInvalidFile.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/fileio.h"

// Layout of the file.
constexpr uint32_t kBinHeaderSize = 64;
constexpr uint32_t kBinTitleSize = 40;   // "Morrowplane Configuration File", NUL-padded
constexpr uint32_t kBinFormatSize = 10;  // "BINARY", NUL-padded
constexpr uint32_t kBinTypeOffset = kBinTitleSize + kBinFormatSize;  // 50
constexpr uint32_t kBinReservedSize = 10;                            // zero
constexpr char kBinTitle[] = "Morrowplane Configuration File";
constexpr char kBinFormat[] = "BINARY";
constexpr uint32_t kBinTypeCode = 0x02040506;       // binary file, as stored in the header
constexpr uint32_t kBinAsciiTypeCode = 0x32323232;  // also accepted in a header

constexpr uint32_t kBinBlockHeadSize = 16;  // bytes in use, own offset, next offset, count
constexpr uint32_t kBinSectionBlockSize = 540;
constexpr uint32_t kBinEntryBlockSize = 288;
constexpr uint32_t kBinSectionRecordsSize = kBinSectionBlockSize - kBinBlockHeadSize;  // 524
constexpr uint32_t kBinEntryRecordsSize = kBinEntryBlockSize - kBinBlockHeadSize;      // 272
constexpr uint32_t kBinFirstSectionBlock = kBinHeaderSize;                             // 64
constexpr uint32_t kBinNoBlock = 0xFFFFFFFF;  // next offset of the last block of a chain

// A section record is the name plus 12 bytes (length, entry-block offset, terminator and three
// zero bytes); an entry record the name plus 16 (length, value offset, value length, terminator
// and three zero bytes).
constexpr uint32_t kBinSectionRecordExtra = 12;
constexpr uint32_t kBinEntryRecordExtra = 16;
constexpr uint32_t kBinSectionNameOffset = 8;  // in a section record
constexpr uint32_t kBinEntryNameOffset = 12;   // in an entry record
// Longest names that fit into an empty block.
constexpr uint32_t kBinMaxSectionName = kBinSectionRecordsSize - kBinSectionRecordExtra;  // 512
constexpr uint32_t kBinMaxEntryName = kBinEntryRecordsSize - kBinEntryRecordExtra;        // 256

static_assert(kBinTitleSize + kBinFormatSize + 4 + kBinReservedSize == kBinHeaderSize,
              "the file header is 64 bytes");
static_assert(kBinTypeOffset == 50, "the type code lies at offset 50 of the header");
static_assert(kBinSectionBlockSize == 540, "a section block is 540 bytes");
static_assert(kBinEntryBlockSize == 288, "an entry block is 288 bytes");
static_assert(kBinMaxSectionName == 512 && kBinMaxEntryName == 256, "longest names");

// Walk modes of BinSearchSection and BinSearchEntry.
constexpr uint32_t kBinFirst = 1;
constexpr uint32_t kBinNext = 2;

// Result codes of this module (besides those of the file layer, passed on unchanged).
constexpr uint32_t kErrBinHandle = 0x81000000;       // file handle or cursor missing
constexpr uint32_t kErrBinSection = 0x81000001;      // section name (or record) missing, too long
constexpr uint32_t kErrBinEntry = 0x81000002;        // entry name (or record) missing, too long
constexpr uint32_t kErrBinValue = 0x81000003;        // value or buffer missing
constexpr uint32_t kErrBinLength = 0x81000004;       // length missing
constexpr uint32_t kErrBinInvalidFile = 0x81200002;  // not a valid binary configuration file
constexpr uint32_t kErrBinSectionNotFound = 0x81200003;
constexpr uint32_t kErrBinEntryNotFound = 0x81200004;
constexpr uint32_t kErrBinNoMemory = 0x81300002;
constexpr uint32_t kErrBinBufferTooSmall = 0x81300003;
constexpr uint32_t kErrBinRead = 0x81300007;
constexpr uint32_t kErrBinWrite = 0x81300008;
constexpr uint32_t kErrBinSequence = 0x8130000A;  // no current section or entry under the cursor
constexpr uint32_t kErrBinOpen = 0x81F00009;
constexpr uint32_t kErrBinEndOfFile = 0x81F0000F;

// The file header in native form.
struct BinFileHeader {
  char title[kBinTitleSize + 1];    // terminated
  char format[kBinFormatSize + 1];  // terminated
  uint32_t type_code;
};

// The 16-byte head of every block, in native form.
struct BinBlockHead {
  uint32_t used;         // bytes in use, counting the head and all records
  uint32_t own_offset;   // the block's own file offset
  uint32_t next_offset;  // next block of the chain, kBinNoBlock for none
  uint32_t count;        // number of records
};

// A block in memory: the head in native form, the records exactly as they are in the file
// (big-endian); the records are only ever read and changed through this module's functions.
struct BinSectionBlock {
  BinBlockHead head;
  uint8_t records[kBinSectionRecordsSize];
};
struct BinEntryBlock {
  BinBlockHead head;
  uint8_t records[kBinEntryRecordsSize];
};
static_assert(sizeof(BinSectionBlock) == kBinSectionBlockSize, "section block in memory");
static_assert(sizeof(BinEntryBlock) == kBinEntryBlockSize, "entry block in memory");

// A section record in native form, as the walk hands it out.
struct BinSectionRecord {
  uint32_t length;       // name length + 12
  uint32_t entry_block;  // file offset of the section's first entry block
  char name[kBinMaxSectionName + 1];
};

// An entry record in native form.
struct BinEntryRecord {
  uint32_t length;        // name length + 16
  uint32_t value_offset;  // file offset of the value
  uint32_t value_length;  // value length in bytes, as the writer gave it
  char name[kBinMaxEntryName + 1];
};

// The cursor a handle keeps between calls: the section block and the entry block under the
// cursor, with the 1-based index and the position (offset from the block's start) of the
// current record in each. An all-zero cursor (a zero-filled handle) is the state of a freshly
// opened file. The *_status fields tell why the last walk stopped: 0 at the clean end of the
// chain, else the code of the failure (kErrBinInvalidFile for a corrupted block); adding to a
// chain whose walk failed is refused with that code.
struct BinCursor {
  BinSectionBlock section_block;
  uint32_t section_index;   // 1-based; beyond the count when the cursor is after the last record
  uint32_t section_pos;     // offset in the block of the current (or next free) record
  uint32_t section_loaded;  // 1 when section_block holds a block read from (or written to) file
  uint32_t section_status;
  BinEntryBlock entry_block;
  uint32_t entry_index;
  uint32_t entry_pos;
  uint32_t entry_loaded;
  uint32_t entry_status;
};

// --- Header --------------------------------------------------------------------------------

// Fills `out` (at least 64 bytes) with the header of a binary file: title, "BINARY", type code.
uint32_t BinEncodeHeader(uint8_t* out, uint32_t size, uint32_t type_code);
// Parses 64 header bytes; fewer bytes give kErrBinInvalidFile. The type code is not judged.
uint32_t BinDecodeHeader(const uint8_t* in, uint32_t size, BinFileHeader* header);
// Writes the 64-byte header at offset 0 of a new file. Returns the write's result (0 when all
// 64 bytes were written, else the file layer's code or kErrBinWrite); *written = bytes written.
uint32_t BinCreateHeader(fio::Handle file, uint32_t* written);
// Reads the header at offset 0. Fewer than 64 bytes, a read error, or a type code that is neither
// kBinTypeCode nor kBinAsciiTypeCode: kErrBinInvalidFile. Else 0 and *type_code set.
uint32_t BinCheckHeader(fio::Handle file, uint32_t* type_code);

// --- Blocks and values ---------------------------------------------------------------------

// Read the block at `offset` into `block` and check it. A read error is passed on; 0 bytes read
// give kErrBinEndOfFile; a block that fails the check gives kErrBinInvalidFile. A short read
// (the file ends inside the block) is accepted, the rest counts as zero.
uint32_t BinReadSectionBlock(fio::Handle file, uint32_t offset, BinSectionBlock* block);
uint32_t BinReadEntryBlock(fio::Handle file, uint32_t offset, BinEntryBlock* block);
// Write the whole block, big-endian, at its own offset. Failure: kErrBinWrite.
uint32_t BinWriteSectionBlock(fio::Handle file, const BinSectionBlock* block);
uint32_t BinWriteEntryBlock(fio::Handle file, const BinEntryBlock* block);
// Writes `length` bytes of `value` at the record's value offset; fewer written: kErrBinWrite.
uint32_t BinWriteEntryValue(fio::Handle file, const BinEntryRecord* record, const void* value,
                            uint32_t length);
// Reads the record's value. No buffer: *length = the stored length, 0. *length below the stored
// length: *length = the stored length, kErrBinBufferTooSmall. Else *length = the stored length
// and the value is read; a value that the file does not hold in full gives kErrBinInvalidFile.
uint32_t BinReadEntryValue(fio::Handle file, const BinEntryRecord* record, void* buffer,
                           uint32_t* length);

// --- Walking -------------------------------------------------------------------------------

// mode kBinFirst starts at the first section block, kBinNext moves on. Non-zero and *record set
// (record may be null) when there is a record; 0 at the end of the chain or on a failure (see
// BinCursor::section_status). Blocks without records are passed over.
uint32_t BinSearchSection(fio::Handle file, BinCursor* cursor, uint32_t mode,
                          BinSectionRecord* record);
// The same over the entries of the current section.
uint32_t BinSearchEntry(fio::Handle file, BinCursor* cursor, uint32_t mode, BinEntryRecord* record);
// Walks the sections from the first and stops at the record whose name equals `name`. Non-zero
// when found (the cursor rests on it); 0 when not (the cursor rests after the last record of the
// last section block).
uint32_t BinFindSection(fio::Handle file, BinCursor* cursor, const char* name,
                        BinSectionRecord* record);
// The same over the entries of the current section.
uint32_t BinFindEntry(fio::Handle file, BinCursor* cursor, const char* name,
                      BinEntryRecord* record);

// --- Changes -------------------------------------------------------------------------------

// Adds a section with its first entry; called after BinFindSection failed. A section name
// longer than 512 characters gives kErrBinSection, an entry name longer than 256 kErrBinEntry,
// both before anything is written. The result is that of the value write.
uint32_t BinAddSection(fio::Handle file, BinCursor* cursor, const char* section, const char* entry,
                       const void* value, uint32_t length);
// Adds an entry to the current section; called after BinFindEntry failed. An entry name longer
// than 256 characters gives kErrBinEntry. The result is that of the value write.
uint32_t BinAddEntry(fio::Handle file, BinCursor* cursor, const char* entry, const void* value,
                     uint32_t length);
// Replaces the value of the current entry; a longer value moves to the end of the file.
uint32_t BinUpdateEntry(fio::Handle file, BinCursor* cursor, const void* value, uint32_t length);
// Removes the named section record (its entry blocks and values stay unreferenced in the file).
// Not found: kErrBinSectionNotFound.
uint32_t BinDeleteSection(fio::Handle file, BinCursor* cursor, const char* name);
// Removes the named entry record of the current section. Not found: kErrBinEntryNotFound.
uint32_t BinDeleteEntry(fio::Handle file, BinCursor* cursor, const char* name);

// Copies the file `source` to `destination` (replaced unless read-only) in 4,096-byte pieces.
uint32_t BinCopyFile(const char* destination, const char* source);
