#include "controller/ResizeForm.h"

#include <QTest>

class TestResizeForm : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void layout_data();
    void layout();
    void centredOnScreen();
};

namespace {

FormMetrics design(double width, double height)
{
    FormMetrics m;
    m.clientWidth = width;
    m.clientHeight = height;
    m.headerWidth = width;
    m.headerHeight = 975;
    m.headerInnerWidth = width;
    m.headerInnerHeight = 975;
    m.buttonsWidth = 2835;
    m.buttonsHeight = 615;
    m.titleWidth = 2775;
    m.titleHeight = 375;
    return m;
}

} // namespace

void TestResizeForm::layout_data()
{
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("height");
    QTest::addColumn<QRectF>("splitter"); // null when not moved
    QTest::addColumn<QRectF>("buttons");
    QTest::addColumn<QPointF>("title"); // (-1, -1) when not moved
    QTest::newRow("design size") << 13050.0 << 7365.0 << QRectF(0, 975, 13050, 5775)
                                 << QRectF(10215, 6750, 2835, 615) << QPointF(10275, 300);
    QTest::newRow("exactly 1590 high")
        << 9000.0 << 1590.0 << QRectF(0, 975, 9000, 0) << QRectF(6165, 975, 2835, 615) << QPointF(6225, 300);
    QTest::newRow("below 1590: splitter stays")
        << 9000.0 << 1589.0 << QRectF() << QRectF(6165, 974, 2835, 615) << QPointF(6225, 300);
    QTest::newRow("header exactly 8400: title stays")
        << 8400.0 << 5000.0 << QRectF(0, 975, 8400, 3410) << QRectF(5565, 4385, 2835, 615) << QPointF(-1, -1);
    QTest::newRow("just over 8400") << 8401.0 << 5000.0 << QRectF(0, 975, 8401, 3410)
                                    << QRectF(5566, 4385, 2835, 615) << QPointF(5626, 300);
    QTest::newRow("narrower than the panel")
        << 2000.0 << 3000.0 << QRectF(0, 975, 2000, 1410) << QRectF(-835, 2385, 2835, 615) << QPointF(-1, -1);
}

void TestResizeForm::layout()
{
    QFETCH(double, width);
    QFETCH(double, height);
    QFETCH(QRectF, splitter);
    QFETCH(QRectF, buttons);
    QFETCH(QPointF, title);
    const FormLayout l = ComputeFormLayout(design(width, height));
    QCOMPARE(l.splitter.has_value(), !splitter.isNull());
    if (l.splitter)
        QCOMPARE(*l.splitter, splitter);
    QCOMPARE(l.buttons, buttons);
    QCOMPARE(l.title.has_value(), title != QPointF(-1, -1));
    if (l.title)
        QCOMPARE(*l.title, title);

    // The title's top is halved without rounding.
    FormMetrics odd = design(9000, 5000);
    odd.headerInnerHeight = 974;
    QCOMPARE(ComputeFormLayout(odd).title->y(), 299.5);
}

void TestResizeForm::centredOnScreen()
{
    QCOMPARE(CenterOnScreenCoordinate(3001 + 9015, 9015), 1500);
    QCOMPARE(CenterOnScreenCoordinate(20490, 9015), 5737);
    QCOMPARE(CenterOnScreenCoordinate(9015 - 3001, 9015), -1500); // toward zero
    QCOMPARE(CenterOnScreenCoordinate(10000.5, 0), 5000);         // 10000.5 rounds to even first
    QCOMPARE(CenterOnScreenCoordinate(10001.5, 0), 5001);
}

QTEST_GUILESS_MAIN(TestResizeForm)
#include "tst_resizeform.moc"
