// SPDX-License-Identifier: BSD-3-Clause
// ASCII configuration files: an INI-style text file held in memory as a doubly linked list of
// line nodes with a list of section nodes over it, optional sorted indexes of each section's
// entries, a process-wide cache of parsed files, and the write-back with a backup copy.
// Failures are reported to the error log under the module "CFG" and the function's name.
#pragma once

#include <cstdint>

#include "support/fileio.h"
#include "support/semaphore.h"

// Line kinds kept in AsciiLine::kind.
constexpr uint32_t kAsciiLineEntry = 0;  // entry line, or a header line read from the file
constexpr uint32_t kAsciiLineOther = 1;  // comment, empty, other line; header made by insertion

// Kinds asked of AsciiInsertEntry.
constexpr uint32_t kAsciiInsertSectionLine = 1;
constexpr uint32_t kAsciiInsertEntryLine = 2;

// Access values of an open ASCII file and of a file-info record.
constexpr uint16_t kAsciiAccessRead = 0;
constexpr uint16_t kAsciiAccessReadWrite = 2;

constexpr uint32_t kAsciiLineBufferSize = 1024;  // one read of the file layer's ReadLine
constexpr uint32_t kAsciiPathSize = 261;         // 260 characters and the terminator
constexpr uint32_t kAsciiIndexStep = 100;        // sorted index grows by this many references

// Modes of AsciiWildcardSearch for the name "*".
constexpr uint32_t kAsciiWildcardFirst = 1;
constexpr uint32_t kAsciiWildcardNext = 2;

// Result codes of this module beyond support/result.h.
constexpr uint32_t kErrAsciiSectionNotFound = 0x81200003;
constexpr uint32_t kErrAsciiEntryNotFound = 0x81200004;
constexpr uint32_t kErrAsciiFileInfo = 0x81300007;
constexpr uint32_t kErrAsciiWrite = 0x81300008;
constexpr uint32_t kErrAsciiTempFile = 0x81F00005;
constexpr uint32_t kErrAsciiOpenFailed = 0x81F00009;

// The name of the lock that guards the file-info cache (process-local).
constexpr char kAsciiFileInfoSemName[] = "CFGFileInfoSem";

// One line of the file, in file order.
struct AsciiLine {
  char* text;             // trimmed text, owned, NUL-terminated; null for an empty line
  uint32_t length;        // bytes of text without the terminator (0 when text is null)
  uint32_t value_offset;  // entry line: just after "="; other lines: 0
  uint32_t kind;          // kAsciiLineEntry or kAsciiLineOther
  AsciiLine* prev;
  AsciiLine* next;
};

// One section header line that has a closing "]", in file order.
struct AsciiSection {
  uint32_t name_offset;  // position of the name within header->text
  uint32_t name_length;
  AsciiLine* header;
  AsciiLine* insert_after;  // last entry line of the section, or the header while it has none
  AsciiLine* last_line;     // last line of any kind
  AsciiLine** index;        // sorted references to entry lines, or null until built
  uint32_t index_count;
  uint32_t index_capacity;
  uint32_t index_cursor;  // used by AsciiWildcardSearch
  AsciiSection* next;
  AsciiSection* prev;
};

// The ASCII part of an open configuration file (embedded in the front end's handle). For an
// ASCII file the file layer's handle of the open file lives here.
struct AsciiFile {
  fio::Handle file;
  char path[kAsciiPathSize];
  uint32_t modified;  // set by changes, cleared when written back
  uint16_t access;    // kAsciiAccessReadWrite or kAsciiAccessRead
  uint32_t complete;  // 1 when the lists hold the whole file (read to its end)
  AsciiLine* first_line;
  AsciiLine* last_line;
  AsciiSection* first_section;
  AsciiLine* header_comment;  // last comment line met before the first section header
};

