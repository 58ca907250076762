// SPDX-License-Identifier: BSD-3-Clause
// Named kernel objects on Windows: their system names and the security every one of them gets.
// A name is prefix + name. The prefix comes from CTKORVIN_OBJECT_PREFIX and is empty unless set;
// it gives a test run, or a second set of terminals, objects of its own beside the usual ones.
// Every object is created with a security descriptor without a DACL (every account has full
// access) and an inheritable handle.
#pragma once

#include <stdlib.h>
#include <windows.h>

#include <string>

namespace platform {

constexpr char kObjectPrefixVariable[] = "CTKORVIN_OBJECT_PREFIX";

inline std::string SystemObjectName(const char* name) {
  const char* prefix = getenv(kObjectPrefixVariable);
  return std::string(prefix ? prefix : "") + name;
}

// The security attributes of a named object open to every account. The record holds its own
// descriptor, so it must stay where it is while it is used.
struct OpenSecurity {
  SECURITY_DESCRIPTOR descriptor;
  SECURITY_ATTRIBUTES attributes;
};

// False when the descriptor cannot be made (the reason is in GetLastError()).
inline bool MakeOpenSecurity(OpenSecurity* security) {
  if (!InitializeSecurityDescriptor(&security->descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&security->descriptor, TRUE, nullptr, FALSE)) {
    return false;
  }
  security->attributes.nLength = sizeof security->attributes;
  security->attributes.lpSecurityDescriptor = &security->descriptor;
  security->attributes.bInheritHandle = TRUE;
  return true;
}

inline HANDLE AsHandle(intptr_t value) {
  return reinterpret_cast<HANDLE>(value);
}

inline intptr_t FromHandle(HANDLE handle) {
  return reinterpret_cast<intptr_t>(handle);
}

}  // namespace platform
