#pragma once

#include "base/RuntimeError.h"

#include <cstdint>
#include <limits>

// A 16-bit signed counter: the program's row, list and template counters stop at 32,767, and
// going past that raises the overflow error instead of wrapping.
class Int16
{
public:
    constexpr Int16() = default;
    Int16(std::int64_t value) { *this = fromWide(value); } // NOLINT: converts like the counters do

    static Int16 fromWide(std::int64_t value)
    {
        if (value > std::numeric_limits<std::int16_t>::max() ||
            value < std::numeric_limits<std::int16_t>::min())
            raiseError(ErrorNumber::Overflow, QStringLiteral("Overflow"));
        Int16 result;
        result.m_value = static_cast<std::int16_t>(value);
        return result;
    }

    constexpr std::int16_t value() const { return m_value; }
    constexpr operator int() const { return m_value; } // NOLINT: reads like a plain number

    Int16& operator++() { return *this = fromWide(std::int64_t{m_value} + 1); }
    Int16& operator+=(std::int64_t step) { return *this = fromWide(std::int64_t{m_value} + step); }

private:
    std::int16_t m_value = 0;
};
