#pragma once

#include "outside/IScreen.h"

// A screen of the given size in pixels at 96 dots per inch (15 twips per pixel).
class FakeScreen final : public IScreen
{
public:
    FakeScreen(int widthPixels = 1920, int heightPixels = 1080) : m_width(widthPixels), m_height(heightPixels)
    {}
    double WidthTwips() const override { return m_width * 15.0; }
    double HeightTwips() const override { return m_height * 15.0; }
    double TwipsPerPixelX() const override { return 15.0; }
    double TwipsPerPixelY() const override { return 15.0; }

private:
    int m_width;
    int m_height;
};
