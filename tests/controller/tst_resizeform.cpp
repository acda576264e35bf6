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

void TestResizeForm::layout_data()
{
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("height");
    QTest::addColumn<double>("headerInnerHeight");
    QTest::addColumn<QRectF>("splitter"); // null when not moved
    QTest::addColumn<QRectF>("buttons");
    QTest::addColumn<QPointF>("title"); // (-1, -1) when not moved
    QTest::newRow("design size") << 13050.0 << 7365.0 << 975.0 << QRectF(0, 975, 13050, 5775)
                                 << QRectF(10215, 6750, 2835, 615) << QPointF(10275, 300);
    QTest::newRow("exactly 1590 high") << 9000.0 << 1590.0 << 975.0 << QRectF(0, 975, 9000, 0)
                                       << QRectF(6165, 975, 2835, 615) << QPointF(6225, 300);
    QTest::newRow("below 1590: splitter stays")
        << 9000.0 << 1589.0 << 975.0 << QRectF() << QRectF(6165, 974, 2835, 615) << QPointF(6225, 300);
    QTest::newRow("header exactly 8400: title stays")
        << 8400.0 << 5000.0 << 975.0 << QRectF(0, 975, 8400, 3410) << QRectF(5565, 4385, 2835, 615)
        << QPointF(-1, -1);
    QTest::newRow("just over 8400") << 8401.0 << 5000.0 << 975.0 << QRectF(0, 975, 8401, 3410)
                                    << QRectF(5566, 4385, 2835, 615) << QPointF(5626, 300);
    QTest::newRow("narrower than the panel") << 2000.0 << 3000.0 << 975.0 << QRectF(0, 975, 2000, 1410)
                                             << QRectF(-835, 2385, 2835, 615) << QPointF(-1, -1);
    QTest::newRow("odd inner height: halved without rounding")
        << 9000.0 << 5000.0 << 974.0 << QRectF(0, 975, 9000, 3410) << QRectF(6165, 4385, 2835, 615)
        << QPointF(6225, 299.5);
}

void TestResizeForm::layout()
{
    QFETCH(double, width);
    QFETCH(double, height);
    QFETCH(double, headerInnerHeight);
    QFETCH(QRectF, splitter);
    QFETCH(QRectF, buttons);
    QFETCH(QPointF, title);
    const FormLayout l =
        ComputeFormLayout({0, width, height, width, 975, width, headerInnerHeight, 2835, 615, 2775, 375});
    QCOMPARE(l.splitter.value_or(QRectF()), splitter);
    QCOMPARE(l.buttons, buttons);
    QCOMPARE(l.title.value_or(QPointF(-1, -1)), title);
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
