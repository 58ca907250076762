// Small helpers shared by the test programs: a private temporary folder per test, scoped
// environment variables, whole-file reads and writes, and where the test's shared objects lie.
#pragma once

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

namespace testutil {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it at the end of scope.
class TempDir {
 public:
  TempDir() {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/kvtest.XXXXXX";
    path_ = mkdtemp(&pattern[0]) ? pattern : std::string();
  }
  ~TempDir() { RemoveTree(path_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  static void RemoveTree(const std::string& path) {
    if (path.empty()) return;
    if (DIR* dir = opendir(path.c_str())) {
      while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        std::string child = path + "/" + name;
        struct stat st;
        if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
          RemoveTree(child);
        } else {
          unlink(child.c_str());
        }
      }
      closedir(dir);
    }
    rmdir(path.c_str());
  }
  std::string path_;
};

// Sets (or, with nullptr, unsets) an environment variable and restores it at the end of scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (had_) {
      setenv(name_.c_str(), old_.c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }
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

inline bool FileExists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
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

// The entries of a folder that do not start with a dot.
inline int CountFiles(const std::string& path) {
  int entries = 0;
  if (DIR* folder = opendir(path.c_str())) {
    while (dirent* entry = readdir(folder))
      entries += entry->d_name[0] != '.';
    closedir(folder);
  }
  return entries;
}

}  // namespace testutil
