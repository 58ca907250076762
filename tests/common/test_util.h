// SPDX-License-Identifier: BSD-3-Clause
// Small helpers shared by the test programs: a private temporary folder per test, scoped
// environment variables, whole-file reads and writes, and where the test's shared objects lie.
#pragma once

#include <stdint.h>
#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <string>

namespace testutil {

// What differs between the systems, in os_posix.cpp and os_win32.cpp (the build picks one).
// Sets the environment variable `name` to `value`, or removes it when `value` is nullptr.
void SetEnv(const char* name, const char* value);
// Creates a fresh folder under the system's temporary folder; empty on failure.
std::string MakeTempFolder();
// Creates the folder `path` and the folders above it that are missing.
void MakeFolders(const std::string& path);
// Removes `path` with everything in it, read-only files too.
void RemoveTree(const std::string& path);
bool FileExists(const std::string& path);
// Sets the last access and last write time of file `path` to `when` (seconds since 1970, UTC).
bool SetFileTime(const std::string& path, int64_t when);
// The entries of a folder that do not start with a dot.
int CountFiles(const std::string& path);
uint32_t ProcessId();
// True when the program runs under Wine, for the few answers in which Wine differs from Windows
// (each test says which and why).
bool UnderWine();
// Removes the named shared objects whose names start with `prefix` that the system would keep
// after the last process closed them (the POSIX shared-memory objects); nothing on Windows.
void RemoveSharedObjects(const std::string& prefix);

// A fresh folder under the temporary folder, removed with everything in it at the end of scope.
class TempDir {
 public:
  TempDir() : path_(MakeTempFolder()) {}
  ~TempDir() {
    if (!path_.empty()) RemoveTree(path_);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Sets (or, with nullptr, unsets) an environment variable and restores it at the end of scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    SetEnv(name, value);
  }
  ~ScopedEnv() { SetEnv(name_.c_str(), had_ ? old_.c_str() : nullptr); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::string old_;
  bool had_ = false;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// Every test process's named shared objects carry a prefix of its own (isolation.cpp).
constexpr char kObjectPrefixVariable[] = "CTKORVIN_OBJECT_PREFIX";

inline std::string ObjectPrefix() {
  const char* prefix = getenv(kObjectPrefixVariable);
  return prefix ? prefix : "";
}

// Where the shared-memory object `name` (say "m_KV-CTAPI") of this test lies.
inline std::string SharedObjectPath(const std::string& name) {
  return "/dev/shm/" + ObjectPrefix() + name;
}

}  // namespace testutil
