// SPDX-License-Identifier: BSD-3-Clause
// ASCII configuration files: reading and parsing the lines, the line and section lists, the
// lookups by name and the changes made in memory (insert, alter, delete, comment).
#include <cstring>

#include "config/ascii.h"
#include "config/messages.h"
#include "support/errlog.h"
#include "support/memory.h"
#include "support/result.h"
#include "support/strings.h"

namespace {

constexpr char kModule[] = "CFG";

#define CFG_LOG(function, code, ...) ErrLogWrite(1, kModule, function, __LINE__, code, __VA_ARGS__)

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

uint32_t LogNoMemory(const char* function) {
  CFG_LOG(function, kErrNotEnoughMemory, "%s", MessageTextEn(kErrNotEnoughMemory));
  return kErrNotEnoughMemory;
}

// A terminated copy of `length` bytes of `text` (which may hold fewer before a NUL); null when
// the allocation fails.
char* CopyText(const char* text, uint32_t length) {
  char* copy = static_cast<char*>(mem::Allocate(static_cast<size_t>(length) + 1));
  if (copy && length > 0) std::memcpy(copy, text, length);
  return copy;
}

// Bytes of `value` before its first NUL, at most `length`.
uint32_t BoundedLength(const char* value, uint32_t length) {
  if (!value) return 0;
  const void* nul = std::memchr(value, '\0', length);
  return nul ? static_cast<uint32_t>(static_cast<const char*>(nul) - value) : length;
}

// Links `line` after `after`; with no `after` it becomes the first line of the file.
void LinkAfter(AsciiFile* file, AsciiLine* after, AsciiLine* line) {
  if (!after) {
    line->prev = nullptr;
    line->next = file->first_line;
    if (file->first_line) file->first_line->prev = line;
    file->first_line = line;
    if (!file->last_line) file->last_line = line;
    return;
  }
  line->prev = after;
  line->next = after->next;
  if (after->next) after->next->prev = line;
  after->next = line;
  if (file->last_line == after) file->last_line = line;
}

void FreeLine(AsciiLine* line) {
  mem::Release(line->text);
  mem::Release(line);
}

void FreeSection(AsciiSection* section) {
  mem::Release(section->index);
  mem::Release(section);
}

// The first line after the section's lines: the next section's header line, or none.
const AsciiLine* SectionEnd(const AsciiSection* section) {
  return section->next ? section->next->header : nullptr;
}

// Appends one line read from the file and parses it.
uint32_t AppendReadLine(AsciiFile* file, AsciiSection** current, const char* text) {
  AsciiLine* line = static_cast<AsciiLine*>(mem::Allocate(sizeof(AsciiLine)));
  if (!line) return kErrNotEnoughMemory;
  LinkAfter(file, file->last_line, line);
  return CheckEntry(file, line, current, text);
}

// Reads one whole line: the first piece into `buffer`; the pieces of a line longer than the
// buffer are joined in `*joined` (allocated here, released by the caller). Returns the file
// layer's code of the last ReadLine (0, or end of file / error with nothing read), or
// kErrNotEnoughMemory; *text is the line read.
uint32_t ReadWholeLine(fio::Handle handle, char* buffer, char** joined, const char** text) {
  *text = buffer;
  uint32_t result = fio::ReadLine(handle, buffer, kAsciiLineBufferSize);
  if (result != kFioBufferOverflow) return result;
  uint32_t length = SafeStrLen(buffer);
  uint32_t capacity = 4 * kAsciiLineBufferSize;
  char* whole = static_cast<char*>(mem::Allocate(capacity));
  if (!whole) return kErrNotEnoughMemory;
  std::memcpy(whole, buffer, length);
  *joined = whole;
  *text = whole;
  for (;;) {
    result = fio::ReadLine(handle, buffer, kAsciiLineBufferSize);
    if (result != kResultOk && result != kFioBufferOverflow) {
      // The line ran up to the end of the file (or the file broke off); keep what was read.
      whole[length] = '\0';
      return result == kFioEndOfFile ? kResultOk : result;
    }
    uint32_t piece = SafeStrLen(buffer);
    if (length + piece + 1 > capacity) {
      capacity = 2 * (length + piece + 1);
      char* grown = static_cast<char*>(mem::Reallocate(whole, capacity));
      if (!grown) return kErrNotEnoughMemory;
      whole = grown;
      *joined = whole;
      *text = whole;
    }
    std::memcpy(whole + length, buffer, piece);
    length += piece;
    whole[length] = '\0';
    if (result == kResultOk) return kResultOk;
  }
}

// True when nothing but an end-of-file mark (0x1A) lies at or after `line_start`, where the
// file layer reported the end: it stops at such a mark, and bytes behind it would be lost by a
// write-back.
bool AtEndOfFile(fio::Handle handle, uint32_t line_start) {
  uint32_t size = 0;
  if (fio::Seek(handle, 0, 2, &size) != kResultOk) return false;
  return size <= line_start + 1;
}

}  // namespace

