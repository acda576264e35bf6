#pragma once

// The primary screen as the program measures it: size in twips, twips per pixel on each axis.
class IScreen
{
public:
    virtual ~IScreen() = default;
    virtual double WidthTwips() const = 0;
    virtual double HeightTwips() const = 0;
    virtual double TwipsPerPixelX() const = 0;
    virtual double TwipsPerPixelY() const = 0;
};
