// SPDX-License-Identifier: BSD-3-Clause
// The configuration-file front end: five operations over ASCII (INI-style) and binary
// configuration files. Callers name a section and an entry by text and never see the layout.
// Process-wide switches chosen by Init decide how ASCII files are handled: by our own line lists
// (optionally with sorted indexes and a cache shared between handles) or by the private-profile
// service. Every failure is reported to the error log under "CFG" and the operation's name.
#pragma once

#include <cstdint>

#include "config/ascii.h"
#include "config/binary.h"
#include "support/fileio.h"

namespace cfg {

// Type codes; the low bit asks for read-only access.
constexpr uint32_t kTypeBinary = 0x02040506;
constexpr uint32_t kTypeBinaryReadOnly = 0x02040507;
constexpr uint32_t kTypeAscii = 0x32323232;
constexpr uint32_t kTypeAsciiReadOnly = 0x32323233;
constexpr uint32_t kTypeReadOnlyBit = 1;

// Open results.
constexpr uint32_t kOpenCreated = 1;       // a new file was created
constexpr uint32_t kOpenReadWrite = 2;     // opened for reading and writing
constexpr uint32_t kOpenReadOnly = 0x102;  // an existing file opened for reading only

// Result codes of the front end (the others come from support/result.h).
constexpr uint32_t kErrNoHandle = 0x81000000;   // no handle; for OpenFile no path
constexpr uint32_t kErrNoSection = 0x81000001;  // no section; for OpenFile no or a bad type
constexpr uint32_t kErrNoOpenResult = 0x81000002;
constexpr uint32_t kErrNoBuffer = 0x81000003;  // no output buffer; for OpenFile no handle
constexpr uint32_t kErrNoLength = 0x81000004;
constexpr uint32_t kErrInvalidFile = 0x81200002;
constexpr uint32_t kErrSectionNotFound = 0x81200003;
constexpr uint32_t kErrEntryNotFound = 0x81200004;
constexpr uint32_t kErrWrite = 0x81300008;      // write error, or the file is open for reading only
constexpr uint32_t kErrSemaphore = 0x8130000A;  // lock failure, or no temporary buffer is enough
constexpr uint32_t kErrOpenFile = 0x81F00009;

// The handle of an open file, allocated zero-filled by OpenFile and freed by CloseFile.
struct CfgHandle {
  // The file layer's handle of a binary file. ASCII files keep theirs in `ascii.file`. A
  // binary file whose header carries the ASCII type code has an ASCII type and keeps its file
  // here; it has no lines and takes no changes.
  fio::Handle file;
  uint32_t type;  // the type code without the read-only bit
  // The switches in force when the file was opened; they decide how the handle is served.
  uint32_t sorted_lists;
  uint32_t profile_mode;
  uint32_t file_info_cache;
  AsciiFile ascii;  // lines, sections, path, modified flag, access
  BinCursor binary;
};

// Stores the switches (0 off, anything else on). With the file-info cache on it makes the
// process-local lock "CFGFileInfoSem"; its failure gives 0x8130000A.
uint32_t Init(uint32_t sorted_lists, uint32_t profile_mode, uint32_t file_info_cache);

// Opens `path` as a file of the kind *type names. On success *handle is set, *open_result tells
// kOpenCreated, kOpenReadWrite or kOpenReadOnly, and for a binary file *type becomes the code
// of its header (with the read-only bit when opened for reading only).
uint32_t OpenFile(const char* path, uint32_t* type, uint32_t* open_result, CfgHandle** handle);

// Section and entry: the entry's value. Section, no entry: the names of the section's entries.
// No section: the names of all sections. Lists are NUL-terminated names ended by an empty one.
// *length gives the buffer's size on entry and the bytes delivered or needed on return.
uint32_t QueryData(CfgHandle* handle, const char* section, const char* entry, char* buffer,
                   uint32_t* length);

// Entry and value: creates or replaces the value (`length` bytes including the terminator),
// creating the section when needed. Entry, no value: deletes the entry. No entry: deletes the
// section with all its entries.
uint32_t WriteData(CfgHandle* handle, const char* section, const char* entry, const char* value,
                   uint32_t length);

// Writes back what changed, closes the file and frees the handle. When writing back fails the
// result is returned and the handle stays open.
uint32_t CloseFile(CfgHandle* handle);

}  // namespace cfg