void AsciiInitFile(AsciiFile* file, const char* path, uint16_t access) {
  if (!file) return;
  std::memset(file, 0, sizeof(*file));
  file->file = fio::kNoHandle;
  SafeStrCopy(file->path, sizeof file->path, path ? path : "");
  file->access = access;
}

uint32_t AsciiReadFile(AsciiFile* file) {
  if (!file) return kErrIllegalArgument;
  file->complete = 0;
  AsciiSection* current = nullptr;
  char buffer[kAsciiLineBufferSize];
  for (;;) {
    char* joined = nullptr;
    const char* text = nullptr;
    uint32_t line_start = 0;
    if (fio::Tell(file->file, &line_start) != kResultOk) return kResultOk;
    uint32_t result = ReadWholeLine(file->file, buffer, &joined, &text);
    if (result == kFioEndOfFile) {
      file->complete = AtEndOfFile(file->file, line_start) ? 1 : 0;
      return kResultOk;
    }
    if (result == kResultOk) result = AppendReadLine(file, &current, text);
    mem::Release(joined);
    if (result == kErrNotEnoughMemory) {
      AsciiFreeLists(file);
      return kErrNotEnoughMemory;
    }
    // Any other failure of the file layer ends the reading; `complete` stays 0 so that the
    // partial lists are never written over the file.
    if (result != kResultOk) return kResultOk;
  }
}

uint32_t CheckEntry(AsciiFile* file, AsciiLine* line, AsciiSection** current,
                    const char* line_text) {
  if (!file || !line || !current || !line_text) return kErrIllegalArgument;
  uint32_t begin = 0;
  uint32_t end = SafeStrLen(line_text);
  while (begin < end && IsBlank(line_text[begin]))
    ++begin;
  while (end > begin && IsBlank(line_text[end - 1]))
    --end;
  const char* text = line_text + begin;
  const uint32_t length = end - begin;

  line->text = nullptr;
  line->length = 0;
  line->value_offset = 0;
  line->kind = kAsciiLineOther;
  bool comment = false;
  if (length > 0) {
    comment = text[0] == '#' || text[0] == ';';
    uint32_t mark = 0;
    while (!comment && mark < length && text[mark] != '[' && text[mark] != '=')
      ++mark;
    if (!comment && mark < length && text[mark] == '=') {
      // An entry line: the name loses its trailing blanks, the value its leading ones.
      uint32_t name_end = mark;
      while (name_end > 0 && IsBlank(text[name_end - 1]))
        --name_end;
      uint32_t value = mark + 1;
      while (value < length && IsBlank(text[value]))
        ++value;
      const uint32_t kept = name_end + 1 + (length - value);
      line->text = static_cast<char*>(mem::Allocate(static_cast<size_t>(kept) + 1));
      if (!line->text) return LogNoMemory("CheckEntry");
      std::memcpy(line->text, text, name_end);
      line->text[name_end] = '=';
      std::memcpy(line->text + name_end + 1, text + value, length - value);
      line->length = kept;
      line->value_offset = name_end + 1;
      line->kind = kAsciiLineEntry;
      if (*current) {
        (*current)->insert_after = line;
        (*current)->last_line = line;
      }
      return kResultOk;
    }
    line->text = CopyText(text, length);
    if (!line->text) return LogNoMemory("CheckEntry");
    line->length = length;
    if (!comment && mark < length) {
      // A section header line; it makes a section only when its name is closed by "]".
      line->kind = kAsciiLineEntry;
      const char* close =
          static_cast<const char*>(std::memchr(text + mark + 1, ']', length - mark - 1));
      if (close) {
        AsciiSection* section = nullptr;
        uint32_t result =
            AsciiInsertSection(file, mark + 1, static_cast<uint32_t>(close - text) - mark - 1,
                               *current, &section, line);
        if (result != kResultOk) return result;
        *current = section;
        return kResultOk;
      }
      // Without "]" the line stays inside the current section as one of its lines.
      if (*current) (*current)->last_line = line;
      return kResultOk;
    }
  }
  if (!*current) {
    if (comment) file->header_comment = line;
  } else {
    (*current)->last_line = line;
  }
  return kResultOk;
}

