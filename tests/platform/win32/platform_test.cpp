// SPDX-License-Identifier: BSD-3-Clause
// The platform layer on Windows, against the system's own objects: mappings and their lock,
// mutexes and semaphores (shared by name, abandoned by their holder), files with share modes and
// whole-file saves, process state, module paths, error texts. Every named object carries the
// test process's prefix (object_prefix_win32.cpp).
#include <gtest/gtest.h>
#include <string.h>
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/library_path.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/shared_memory.h"
#include "platform/sync.h"

namespace {

std::string Prefixed(const char* name) {
  const char* prefix = getenv("CTKORVIN_OBJECT_PREFIX");
  return std::string(prefix ? prefix : "") + name;
}

// A fresh folder under the temporary folder, removed (one level deep) at the end.
class TempFolder {
 public:
  TempFolder() {
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    path_ = std::string(base) + "kvtest-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(counter_++);
    CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~TempFolder() {
    for (const std::string& name : NameList()) {
      const std::string file = File(name);
      SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileA(file.c_str());
    }
    RemoveDirectoryA(path_.c_str());
  }
  std::string File(const std::string& name) const { return path_ + "\\" + name; }
  std::vector<std::string> NameList() const {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((path_ + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
      if (data.cFileName[0] != '.') names.push_back(data.cFileName);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return names;
  }
  std::string Names() const {
    std::string joined;
    for (const std::string& name : NameList())
      joined += (joined.empty() ? "" : " ") + name;
    return joined;
  }

 private:
  static int counter_;
  std::string path_;
};
int TempFolder::counter_ = 0;

std::string ReadAll(const std::string& path) {
  std::string text;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  char chunk[256];
  DWORD read = 0;
  while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0)
    text.append(chunk, read);
  CloseHandle(file);
  return text;
}

void WriteAll(const std::string& path, const std::string& text) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

// Runs `work` on a thread of its own and waits for it; the thread's end abandons what it holds.
template <typename Work>
void OnOtherThread(Work work) {
  std::thread thread(work);
  thread.join();
}

TEST(Win32MappingTest, CreatesZeroedMappingsOnceAndOpensThem) {
  platform::MappingHandle first = platform::kNoMapping;
  bool created = false;
  ASSERT_TRUE(platform::MappingCreate("m_win32-test", 1108, &first, &created));
  EXPECT_TRUE(created);
  auto* view = static_cast<uint8_t*>(platform::MappingMapView(first));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view[0] | view[500] | view[1107], 0);
  view[4] = 0x5A;

  // The system object carries the prefix: another opener by the full name sees the same bytes.
  HANDLE direct = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, Prefixed("m_win32-test").c_str());
  ASSERT_NE(direct, nullptr);
  CloseHandle(direct);

  platform::MappingHandle second = platform::kNoMapping;
  ASSERT_TRUE(platform::MappingCreate("m_win32-test", 64, &second, &created));
  EXPECT_FALSE(created);  // only the real creator is told it created the mapping
  platform::MappingHandle opened = platform::kNoMapping;
  ASSERT_EQ(platform::MappingOpen("m_win32-test", &opened), platform::MappingOpenResult::kOpened);
  auto* other = static_cast<uint8_t*>(platform::MappingMapView(opened));
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(other[4], 0x5A);
  platform::MappingClose(second);

