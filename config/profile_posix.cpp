// SPDX-License-Identifier: BSD-3-Clause
// The private-profile service for systems without one: a small INI reader and writer over the
// file layer. Every call reads the whole file; every change writes it back at once, except in a
// batch, which reads the file once and writes it back once. Lines that a change does not touch
// are written back as they were read, each ended by CR LF.
#include "config/profile.h"

#include <new>
#include <system_error>

#include "platform/error.h"
#include "platform/file.h"
#include "support/fileio.h"
#include "support/memory.h"
#include "support/result.h"
#include "support/strings.h"

namespace {

constexpr uint32_t kReadChunk = 4096;
// Far beyond any INI file; keeps every size and offset well inside 32 bits.
constexpr uint32_t kMaxFileSize = 0x10000000;
constexpr uint32_t kNone = 0xFFFFFFFF;
constexpr char kLineEnd[] = "\r\n";

thread_local uint32_t g_last_error = 0;

uint32_t ErrorNumber(std::errc error) {
  return static_cast<uint32_t>(static_cast<int>(error));
}

// A growing block of bytes; `data` belongs to the record.
struct Text {
  char* data;
  uint32_t size;
  uint32_t capacity;
};

void FreeText(Text* text) {
  mem::Release(text->data);
  *text = Text{};
}

bool Reserve(Text* text, uint32_t extra) {
  if (extra > kMaxFileSize - text->size) return false;
  uint32_t needed = text->size + extra;
  if (needed <= text->capacity) return true;
  uint32_t capacity = text->capacity ? text->capacity : kReadChunk;
  while (capacity < needed)
    capacity *= 2;
  char* grown = static_cast<char*>(mem::Reallocate(text->data, capacity));
  if (!grown) return false;
  text->data = grown;
  text->capacity = capacity;
  return true;
}

bool Append(Text* text, const char* bytes, uint32_t count) {
  if (count == 0) return true;
  if (!Reserve(text, count)) return false;
  SafeMemCopy(text->data + text->size, text->capacity - text->size, bytes, count);
  text->size += count;
  return true;
}

enum class Load { kLoaded, kMissing, kFailed };

// Reads the whole file from `file`; no file is no failure (it is read as an empty one).
Load LoadFile(fio::Handle file, Text* text) {
  if (file == fio::kNoHandle) return Load::kMissing;
  for (;;) {
    uint32_t count = 0;
    if (!Reserve(text, kReadChunk) ||
        fio::ReadBin(file, text->data + text->size, kReadChunk, kReadChunk, &count) != kResultOk) {
      return Load::kFailed;
    }
    if (count == 0) return Load::kLoaded;
    text->size += count;
  }
}

// Reads the whole file at `path` (a missing one is no failure).
Load LoadPath(const char* path, Text* text) {
  if (!fio::Exist(path)) return Load::kMissing;
  fio::Handle file = fio::kNoHandle;
  if (fio::Open(path, &file, fio::kModeRead, fio::kShareAll) != kResultOk) return Load::kFailed;
  const Load result = LoadFile(file, text);
  fio::Close(file);
  return result;
}

struct Span {
  uint32_t start;
  uint32_t length;
};

enum class LineKind { kOther, kSection, kEntry };

// One line of the file: its bytes (without the line end) and, for section header and entry
// lines, the name and the value as they are answered.
struct Line {
  Span text;
  LineKind kind;
  Span name;
  Span value;
};

struct IniFile {
  Text text;
  Line* lines;
  uint32_t count;
};

void FreeIni(IniFile* ini) {
  FreeText(&ini->text);
  mem::Release(ini->lines);
  ini->lines = nullptr;
  ini->count = 0;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool IsLineBreak(char c) {
  return c == '\r' || c == '\n';
}

// Narrows [start, end) of `data` to its part without blanks at both ends.
Span Trim(const char* data, uint32_t start, uint32_t end) {
  while (start < end && IsBlank(data[start]))
    ++start;
  while (end > start && IsBlank(data[end - 1]))
    --end;
  return Span{start, end - start};
}

void ClassifyLine(const char* data, Line* line) {
  const Span trimmed = Trim(data, line->text.start, line->text.start + line->text.length);
  const uint32_t start = trimmed.start;
  const uint32_t end = trimmed.start + trimmed.length;
  line->kind = LineKind::kOther;
  if (start == end || data[start] == ';') return;
  if (data[start] == '[') {
    uint32_t close = end;
    while (close > start && data[close - 1] != ']')
      --close;
    if (close > start + 1) {
      line->kind = LineKind::kSection;
      line->name = Trim(data, start + 1, close - 1);
    }
    return;
  }
  uint32_t equals = start;
  while (equals < end && data[equals] != '=')
    ++equals;
  if (equals == end) return;
  line->name = Trim(data, start, equals);
  if (line->name.length == 0) return;
  line->kind = LineKind::kEntry;
  line->value = Trim(data, equals + 1, end);
  // A value in matching quotes is answered without them.
  const char first = line->value.length >= 2 ? data[line->value.start] : '\0';
  if ((first == '"' || first == '\'') &&
      data[line->value.start + line->value.length - 1] == first) {
    line->value.start += 1;
    line->value.length -= 2;
  }
}

// Splits the text into lines at CR LF, LF or CR; a last line without a line end counts too.
bool SplitLines(IniFile* ini) {
  const char* data = ini->text.data;
  const uint32_t size = ini->text.size;
  uint32_t count = 0;
  for (uint32_t i = 0; i < size; ++i) {
    if (data[i] == '\n' || (data[i] == '\r' && (i + 1 == size || data[i + 1] != '\n'))) ++count;
  }
  if (size > 0 && !IsLineBreak(data[size - 1])) ++count;
  if (count == 0) return true;
  ini->lines = static_cast<Line*>(mem::Allocate(sizeof(Line) * count));
  if (!ini->lines) return false;
  uint32_t start = 0;
  for (uint32_t i = 0; i <= size && ini->count < count; ++i) {
    if (i < size && !IsLineBreak(data[i])) continue;
    Line& line = ini->lines[ini->count++];
    line.text = Span{start, i - start};
    ClassifyLine(data, &line);
    if (i + 1 < size && data[i] == '\r' && data[i + 1] == '\n') ++i;
    start = i + 1;
  }
  return true;
}

// Parses the text read into `ini`; frees it when it could not be read or split.
Load ParseIni(Load loaded, IniFile* ini) {
  if (loaded == Load::kFailed || !SplitLines(ini)) {
    FreeIni(ini);
    return Load::kFailed;
  }
  return loaded;
}

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const char* data, Span name, const char* wanted, Span wanted_span) {
  if (name.length != wanted_span.length) return false;
  for (uint32_t i = 0; i < name.length; ++i) {
    if (LowerAscii(data[name.start + i]) != LowerAscii(wanted[wanted_span.start + i])) {
      return false;
    }
  }
  return true;
}

// The caller's name without blanks at its ends and without anything from a line break on (a
// name must stay on its line).
Span CallerName(const char* name) {
  uint32_t end = 0;
  while (name[end] && !IsLineBreak(name[end]))
    ++end;
  return Trim(name, 0, end);
}

uint32_t FindSection(const IniFile& ini, const char* name) {
  const Span wanted = CallerName(name);
  for (uint32_t i = 0; i < ini.count; ++i) {
    const Line& line = ini.lines[i];
    if (line.kind == LineKind::kSection && SameName(ini.text.data, line.name, name, wanted)) {
      return i;
    }
  }
  return kNone;
}

// The index of the line after the section's last line.
uint32_t SectionEnd(const IniFile& ini, uint32_t header) {
  uint32_t i = header + 1;
  while (i < ini.count && ini.lines[i].kind != LineKind::kSection)
    ++i;
  return i;
}

uint32_t FindEntry(const IniFile& ini, uint32_t header, const char* name) {
  const Span wanted = CallerName(name);
  const uint32_t end = SectionEnd(ini, header);
  for (uint32_t i = header + 1; i < end; ++i) {
    const Line& line = ini.lines[i];
    if (line.kind == LineKind::kEntry && SameName(ini.text.data, line.name, name, wanted)) {
      return i;
    }
  }
  return kNone;
}

// Copies at most size - 1 characters and a terminator; returns the characters copied.
uint32_t CopyValue(const char* value, uint32_t length, char* buffer, uint32_t size) {
  const uint32_t copied = length < size - 1 ? length : size - 1;
  SafeMemCopy(buffer, size, value, copied);
  buffer[copied] = '\0';
  return copied;
}

uint32_t CopyDefault(const char* default_value, char* buffer, uint32_t size) {
  if (!default_value) default_value = "";
  uint32_t length = SafeStrLen(default_value);
  while (length > 0 && default_value[length - 1] == ' ')
    --length;
  return CopyValue(default_value, length, buffer, size);
}

// Fills a list of names, each with its terminator, keeping the last byte for the list's end.
// A name that does not fit (or fits exactly) is cut and ends the list.
struct ListWriter {
  char* buffer;
  uint32_t size;  // at least 2
  uint32_t used;
  bool cut;
};

void AddName(ListWriter* list, const char* name, uint32_t length) {
  if (list->cut) return;
  const uint32_t room = list->size - 1 - list->used;
  if (length + 1 >= room) {
    SafeMemCopy(list->buffer + list->used, list->size - list->used, name, room - 1);
    list->buffer[list->used + room - 1] = '\0';
    list->cut = true;
    return;
  }
  SafeMemCopy(list->buffer + list->used, list->size - list->used, name, length);
  list->used += length;
  list->buffer[list->used++] = '\0';
}

uint32_t FinishList(ListWriter* list) {
  if (list->cut) {
    list->buffer[list->size - 1] = '\0';
    return list->size - 2;
  }
  list->buffer[list->used] = '\0';
  return list->used;
}

uint32_t ListSections(const IniFile& ini, char* buffer, uint32_t size) {
  ListWriter list{buffer, size, 0, false};
  for (uint32_t i = 0; i < ini.count; ++i) {
    const Line& line = ini.lines[i];
    if (line.kind == LineKind::kSection && line.name.length > 0) {
      AddName(&list, ini.text.data + line.name.start, line.name.length);
    }
  }
  return FinishList(&list);
}

uint32_t ListKeys(const IniFile& ini, uint32_t header, char* buffer, uint32_t size) {
  ListWriter list{buffer, size, 0, false};
  const uint32_t end = SectionEnd(ini, header);
  for (uint32_t i = header + 1; i < end; ++i) {
    const Line& line = ini.lines[i];
    if (line.kind == LineKind::kEntry) {
      AddName(&list, ini.text.data + line.name.start, line.name.length);
    }
  }
  return FinishList(&list);
}

uint32_t Answer(const IniFile& ini, const char* section, const char* key, const char* default_value,
                char* buffer, uint32_t size) {
  if (!section) return ListSections(ini, buffer, size);
  const uint32_t header = FindSection(ini, section);
  if (key) {
    const uint32_t entry = header == kNone ? kNone : FindEntry(ini, header, key);
    if (entry == kNone) return CopyDefault(default_value, buffer, size);
    const Span value = ini.lines[entry].value;
    return CopyValue(ini.text.data + value.start, value.length, buffer, size);
  }
  const uint32_t length = header == kNone ? 0 : ListKeys(ini, header, buffer, size);
  return length > 0 ? length : CopyDefault(default_value, buffer, size);
}

// What a write does to the lines of the file.
struct Change {
  uint32_t drop_from;  // lines [drop_from, drop_to) are left out
  uint32_t drop_to;
  uint32_t replace;       // this line becomes `new_line`
  uint32_t insert_after;  // `new_line` follows this line
  bool append_section;    // "[section]" and `new_line` go to the end of the file
};

bool AppendLine(Text* out, const char* bytes, uint32_t count) {
  return Append(out, bytes, count) && Append(out, kLineEnd, sizeof kLineEnd - 1);
}

// "name=value" with the value cut before any line break.
bool MakeEntryLine(Text* line, const char* name, uint32_t name_length, const char* value) {
  uint32_t value_length = 0;
  while (value[value_length] && !IsLineBreak(value[value_length]))
    ++value_length;
  return Append(line, name, name_length) && Append(line, "=", 1) &&
         Append(line, value, value_length);
}

bool Render(const IniFile& ini, const Change& change, const Text& new_line, const char* section,
            Text* out) {
  for (uint32_t i = 0; i < ini.count; ++i) {
    if (i >= change.drop_from && i < change.drop_to) continue;
    const Line& line = ini.lines[i];
    const bool ok = i == change.replace
                        ? AppendLine(out, new_line.data, new_line.size)
                        : AppendLine(out, ini.text.data + line.text.start, line.text.length);
    if (!ok) return false;
    if (i == change.insert_after && !AppendLine(out, new_line.data, new_line.size)) return false;
  }
  if (!change.append_section) return true;
  const Span name = CallerName(section);
  return Append(out, "[", 1) && Append(out, section + name.start, name.length) &&
         AppendLine(out, "]", 1) && AppendLine(out, new_line.data, new_line.size);
}

// Decides the change; false when there is nothing to change.
bool PlanChange(const IniFile& ini, const char* section, const char* key, const char* value,
                Text* new_line, Change* change, bool* out_of_memory) {
  *change = Change{kNone, kNone, kNone, kNone, false};
  *out_of_memory = false;
  const uint32_t header = FindSection(ini, section);
  if (!key) {
    if (header == kNone) return false;
    change->drop_from = header;
    change->drop_to = SectionEnd(ini, header);
    return true;
  }
  const uint32_t entry = header == kNone ? kNone : FindEntry(ini, header, key);
  if (!value) {
    if (entry == kNone) return false;
    change->drop_from = entry;
    change->drop_to = entry + 1;
    return true;
  }
  bool made;
  if (entry != kNone) {
    // The key keeps the spelling it has in the file.
    const Span name = ini.lines[entry].name;
    made = MakeEntryLine(new_line, ini.text.data + name.start, name.length, value);
    change->replace = entry;
  } else {
    const Span name = CallerName(key);
    made = MakeEntryLine(new_line, key + name.start, name.length, value);
    if (header == kNone) {
      change->append_section = true;
    } else {
      // Behind the section's last line that is not blank, so that blank lines stay in front of
      // the next section.
      uint32_t last = header;
      for (uint32_t i = header + 1; i < SectionEnd(ini, header); ++i) {
        if (Trim(ini.text.data, ini.lines[i].text.start,
                 ini.lines[i].text.start + ini.lines[i].text.length)
                .length > 0) {
          last = i;
        }
      }
      change->insert_after = last;
    }
  }
  *out_of_memory = !made;
  return made;
}

uint32_t ReasonOf(uint32_t code) {
  switch (code) {
    case kFioNoAccess:
      return ErrorNumber(std::errc::permission_denied);
    case kFioNoSpace:
      return ErrorNumber(std::errc::no_space_on_device);
    case kFioTooManyOpen:
      return ErrorNumber(std::errc::too_many_files_open);
    case kErrIllegalArgument:
      return ErrorNumber(std::errc::invalid_argument);
    default: {
      const uint32_t error = platform::LastSystemError();
      return error ? error : ErrorNumber(std::errc::io_error);
    }
  }
}

uint32_t SystemReason() {
  const uint32_t error = platform::LastSystemError();
  return error ? error : ErrorNumber(std::errc::io_error);
}

// Writes the new content beside the file and lets it take the file's place only once it is
// whole, so that a failure half-way (a full disk) leaves the file as it was.
uint32_t WriteWhole(platform::FileSave* save, const Text& out) {
  uint32_t written = 0;
  const uint32_t result = fio::WriteBin(save->file, out.data, out.size, &written);
  if (result != kResultOk) {
    const uint32_t reason = ReasonOf(result);
    platform::FileSaveAbort(save);
    return reason;
  }
  return platform::FileSaveCommit(save) ? 0 : SystemReason();
}

bool Fail(uint32_t reason) {
  g_last_error = reason;
  return false;
}

// Applies one write to the lines of the file. When it changes something, *out receives the new
// content and *changed is set. Returns 0, or the reason why the write cannot be made.
uint32_t ApplyWrite(const IniFile& ini, const char* section, const char* key, const char* value,
                    Text* out, bool* changed) {
  Text new_line{};
  Change change;
  bool out_of_memory = false;
  uint32_t reason = 0;
  *changed = false;
  if (PlanChange(ini, section, key, value, &new_line, &change, &out_of_memory)) {
    if (Render(ini, change, new_line, section, out)) {
      *changed = true;
    } else {
      FreeText(out);
      reason = ErrorNumber(std::errc::not_enough_memory);
    }
  } else if (out_of_memory) {
    reason = ErrorNumber(std::errc::not_enough_memory);
  }
  FreeText(&new_line);
  return reason;
}

// The file of this thread's batch: held for its save since ProfileBatchBegin, its lines kept
// here with every change made so far.
struct Batch {
  bool changed;
  uint32_t failure;  // the reason of a change that could not be kept; the batch then saves nothing
  platform::FileSave save;
  IniFile ini;
  char path[platform::kSavePathSize];
};

thread_local Batch* g_batch = nullptr;

bool InBatch(const char* path) {
  return g_batch && path && SafeStrCompare(g_batch->path, path) == 0;
}

bool BatchWrite(const char* section, const char* key, const char* value) {
  Batch& batch = *g_batch;
  if (batch.failure != 0) return Fail(batch.failure);
  Text out{};
  bool changed = false;
  const uint32_t reason = ApplyWrite(batch.ini, section, key, value, &out, &changed);
  if (reason != 0) return Fail(reason);
  if (!changed) return true;
  FreeIni(&batch.ini);
  batch.ini.text = out;
  batch.changed = true;
  if (ParseIni(Load::kLoaded, &batch.ini) == Load::kFailed) {
    batch.failure = ErrorNumber(std::errc::not_enough_memory);
    return Fail(batch.failure);
  }
  return true;
}

void EndBatch() {
  platform::FileSaveAbort(&g_batch->save);
  FreeIni(&g_batch->ini);
  delete g_batch;
  g_batch = nullptr;
}

}  // namespace

