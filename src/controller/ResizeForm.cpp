#include "controller/ResizeForm.h"

#include <algorithm>
#include <cmath>

FormLayout ComputeFormLayout(const FormMetrics& m)
{
    FormLayout layout;
    const double splitterHeight = m.clientHeight - (m.headerHeight + m.buttonsHeight);
    if (splitterHeight >= 0)
        layout.splitter = QRectF(m.clientLeft, m.headerHeight, m.clientWidth, splitterHeight);
    layout.buttons = QRectF(m.clientWidth - m.buttonsWidth, m.clientHeight - m.buttonsHeight, m.buttonsWidth,
                            m.buttonsHeight);
    if (m.headerWidth > kTitleThresholdTwips)
        layout.title =
            QPointF(m.headerInnerWidth - m.titleWidth, (m.headerInnerHeight - m.titleHeight) / 2.0);
    return layout;
}

int CenterOnScreenCoordinate(double screenTwips, double windowTwips)
{
    const auto difference = static_cast<long long>(std::nearbyint(screenTwips - windowTwips));
    return static_cast<int>(difference / 2);
}

QRect FitOnScreen(const QRect& placement, const QMargins& frame, const QRect& available)
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