  platform::MappingHandle none = platform::kNoMapping;
  EXPECT_EQ(platform::MappingOpen("m_win32-absent", &none), platform::MappingOpenResult::kNotFound);
  EXPECT_EQ(platform::MappingOpen("m_bad\\name", &none), platform::MappingOpenResult::kFailed);
  EXPECT_FALSE(platform::MappingCreate("", 16, &none, &created));
  EXPECT_EQ(none, platform::kNoMapping);
}

TEST(Win32MappingTest, LockNestsKeepsOthersOutAndSurvivesAnAbandonedHolder) {
  auto others_may_take = [] {
    bool taken = false;
    OnOtherThread([&] {
      HANDLE lock = OpenMutexA(SYNCHRONIZE, FALSE, Prefixed("ctkorvin-mappings").c_str());
      const DWORD wait = lock ? WaitForSingleObject(lock, 0) : WAIT_FAILED;
      taken = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
      if (taken) ReleaseMutex(lock);
      if (lock) CloseHandle(lock);
    });
    return taken;
  };
  ASSERT_TRUE(platform::MappingLock());
  ASSERT_TRUE(platform::MappingLock());
  EXPECT_FALSE(others_may_take());
  platform::MappingUnlock();
  EXPECT_FALSE(others_may_take());  // still held once
  platform::MappingUnlock();
  EXPECT_TRUE(others_may_take());

  OnOtherThread([] { ASSERT_TRUE(platform::MappingLock()); });  // ends without unlocking
  ASSERT_TRUE(platform::MappingLock());
  platform::MappingUnlock();
}

TEST(Win32SyncTest, NamedLocksAreSharedAndAbandonedOnesAreTakenOver) {
  platform::SyncObject* one = nullptr;
  platform::SyncObject* two = nullptr;
  uint32_t error = 0;
  ASSERT_EQ(platform::SyncCreate("s_win32-lock", 0, &one, &error), platform::SyncCreateResult::kOk);
  ASSERT_EQ(platform::SyncCreate("s_win32-lock", 0, &two, &error), platform::SyncCreateResult::kOk);
  ASSERT_EQ(platform::SyncWait(one, platform::kWaitForever, &error),
            platform::SyncWaitResult::kAcquired);
  platform::SyncWaitResult seen = platform::SyncWaitResult::kFailed;
  OnOtherThread([&] { seen = platform::SyncWait(two, 0, &error); });
  EXPECT_EQ(seen, platform::SyncWaitResult::kTimeout);
  EXPECT_TRUE(platform::SyncRelease(one, &error));
  EXPECT_FALSE(platform::SyncRelease(one, &error));  // not held any more
  EXPECT_EQ(error, static_cast<uint32_t>(ERROR_NOT_OWNER));

  OnOtherThread([&] { seen = platform::SyncWait(two, 0, &error); });  // held at the thread's end
  EXPECT_EQ(seen, platform::SyncWaitResult::kAcquired);
  EXPECT_EQ(platform::SyncWait(one, 0, &error), platform::SyncWaitResult::kAbandoned);
  EXPECT_TRUE(platform::SyncRelease(one, &error));
  platform::SyncClose(one);
  platform::SyncClose(two);

  platform::SyncObject* wrong_kind = nullptr;
  platform::SyncObject* semaphore = nullptr;
  ASSERT_EQ(platform::SyncCreate("s_win32-kind", 1, &semaphore, &error),
            platform::SyncCreateResult::kOk);
  EXPECT_EQ(platform::SyncCreate("s_win32-kind", 0, &wrong_kind, &error),
            platform::SyncCreateResult::kInvalidName);
  EXPECT_EQ(wrong_kind, nullptr);
  platform::SyncClose(semaphore);
}

TEST(Win32SyncTest, SemaphoresCountUpToTheirMaximum) {
  platform::SyncObject* semaphore = nullptr;
  uint32_t error = 0;
  ASSERT_EQ(platform::SyncCreate(nullptr, 2, &semaphore, &error), platform::SyncCreateResult::kOk);
  EXPECT_EQ(platform::SyncWait(semaphore, 0, &error), platform::SyncWaitResult::kAcquired);
  EXPECT_EQ(platform::SyncWait(semaphore, 0, &error), platform::SyncWaitResult::kAcquired);
  EXPECT_EQ(platform::SyncWait(semaphore, 10, &error), platform::SyncWaitResult::kTimeout);
  EXPECT_TRUE(platform::SyncRelease(semaphore, &error));
  EXPECT_TRUE(platform::SyncRelease(semaphore, &error));
  EXPECT_FALSE(platform::SyncRelease(semaphore, &error));  // above the maximum
  platform::SyncClose(semaphore);
}

TEST(Win32FileTest, ShareModesAreTheSystemsOwn) {
  TempFolder folder;
  const std::string path = folder.File("shared.txt");
  WriteAll(path, "0123456789");
  const platform::FileShare read_only{true, false};
  platform::FileHandle writer = platform::kNoFile;
  ASSERT_TRUE(platform::FileOpen(path.c_str(), platform::FileAccess::kReadWrite,
                                 platform::FileDisposition::kOpenExisting, read_only, &writer));
  struct Case {
    platform::FileAccess access;
    platform::FileShare share;
    bool opens;
  } cases[] = {
      {platform::FileAccess::kRead, {true, true}, true},    // others may read, and we let it write
      {platform::FileAccess::kRead, {true, false}, false},  // we would keep the writer out
      {platform::FileAccess::kWrite, {true, true}, false},  // the writer lets nobody else write
  };
  for (const Case& c : cases) {
    platform::FileHandle other = platform::kNoFile;
    const bool opened = platform::FileOpen(
        path.c_str(), c.access, platform::FileDisposition::kOpenExisting, c.share, &other);
    EXPECT_EQ(opened, c.opens);
    if (opened) {
      platform::FileClose(other);
    } else {
      EXPECT_EQ(platform::LastSystemError(), static_cast<uint32_t>(ERROR_SHARING_VIOLATION));
    }
  }
  uint64_t position = 0;
  ASSERT_TRUE(platform::FileSeek(writer, -3, platform::SeekOrigin::kEnd, &position));
  EXPECT_EQ(position, 7u);
  char bytes[8] = {};
  uint32_t count = 0;
  ASSERT_TRUE(platform::FileRead(writer, bytes, sizeof bytes, &count));
  EXPECT_EQ(std::string(bytes, count), "789");
  platform::FileClose(writer);

  platform::FileHandle none = platform::kNoFile;
  EXPECT_FALSE(platform::FileOpen(path.c_str(), platform::FileAccess::kReadWrite,
                                  platform::FileDisposition::kCreateNew, {true, true}, &none));
  ASSERT_TRUE(platform::FileOpen(path.c_str(), platform::FileAccess::kRead,
                                 platform::FileDisposition::kTruncateExisting, {true, true},
                                 &none));
  platform::FileClose(none);
  EXPECT_EQ(ReadAll(path), "");
}

TEST(Win32FileTest, AttributesTimesCopiesAndDeletes) {
  TempFolder folder;
  const std::string path = folder.File("a.txt");
  const std::string copy = folder.File("b.txt");
  WriteAll(path, "abc");
  platform::FileHandle file = platform::kNoFile;
  ASSERT_TRUE(platform::FileOpen(path.c_str(), platform::FileAccess::kReadWrite,
                                 platform::FileDisposition::kOpenExisting, {true, true}, &file));
  const platform::CalendarTime when{2004, 2, 29, 13, 45, 58, 0};
  ASSERT_TRUE(platform::FileSetWriteTime(file, when));
  platform::CalendarTime read{};
  ASSERT_TRUE(platform::FileGetWriteTime(file, &read));
  EXPECT_EQ(std::to_string(read.year) + "-" + std::to_string(read.month) + "-" +
                std::to_string(read.day) + " " + std::to_string(read.hour) + ":" +
                std::to_string(read.minute) + ":" + std::to_string(read.second),
            "2004-2-29 13:45:58");
  platform::FileClose(file);

  ASSERT_TRUE(platform::PathSetAttributes(path.c_str(), platform::kAttrReadOnly));
  platform::FileStatus status{};
  ASSERT_TRUE(platform::PathStatus(path.c_str(), &status));
  EXPECT_EQ(status.attributes & platform::kAttrReadOnly, platform::kAttrReadOnly);
  EXPECT_EQ(status.size, 3u);
  EXPECT_FALSE(platform::PathDelete(path.c_str()));  // read-only files stay
  ASSERT_TRUE(platform::PathCopy(path.c_str(), copy.c_str()));
  EXPECT_EQ(ReadAll(copy), "abc");
  EXPECT_FALSE(platform::PathCopy(path.c_str(), copy.c_str()));  // the copy is read-only too
  ASSERT_TRUE(platform::PathSetAttributes(copy.c_str(), 0));
  ASSERT_TRUE(platform::PathStatus(copy.c_str(), &status));
  EXPECT_EQ(status.attributes & platform::kAttrReadOnly, 0u);
  EXPECT_TRUE(platform::PathDelete(copy.c_str()));
  EXPECT_FALSE(platform::PathStatus(copy.c_str(), &status));
}

TEST(Win32FileTest, SavesReplaceTheWholeFileAndLeaveNothingBeside) {
  TempFolder folder;
  const std::string path = folder.File("vezidide.ini");
  auto save = [&](const std::string& text, bool commit) {
    platform::FileSave record{};
    if (!platform::FileSaveBegin(path.c_str(), &record)) return false;
    uint32_t count = 0;
    const bool written =
        platform::FileWrite(record.file, text.data(), static_cast<uint32_t>(text.size()), &count);
    if (!commit || !written) {
      platform::FileSaveAbort(&record);
      return false;
    }
    return platform::FileSaveCommit(&record);
  };
  ASSERT_TRUE(save("new file", true));
  EXPECT_EQ(ReadAll(path), "new file");
  ASSERT_TRUE(save("second", true));
  EXPECT_EQ(ReadAll(path), "second");
  EXPECT_FALSE(save("aborted", false));
  EXPECT_EQ(ReadAll(path), "second");
  EXPECT_EQ(folder.Names(), "vezidide.ini");

  // A reader that does not let the file be deleted keeps it from being replaced: the content is
  // then written in place.
  HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(save("in place, longer than before", true));
  CloseHandle(reader);
  EXPECT_EQ(ReadAll(path), "in place, longer than before");
  EXPECT_EQ(folder.Names(), "vezidide.ini");

  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(save("refused", true));
  EXPECT_EQ(ReadAll(path), "in place, longer than before");
  platform::FileSave record{};
  EXPECT_FALSE(platform::FileSaveBegin(folder.File("").c_str(), &record));  // a folder
}

TEST(Win32ProcessTest, TellsRunningEndedAndReusedProcesses) {
  const uint32_t self = platform::CurrentProcessId();
  EXPECT_EQ(self, GetCurrentProcessId());
  const uint64_t start = platform::ProcessStartTime(self);
  ASSERT_NE(start, 0u);
  EXPECT_EQ(platform::GetProcessState(self, start), platform::ProcessState::kRunning);
  EXPECT_EQ(platform::GetProcessState(self, 0), platform::ProcessState::kRunning);
  EXPECT_EQ(platform::GetProcessState(self, start + 1), platform::ProcessState::kEnded);

  // This program started once more, listing its tests, and ended.
  char program[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(nullptr, program, sizeof program), 0u);
  std::string command = std::string("\"") + program + "\" --gtest_list_tests";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                             nullptr, nullptr, &startup, &child));
  const uint64_t child_start = platform::ProcessStartTime(child.dwProcessId);
  EXPECT_NE(child_start, 0u);
  WaitForSingleObject(child.hProcess, INFINITE);
  EXPECT_EQ(platform::GetProcessState(child.dwProcessId, child_start),
            platform::ProcessState::kEnded);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  EXPECT_EQ(platform::GetProcessState(child.dwProcessId, child_start),
            platform::ProcessState::kEnded);
  EXPECT_EQ(platform::ProcessNumberSpace(), 0u);  // process numbers are machine-wide
}

