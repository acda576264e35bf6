#pragma once

#include <QRectF>

#include <optional>

// What the main window's layout step reads from its parts at every call, in twips.
struct FormMetrics
{
    double clientLeft = 0;
    double clientWidth = 0;
    double clientHeight = 0;
    double headerWidth = 0;
    double headerHeight = 0;
    double headerInnerWidth = 0;
    double headerInnerHeight = 0;
    double buttonsWidth = 0;
    double buttonsHeight = 0;
    double titleWidth = 0;
    double titleHeight = 0;
};

// Where the layout step moves the parts; a part that is not moved keeps its place.
struct FormLayout
{
    std::optional<QRectF> splitter; // not moved when its height would be negative
    QRectF buttons;
    std::optional<QPointF> title; // moved only when the header is wider than 8400 twips
};

inline constexpr double kTitleThresholdTwips = 8400;

FormLayout computeFormLayout(const FormMetrics& m);

// One coordinate of a window centred on the screen, in twips: the difference rounded to a whole
// number (halves to even), then halved with the fraction dropped (toward zero).
int centerOnScreenCoordinate(double screenTwips, double windowTwips);
