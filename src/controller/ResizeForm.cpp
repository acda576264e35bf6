#include "controller/ResizeForm.h"

#include <cmath>

FormLayout computeFormLayout(const FormMetrics& m)
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

int centerOnScreenCoordinate(double screenTwips, double windowTwips)
{
    const auto difference = static_cast<long long>(std::nearbyint(screenTwips - windowTwips));
    return static_cast<int>(difference / 2);
}
