#pragma once

#include <QRect>

// The primary screen as the program measures it: size in twips, twips per pixel on each axis; and
// the area windows may take (without panels and docks) on the screen that holds a rectangle.
class IScreen
{
public:
    virtual ~IScreen() = default;
    // In pixels: of the screen holding most of near, or the primary screen when none holds it.
    virtual QRect AvailableArea(const QRect& near) const = 0;
    virtual double WidthTwips() const = 0;
    virtual double HeightTwips() const = 0;
    virtual double TwipsPerPixelX() const = 0;
    virtual double TwipsPerPixelY() const = 0;
};
