#pragma once

#include <QMargins>
#include <QRect>

#include <algorithm>

// Where a window goes so that the whole of it, frame and title bar included, lies in the screen's
// available area: a placement that fits stays exactly as it is; one that does not is moved, and
// then shrunk if moving is not enough. In pixels; frame is the decoration around the placement.
inline QRect fitOnScreen(const QRect& placement, const QMargins& frame, const QRect& available)
{
    QRect outer = placement.marginsAdded(frame);
    if (available.isEmpty() || available.contains(outer))
        return placement;
    outer.setWidth(std::min(outer.width(), available.width()));
    outer.setHeight(std::min(outer.height(), available.height()));
    outer.moveLeft(std::clamp(outer.left(), available.left(), available.right() - outer.width() + 1));
    outer.moveTop(std::clamp(outer.top(), available.top(), available.bottom() - outer.height() + 1));
    return outer.marginsRemoved(frame);
}