uint32_t ProfileGetString(const char* section, const char* key, const char* default_value,
                          char* buffer, uint32_t size, const char* path) {
  if (!buffer || size == 0) return 0;
  buffer[0] = '\0';
  if (!path || size == 1) return 0;
  if (InBatch(path)) return Answer(g_batch->ini, section, key, default_value, buffer, size);
  IniFile ini{};
  // A file that cannot be read answers like an empty one.
  ParseIni(LoadPath(path, &ini.text), &ini);
  const uint32_t length = Answer(ini, section, key, default_value, buffer, size);
  FreeIni(&ini);
  return length;
}

bool ProfileWriteString(const char* section, const char* key, const char* value, const char* path) {
  if (!section || !path || CallerName(section).length == 0 ||
      (key && CallerName(key).length == 0)) {
    return Fail(ErrorNumber(std::errc::invalid_argument));
  }
  if (InBatch(path)) return BatchWrite(section, key, value);
  // The file is read only once its folder's turn to be saved has come, so that a save of
  // another process between reading and writing cannot be lost.
  platform::FileSave save;
  if (!platform::FileSaveBegin(path, &save)) return Fail(SystemReason());
  IniFile ini{};
  if (ParseIni(LoadFile(save.target, &ini.text), &ini) == Load::kFailed) {
    const uint32_t reason = SystemReason();
    platform::FileSaveAbort(&save);
    return Fail(reason);
  }
  Text out{};
  bool changed = false;
  uint32_t reason = ApplyWrite(ini, section, key, value, &out, &changed);
  if (changed) reason = WriteWhole(&save, out);
  // Nothing to change, or no room to change it: the file stays as it is.
  platform::FileSaveAbort(&save);
  FreeText(&out);
  FreeIni(&ini);
  return reason == 0 ? true : Fail(reason);
}

