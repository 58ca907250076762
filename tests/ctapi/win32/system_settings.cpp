// SPDX-License-Identifier: BSD-3-Clause
// What the library makes of the system's own settings under Wine, for scripts/wine-settings.sh:
// `ctapi_tests.exe --kv-child system-settings` prints the system class the library sees, whether
// the registry switch SinglePort is on, and what CT_init answers for port 1 with its reader
// attached.
#include <stdio.h>

#include <string>

#include "ctapi/ctapi.h"
#include "ctapi/readers.h"
#include "ctapi/slots.h"
#include "sim/sim.h"
#include "tests/common/child_process.h"

namespace {

int PrintSystemSettings(const std::string&) {
  sim::Reset();
  sim::ReaderSpec reader;
  reader.name = "TREVANO Kelvane Birch 0";
  sim::AddReader(reader);
  const int8_t opened = CT_init(1, 1);
  printf("os-class=%u single-port=%d ct-init=%d\n", static_cast<unsigned>(ctapi::GetOsClass()),
         ctapi::IsSinglePortMode() ? 1 : 0, opened);
  if (opened == OK) CT_close(1);
  return 0;
}
KV_CHILD_ROUTINE("system-settings", PrintSystemSettings);

}  // namespace
