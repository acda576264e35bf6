#pragma once

#include <QRect>

// A window's placement record: its normal (restored) rectangle in screen pixels, whatever its
// present state.
class IWindowPlacement
{
public:
    virtual ~IWindowPlacement() = default;
    virtual QRect normalRectangle() const = 0;
};