bool ProfileBatchBegin(const char* path) {
  if (!path || g_batch) return Fail(ErrorNumber(std::errc::invalid_argument));
  if (SafeStrLen(path) >= platform::kSavePathSize) {
    return Fail(ErrorNumber(std::errc::filename_too_long));
  }
  Batch* batch = new (std::nothrow) Batch{};
  if (!batch) return Fail(ErrorNumber(std::errc::not_enough_memory));
  if (!platform::FileSaveBegin(path, &batch->save)) {
    delete batch;
    return Fail(SystemReason());
  }
  if (ParseIni(LoadFile(batch->save.target, &batch->ini.text), &batch->ini) == Load::kFailed) {
    const uint32_t reason = SystemReason();
    platform::FileSaveAbort(&batch->save);
    delete batch;
    return Fail(reason);
  }
  SafeStrCopy(batch->path, sizeof batch->path, path);
  g_batch = batch;
  return true;
}

bool ProfileBatchEnd() {
  if (!g_batch) return Fail(ErrorNumber(std::errc::invalid_argument));
  uint32_t reason = g_batch->failure;
  if (reason == 0 && g_batch->changed) reason = WriteWhole(&g_batch->save, g_batch->ini.text);
  EndBatch();
  return reason == 0 ? true : Fail(reason);
}

uint32_t ProfileLastError() {
  return g_last_error;
}
