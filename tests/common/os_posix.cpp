// SPDX-License-Identifier: BSD-3-Clause
// The helpers of test_util.h that differ between the systems: the POSIX side.
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/common/test_util.h"

namespace testutil {

void SetEnv(const char* name, const char* value) {
  if (value) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

std::string MakeTempFolder() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/kvtest.XXXXXX";
  return mkdtemp(&pattern[0]) ? pattern : std::string();
}

void MakeFolders(const std::string& path) {
  for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
    mkdir(path.substr(0, at).c_str(), 0755);
  }
  mkdir(path.c_str(), 0755);
}

void RemoveTree(const std::string& path) {
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

bool FileExists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

bool SetFileTime(const std::string& path, int64_t when) {
  const timespec times[2] = {{static_cast<time_t>(when), 0}, {static_cast<time_t>(when), 0}};
  return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

int CountFiles(const std::string& path) {
  int entries = 0;
  if (DIR* folder = opendir(path.c_str())) {
    while (dirent* entry = readdir(folder))
      entries += entry->d_name[0] != '.';
    closedir(folder);
  }
  return entries;
}

uint32_t ProcessId() {
  return static_cast<uint32_t>(getpid());
}

bool UnderWine() {
  return false;
}

void RemoveSharedObjects(const std::string& prefix) {
  if (DIR* dir = opendir("/dev/shm")) {
    while (dirent* entry = readdir(dir)) {
      if (strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0) {
        shm_unlink((std::string("/") + entry->d_name).c_str());
      }
    }
    closedir(dir);
  }
}

}  // namespace testutil
