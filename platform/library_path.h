// SPDX-License-Identifier: BSD-3-Clause
// Where the code of this process comes from: the file of the executable or shared library that
// holds a given address, and the system's Windows directory.
#pragma once

#include <cstdint>

namespace platform {

// Writes the full path of the loaded module (program or shared library) that contains `address`
// into `path` of `size` bytes, as the dynamic loader knows it. False when the loader cannot tell
// or the path does not fit; `path` is then empty (when size > 0).
bool LibraryPathOf(const void* address, char* path, uint32_t size);

// Writes the full path of the library file `file_name` (say "ctkorvin.dll") that a program of
// this system loads, into `path` of `size` bytes. On Windows it is searched for along the
// system's search path for programs and libraries (the program's folder, the current folder, the
// system folders, PATH), as the loader searches; elsewhere library files are named otherwise and
// it is the loaded module that contains `address` (a function of that library). False when it is
// not found or the path does not fit; `path` is then empty (when size > 0).
bool FindLibraryFile(const char* file_name, const void* address, char* path, uint32_t size);

// Writes the Windows directory into `path` of `size` bytes. On POSIX it is the folder named by
// WINDIR, or "/etc" when that is not set or empty. False when it does not fit.
bool WindowsDirectory(char* path, uint32_t size);

}  // namespace platform
