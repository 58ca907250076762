// SPDX-License-Identifier: BSD-3-Clause
// The synchronous memory-card models (2-wire, 3-wire, I2C) behind cards::MakeCard. Only
// sim/cards uses this header; everyone else makes cards with MakeCard.
#pragma once

#include <memory>

#include "sim/cards/card.h"

namespace cards {

// A memory card of spec.kind (kTwoWire, kThreeWire or kI2c); nullptr for any other kind.
std::unique_ptr<Card> MakeMemoryCard(const CardSpec& spec);

}  // namespace cards
