// SPDX-License-Identifier: BSD-3-Clause
// The standard CT-API header and ctkorvin's in one C++ unit, the standard one first.
#include <ctapi.h>
// and then
#include "ctapi/ctapi.h"

#define KV_UNIT cpp_standard_first
#include "tests/header/calls.inc"