void AsciiFreeLists(AsciiFile* file) {
  if (!file) return;
  for (AsciiSection* section = file->first_section; section;) {
    AsciiSection* next = section->next;
    FreeSection(section);
    section = next;
  }
  for (AsciiLine* line = file->first_line; line;) {
    AsciiLine* next = line->next;
    FreeLine(line);
    line = next;
  }
  file->first_section = nullptr;
  file->first_line = nullptr;
  file->last_line = nullptr;
  file->header_comment = nullptr;
}

const char* AsciiEntryName(const AsciiLine* line, uint32_t* length) {
  if (length) *length = 0;
  if (!line || !line->text || line->kind != kAsciiLineEntry || line->value_offset < 2) {
    return nullptr;
  }
  if (length) *length = line->value_offset - 1;
  return line->text;
}

const char* AsciiEntryValue(const AsciiLine* line) {
  if (!line || !line->text || line->kind != kAsciiLineEntry || line->value_offset == 0) return "";
  return line->text + line->value_offset;
}

const char* AsciiSectionName(const AsciiSection* section, uint32_t* length) {
  if (length) *length = 0;
  if (!section || !section->header || !section->header->text) return nullptr;
  if (length) *length = section->name_length;
  return section->header->text + section->name_offset;
}

uint32_t AsciiFindSection(const AsciiFile* file, const char* name, AsciiSection** section,
                          AsciiSection** following) {
  if (!file || !name || !section || !following) return kErrIllegalArgument;
  const uint32_t length = SafeStrLen(name);
  AsciiSection* last = nullptr;
  for (AsciiSection* node = file->first_section; node; node = node->next) {
    uint32_t node_length = 0;
    const char* node_name = AsciiSectionName(node, &node_length);
    if (node_name && node_length == length && std::memcmp(node_name, name, length) == 0) {
      *section = node;
      *following = node->next;
      return kResultOk;
    }
    last = node;
  }
  *section = last;
  *following = nullptr;
  return kErrAsciiSectionNotFound;
}

uint32_t AsciiFindEntry(const AsciiFile* file, const char* name, const AsciiSection* section,
                        AsciiLine** line) {
  if (!file || !name || !section || !section->header || !line) return kErrIllegalArgument;
  *line = nullptr;
  const uint32_t length = SafeStrLen(name);
  const AsciiLine* end = SectionEnd(section);
  for (AsciiLine* node = section->header->next; node && node != end; node = node->next) {
    uint32_t node_length = 0;
    const char* node_name = AsciiEntryName(node, &node_length);
    if (node_name && node_length == length && std::memcmp(node_name, name, length) == 0) {
      *line = node;
      return kResultOk;
    }
  }
  return kErrAsciiEntryNotFound;
}

uint32_t AsciiInsertEntry(AsciiFile* file, const char* value, uint32_t value_length,
                          const char* name, AsciiSection* section, AsciiLine** line,
                          uint32_t kind) {
  if (!file || !name || !line ||
      (kind != kAsciiInsertSectionLine && kind != kAsciiInsertEntryLine) ||
      (kind == kAsciiInsertEntryLine && !section) || (value_length > 0 && !value)) {
    return kErrIllegalArgument;
  }
  const uint32_t name_length = SafeStrLen(name);
  const uint32_t kept = kind == kAsciiInsertSectionLine ? 0 : BoundedLength(value, value_length);
  const uint32_t length = name_length + 2 - (kind == kAsciiInsertEntryLine ? 1 : 0) + kept;
  AsciiLine* node = static_cast<AsciiLine*>(mem::Allocate(sizeof(AsciiLine)));
  char* text = static_cast<char*>(mem::Allocate(static_cast<size_t>(length) + 1));
  if (!node || !text) {
    mem::Release(node);
    mem::Release(text);
    return LogNoMemory("AsciiInsertEntry");
  }
  node->text = text;
  node->length = length;
  if (kind == kAsciiInsertSectionLine) {
    text[0] = '[';
    std::memcpy(text + 1, name, name_length);
    text[name_length + 1] = ']';
    node->kind = kAsciiLineOther;
    LinkAfter(file, section ? section->last_line : file->last_line, node);
  } else {
    std::memcpy(text, name, name_length);
    text[name_length] = '=';
    if (kept > 0) std::memcpy(text + name_length + 1, value, kept);
    node->value_offset = name_length + 1;
    node->kind = kAsciiLineEntry;
    LinkAfter(file, section->insert_after, node);
    if (section->insert_after == section->last_line) section->last_line = node;
    section->insert_after = node;
  }
  *line = node;
  return kResultOk;
}

