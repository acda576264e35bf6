#pragma once

#include <QRect>

// The primary screen as the program measures it: size in twips, twips per pixel on each axis; and
// the area windows may take (without panels and docks) on the screen that holds a rectangle.
class IScreen
{
public:
    virtual ~IScreen() = default;
    // In pixels: of the screen holding most of near, or the primary screen when none holds it.
    virtual QRect availableArea(const QRect& near) const = 0;
    virtual double widthTwips() const = 0;
    virtual double heightTwips() const = 0;
    virtual double twipsPerPixelX() const = 0;
    virtual double twipsPerPixelY() const = 0;
};