// One record of the process-wide file-info cache.
struct AsciiFileInfo {
  fio::FileInfo info;  // as fio::GetInfo gave it at the last open or close
  char path[kAsciiPathSize];
  uint32_t parsed;  // 1 when the lists below hold the parsed file
  uint32_t complete;
  AsciiLine* first_line;
  AsciiLine* last_line;
  AsciiSection* first_section;
  AsciiLine* header_comment;
  uint32_t open_count;
  uint16_t access;  // of the last open
  void* retired;    // lists replaced while read-only handles still used them; freed at count 0
  AsciiFileInfo* next;
};

// Sets `file` to an empty state: no handle, no lists, path copied (cut to 260 characters).
void AsciiInitFile(AsciiFile* file, const char* path, uint16_t access);

// Reads the whole file from file->file (current position to the end) into the lists, line by
// line, and parses every line with CheckEntry. Lines longer than the line buffer are read whole.
// Sets file->complete when the end of the file was reached; a read error stops reading and
// leaves complete at 0, so that the file is never written back from partial lists. On an
// allocation failure the lists are freed and 0x81300002 is returned (a failed CheckEntry has
// logged already; a failed node allocation is left to the caller to log).
uint32_t AsciiReadFile(AsciiFile* file);

// Parses one line read from the file into `line` (already linked at the end of the lists):
// trims it, keeps its text, recognises comments, section headers and entries, and updates the
// current section (none for the first line of a file). 0 or 0x81300002.
uint32_t CheckEntry(AsciiFile* file, AsciiLine* line, AsciiSection** current,
                    const char* line_text);

// Frees all section nodes (with their indexes) and line nodes of `file` and clears its heads.
void AsciiFreeLists(AsciiFile* file);

// Name of an entry line (pointer into its text and length); null and 0 for lines without a
// name (comments, other lines, header lines, entries with an empty name).
const char* AsciiEntryName(const AsciiLine* line, uint32_t* length);
// Value of an entry line (NUL-terminated); "" for lines without a value.
const char* AsciiEntryValue(const AsciiLine* line);
// Name of a section (pointer into its header text; not terminated) and its length.
const char* AsciiSectionName(const AsciiSection* section, uint32_t* length);

// Finds a section by name (case counts). 0 and the section; else 0x81200003 with *section =
// the last section node (or null) and *following = null.
uint32_t AsciiFindSection(const AsciiFile* file, const char* name, AsciiSection** section,
                          AsciiSection** following);

// Finds an entry of `section` by a linear walk (case counts; first match). 0 or 0x81200004.
uint32_t AsciiFindEntry(const AsciiFile* file, const char* name, const AsciiSection* section,
                        AsciiLine** line);

// Finds an entry through the section's sorted index, building the index first when it is
// missing. 0 with the line and its index position; 0x81200004 with the position at which the
// name is to be inserted (0 for an empty index); 0x81300002 when the index cannot be built.
uint32_t AsciiFindSortedEntry(AsciiSection* section, const char* name, AsciiLine** line,
                              uint32_t* position);

// Inserts a line: kind 1 makes the header line "[name]" after the last line of `section` (the
// previous section; null: after the file's last line); kind 2 makes the entry line
// "name=value" (value_length bytes of value) after the section's insertion point. 0 or
// 0x81300002.
uint32_t AsciiInsertEntry(AsciiFile* file, const char* value, uint32_t value_length,
                          const char* name, AsciiSection* section, AsciiLine** line, uint32_t kind);

// Makes a section node for `header` (name at name_offset, name_length bytes) and links it
// after `previous` (null: as the first section). 0 or 0x81300002.
uint32_t AsciiInsertSection(AsciiFile* file, uint32_t name_offset, uint32_t name_length,
                            AsciiSection* previous, AsciiSection** section, AsciiLine* header);

// Replaces the value of an entry line by value_length bytes of `value`. 0 or 0x81300002.
uint32_t AsciiAlterEntry(AsciiFile* file, const char* value, uint32_t value_length,
                         AsciiLine* line);

// Unlinks and frees a line; the previous line takes over the roles of file's last line and of
// the section's insertion point and last line. The caller removes it from the index. 0.
uint32_t AsciiDelEntry(AsciiFile* file, AsciiLine* line, AsciiSection* section);

