#pragma once

#include "outside/IScreen.h"

// A screen of the given size in pixels at 96 dots per inch (15 twips per pixel).
struct FakeScreen final : IScreen
{
    FakeScreen(int widthPixels = 1920, int heightPixels = 1080) : width(widthPixels), height(heightPixels) {}
    double widthTwips() const override { return width * 15.0; }
    double heightTwips() const override { return height * 15.0; }
    double twipsPerPixelX() const override { return 15.0; }
    double twipsPerPixelY() const override { return 15.0; }
    QRect availableArea(const QRect&) const override
    {
        return available.isNull() ? QRect(0, 0, width, height) : available;
    }
    QRect available; // the whole screen when null
    int width;
    int height;
};
