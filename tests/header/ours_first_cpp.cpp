// SPDX-License-Identifier: BSD-3-Clause
// The standard CT-API header and ctkorvin's in one C++ unit, ctkorvin's first.
#include "ctapi/ctapi.h"
// and then
#include <ctapi.h>

#define KV_UNIT cpp_ours_first
#include "tests/header/calls.inc"