uint32_t AsciiInsertSection(AsciiFile* file, uint32_t name_offset, uint32_t name_length,
                            AsciiSection* previous, AsciiSection** section, AsciiLine* header) {
  if (!file || !section || !header) return kErrIllegalArgument;
  AsciiSection* node = static_cast<AsciiSection*>(mem::Allocate(sizeof(AsciiSection)));
  if (!node) return LogNoMemory("AsciiInsertSection");
  node->name_offset = name_offset;
  node->name_length = name_length;
  node->header = header;
  node->insert_after = header;
  node->last_line = header;
  node->prev = previous;
  node->next = previous ? previous->next : file->first_section;
  if (node->next) node->next->prev = node;
  if (previous) {
    previous->next = node;
  } else {
    file->first_section = node;
  }
  *section = node;
  return kResultOk;
}

uint32_t AsciiAlterEntry(AsciiFile* file, const char* value, uint32_t value_length,
                         AsciiLine* line) {
  if (!file || !line || !line->text || line->kind != kAsciiLineEntry || line->value_offset == 0 ||
      (value_length > 0 && !value)) {
    return kErrIllegalArgument;
  }
  const uint32_t kept = BoundedLength(value, value_length);
  char* text =
      static_cast<char*>(mem::Allocate(static_cast<size_t>(line->value_offset) + kept + 1));
  if (!text) return LogNoMemory("AsciiAlterEntry");
  std::memcpy(text, line->text, line->value_offset);
  if (kept > 0) std::memcpy(text + line->value_offset, value, kept);
  mem::Release(line->text);
  line->text = text;
  line->length = line->value_offset + kept;
  return kResultOk;
}

uint32_t AsciiDelEntry(AsciiFile* file, AsciiLine* line, AsciiSection* section) {
  if (!file || !line) return kErrIllegalArgument;
  if (line->prev) {
    line->prev->next = line->next;
  } else {
    file->first_line = line->next;
  }
  if (line->next) line->next->prev = line->prev;
  if (file->last_line == line) file->last_line = line->prev;
  if (file->header_comment == line) file->header_comment = nullptr;
  if (section) {
    if (section->insert_after == line) section->insert_after = line->prev;
    if (section->last_line == line) section->last_line = line->prev;
  }
  FreeLine(line);
  return kResultOk;
}

uint32_t AsciiDelSection(AsciiFile* file, AsciiSection* section) {
  if (!file || !section || !section->header) return kErrIllegalArgument;
  const AsciiLine* end = SectionEnd(section);
  for (AsciiLine* line = section->header; line && line != end;) {
    AsciiLine* next = line->next;
    AsciiDelEntry(file, line, nullptr);
    line = next;
  }
  if (section->prev) {
    section->prev->next = section->next;
  } else {
    file->first_section = section->next;
  }
  if (section->next) section->next->prev = section->prev;
  FreeSection(section);
  return kResultOk;
}

uint32_t AsciiAddComment(AsciiFile* file, const char* text, uint32_t text_length) {
  if (!file || (text_length > 0 && !text)) return kErrIllegalArgument;
  const uint32_t kept = BoundedLength(text, text_length);
  AsciiLine* node = static_cast<AsciiLine*>(mem::Allocate(sizeof(AsciiLine)));
  char* copy = static_cast<char*>(mem::Allocate(static_cast<size_t>(kept) + 2));
  if (!node || !copy) {
    mem::Release(node);
    mem::Release(copy);
    return LogNoMemory("AsciiAddComment");
  }
  copy[0] = ';';
  if (kept > 0) std::memcpy(copy + 1, text, kept);
  node->text = copy;
  node->length = kept + 1;
  node->kind = kAsciiLineOther;
  // Without a header comment the new comment opens the file.
  LinkAfter(file, file->header_comment, node);
  file->header_comment = node;
  return kResultOk;
}