TEST(Win32PathTest, ModulesWindowsDirectoryErrorsAndRegistry) {
  char path[MAX_PATH] = {};
  char program[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, program, sizeof program);
  ASSERT_TRUE(platform::LibraryPathOf(reinterpret_cast<const void*>(&ReadAll), path, sizeof path));
  EXPECT_STREQ(path, program);
  ASSERT_TRUE(
      platform::LibraryPathOf(reinterpret_cast<const void*>(&GetTickCount), path, sizeof path));
  EXPECT_NE(std::string(CharLowerA(path)).find("kernel32"), std::string::npos) << path;
  ASSERT_TRUE(platform::FindLibraryFile("KERNEL32.DLL", nullptr, path, sizeof path));
  EXPECT_NE(std::string(CharLowerA(path)).find("\\system32\\kernel32.dll"), std::string::npos)
      << path;
  EXPECT_FALSE(platform::FindLibraryFile("no-such-library.dll", nullptr, path, sizeof path));
  EXPECT_STREQ(path, "");
  int on_the_stack = 0;
  EXPECT_FALSE(platform::LibraryPathOf(&on_the_stack, path, sizeof path));
  EXPECT_STREQ(path, "");
  char tiny[4] = "xyz";
  EXPECT_FALSE(platform::LibraryPathOf(reinterpret_cast<const void*>(&ReadAll), tiny, sizeof tiny));
  EXPECT_FALSE(platform::WindowsDirectory(tiny, sizeof tiny));
  ASSERT_TRUE(platform::WindowsDirectory(path, sizeof path));
  char expected[MAX_PATH];
  GetWindowsDirectoryA(expected, sizeof expected);
  EXPECT_STREQ(path, expected);

  char text[128];
  platform::SystemErrorMessage(ERROR_FILE_NOT_FOUND, text, sizeof text);
  EXPECT_NE(std::string(CharLowerA(text)).find("file"), std::string::npos) << text;
  platform::SystemErrorMessage(ERROR_FILE_NOT_FOUND, text, sizeof text);
  platform::SystemErrorMessage(ERROR_FILE_NOT_FOUND, tiny, sizeof tiny);
  EXPECT_EQ(std::string(tiny), std::string(text).substr(0, 3));  // cut, not refused
  EXPECT_TRUE(platform::IsTooManyFilesError(ERROR_TOO_MANY_OPEN_FILES));

  char converted[8];
  platform::PathOemToAnsi("C:\\WINDOWS\\x", converted, sizeof converted);
  EXPECT_STREQ(converted, "C:\\WIND");

  uint32_t value = 7;
  EXPECT_EQ(platform::RegistryReadU32("System\\No Such Key For ctkorvin", "SinglePort", &value),
            platform::RegistryResult::kNoKey);
  EXPECT_EQ(platform::RegistryReadU32("Software", "No Such Value For ctkorvin", &value),
            platform::RegistryResult::kNoValue);
  EXPECT_EQ(value, 7u);
}

}  // namespace
