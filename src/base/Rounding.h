#pragma once

#include "base/RuntimeError.h"

#include <cmath>
#include <cstdint>
#include <limits>

// Rounds to the nearest integer with halves going to the even neighbour; a value outside the
// 32-bit range raises the overflow error.
inline std::int32_t roundHalfEven(double value)
{
    const double rounded = std::nearbyint(value); // the default rounding mode rounds halves to even
    if (!(rounded >= std::numeric_limits<std::int32_t>::min() &&
          rounded <= std::numeric_limits<std::int32_t>::max()))
        raiseError(ErrorNumber::Overflow, QStringLiteral("Overflow"));
    return static_cast<std::int32_t>(rounded);
}