// Deletes a section's header line and all its lines, unlinks and frees the node and its
// index. 0.
uint32_t AsciiDelSection(AsciiFile* file, AsciiSection* section);

// Adds the comment line ";" + text_length bytes of text after the header-comment line (before
// the first line when there is none) and makes it the header-comment line. 0 or 0x81300002.
uint32_t AsciiAddComment(AsciiFile* file, const char* text, uint32_t text_length);

// Orders two names: compared over the shorter length as unsigned bytes, then shorter first.
int AsciiCompareNames(const char* a, uint32_t a_length, const char* b, uint32_t b_length);

// Binary search of the section's index. Returns 1 when found, else 0; *position is the match
// (the first one in find-first mode) or where the name would be inserted. In prefix mode the
// name matches every indexed name it is a leading part of.
uint32_t AsciiSearchSortList(const AsciiSection* section, const char* name, uint32_t name_length,
                             uint32_t prefix_mode, uint32_t find_first, uint32_t* position);

// Builds the section's index from its entry lines in file order (a name is indexed once, with
// its first line). 0 or 0x81300002.
uint32_t AsciiBuildSortList(AsciiSection* section);

// Inserts a reference to `line` at `position` of the index (created when missing; grows by
// 100). 0 or 0x81300002.
uint32_t AsciiInsertSortList(AsciiSection* section, uint32_t position, AsciiLine* line);

// Removes the reference at `position` from the index. 0, or 0x81300006 for a bad position.
uint32_t AsciiDelSortList(AsciiSection* section, uint32_t position);

// Wildcard lookup in the index (built when missing): "*" gives the first entry (mode 1) or the
// one after the cursor (mode 2); "abc*" the first entry starting with "abc"; any other name
// the entry of that name. The cursor is set to the position returned. 0 or 0x81200004.
uint32_t AsciiWildcardSearch(AsciiSection* section, const char* name, uint32_t mode,
                             AsciiLine** line);

// The lock "CFGFileInfoSem" that guards the cache; the front end initialises it.
sem::Semaphore* AsciiFileInfoSem();

// On open (the caller holds the lock): finds or adds the cache record of `path`. 0 with the
// record (record->parsed tells whether its lists can be used); 0x81300007 when the file's
// information cannot be read; 0x81F00009 when the file is open elsewhere in a conflicting way.
uint32_t AsciiCheckFileInfo(const char* path, AsciiFileInfo** record, uint16_t access);
// On close (takes the lock itself): decreases the record's open count, stores the file's
// current information and the handle's lists in it. 0, 0x81300007 or 0x8130000A.
uint32_t AsciiCheckFileInfo(AsciiFile* file);
// On close after a failed write-back (takes the lock itself): decreases the record's open count
// and frees the writer's lists, leaving the record unparsed so that the next opener reads the
// disk. 0 or 0x8130000A.
uint32_t AsciiDropFileInfo(AsciiFile* file);
// Copies the cached lists into the handle, or the handle's lists into the record (parsed = 1).
void AsciiTakeCachedLists(AsciiFile* file, const AsciiFileInfo* record);
void AsciiStoreCachedLists(AsciiFileInfo* record, const AsciiFile* file);
// Frees every record and its lists; for tests and the end of the process.
void AsciiResetFileInfoCache();

// Writes all lines back to file->path (each followed by "\r\n"): the new content is saved
// beside the file and takes its place only when whole (platform/file.h), so that a failure or
// a crash leaves the previous content; a backup copy is made first and deleted at the end.
// Clears the modified flag. 0, 0x81300008 (read-only or incompletely read), 0x81300002 or
// 0x81F00005. file->file is left open.
uint32_t WriteDownBuffer(AsciiFile* file);
// Picks the backup file name for `path` into `name` of `size` bytes. 0, 0x81300002 or
// 0x81F00005.
uint32_t CreateFileName(const char* path, char* name, uint32_t size);
// Copies the backup `backup` back over `path`. 0 or the file layer's code (logged).
uint32_t RestoreFile(const char* path, const char* backup);
// Deletes the backup. 0 or the file layer's code (logged).
uint32_t DelBackupFile(const char* backup);
