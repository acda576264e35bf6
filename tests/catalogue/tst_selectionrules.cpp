#include "catalogue/SelectionRules.h"
#include "components/OutlineGrid.h"
#include "support/FakeLogSink.h"
#include "support/Fakes.h"
#include "support/TestEnvironment.h"

#include <QTest>

namespace {

// Root; template 1 with a data file, a popup group of three files and a views group of two
// views; template 2 with a data file.
struct Grid
{
    OutlineGrid grid;
    FakeMessageBox messages;
    SelectionRules rules{grid, messages, QStringLiteral("ts6satchel")};

    Grid()
    {
        grid.SetRows(2);
        grid.SetIsNode(1, true);
        grid.SetCellPicture(1, 0, 1);
        const GridNode root = grid.NodeOfRow(1);
        const GridNode t1 = add(root, "1-TEMPLATEFILE");
        add(t1, "1-TSD");
        const GridNode popups = add(t1, "1-POPUPFILES");
        for (const char* key : {"1-V1-POPUP", "1-V2-POPUP", "1-V3-POPUP"})
            add(popups, key);
        const GridNode views = add(t1, "1-VIEWFILES");
        add(views, "1-TVM-A.TVM6.V1");
        add(views, "1-TVM-A.TVM6.V2");
        const GridNode t2 = add(root, "2-TEMPLATEFILE");
        add(t2, "2-TSD");
    }

    GridNode add(GridNode parent, const char* key)
    {
        const GridNode node = grid.AddNode(parent, QString::fromLatin1(key), QString::fromLatin1(key));
        grid.SetNodePicture(node, 1);
        return node;
    }

    void click(const char* key, int col = 0)
    {
        const GridNode node = key ? grid.NodeByKey(QString::fromLatin1(key)) : grid.NodeOfRow(1);
        grid.SetMouseCell(grid.NodeRow(node), col);
        rules.grdFiles_Mouseup(2, 0, 10.0, 10.0);
    }

    // The pictures of all rows, root first, as one text such as "1 2 1 ...".
    QString pictures() const
    {
        QStringList p;
        for (int row = 1; row < grid.Rows(); ++row)
            p.append(QString::number(grid.CellPicture(row, 0)));
        return p.join(QLatin1Char(' '));
    }
};

// Row order: root, T1, TSD, POPUPS, V1, V2, V3, VIEWS, TVM1, TVM2, T2, TSD2
} // namespace

class TestSelectionRules : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_env = std::make_unique<TestEnvironment>(); }
    void cleanupTestCase() { m_env.reset(); }
    void fileRowInAGroup();
    void lastIncludedFileExcludesTheGroup();
    void partlyIncludedGroupRowExcludesThenIncludes();
    void templateRowRecomputesTheRoot();
    void rootRowFlipsEverythingQuietly();
    void dataFileRowRecomputesTheTemplateOnly();
    void viewsCannotBeChosenOneByOne();
    void clicksOutsideColumnZeroChangeNothing();
    void traceOfAClick();

private:
    std::unique_ptr<TestEnvironment> m_env;
};

void TestSelectionRules::fileRowInAGroup()
{
    Grid g;
    g.click("1-V2-POPUP");
    QCOMPARE(g.pictures(), QStringLiteral("1 2 1 2 1 3 1 1 1 1 1 1"));
    g.click("1-V2-POPUP");
    QCOMPARE(g.pictures(), QStringLiteral("1 1 1 1 1 1 1 1 1 1 1 1"));
}

void TestSelectionRules::lastIncludedFileExcludesTheGroup()
{
    Grid g;
    g.click("1-V1-POPUP");
    g.click("1-V2-POPUP");
    g.click("1-V3-POPUP");
    QCOMPARE(g.pictures(), QStringLiteral("1 2 1 3 3 3 3 1 1 1 1 1"));
    // The same after the group's first row has gone: the rows after it are its siblings still.
    Grid removed;
    removed.grid.RemoveNode(removed.grid.NodeByKey(QStringLiteral("1-V1-POPUP")));
    removed.click("1-V2-POPUP");
    removed.click("1-V3-POPUP");
    QCOMPARE(removed.pictures(), QStringLiteral("1 2 1 3 3 3 1 1 1 1 1"));
}

void TestSelectionRules::partlyIncludedGroupRowExcludesThenIncludes()
{
    Grid g;
    g.click("1-V1-POPUP");
    QCOMPARE(g.grid.NodePicture(g.grid.NodeByKey(QStringLiteral("1-POPUPFILES"))), 2);
    g.click("1-POPUPFILES");
    QCOMPARE(g.pictures(), QStringLiteral("1 2 1 3 3 3 3 1 1 1 1 1"));
    g.click("1-POPUPFILES");
    QCOMPARE(g.pictures(), QStringLiteral("1 1 1 1 1 1 1 1 1 1 1 1"));
}

void TestSelectionRules::templateRowRecomputesTheRoot()
{
    Grid g;
    g.click("1-V1-POPUP"); // template 1 partly included
    g.click("1-TEMPLATEFILE");
    QCOMPARE(g.pictures(), QStringLiteral("2 3 3 3 3 3 3 3 3 3 1 1"));
    g.click("2-TEMPLATEFILE");
    QCOMPARE(g.pictures(), QStringLiteral("3 3 3 3 3 3 3 3 3 3 3 3"));
    g.click("2-TEMPLATEFILE");
    QCOMPARE(g.pictures(), QStringLiteral("2 3 3 3 3 3 3 3 3 3 1 1"));
}

void TestSelectionRules::rootRowFlipsEverythingQuietly()
{
    Grid g;
    g.click("1-V1-POPUP");
    g.click(nullptr);
    QCOMPARE(g.pictures(), QStringLiteral("3 3 3 3 3 3 3 3 3 3 3 3"));
    g.click(nullptr);
    QCOMPARE(g.pictures(), QStringLiteral("1 1 1 1 1 1 1 1 1 1 1 1"));
    QVERIFY(g.messages.shown.isEmpty());
}

void TestSelectionRules::dataFileRowRecomputesTheTemplateOnly()
{
    Grid g;
    g.click("2-TSD");
    QCOMPARE(g.pictures(), QStringLiteral("1 1 1 1 1 1 1 1 1 1 3 3")); // root keeps its picture
}

void TestSelectionRules::viewsCannotBeChosenOneByOne()
{
    Grid g;
    g.click("1-TVM-A.TVM6.V2");
    QCOMPARE(g.messages.shown, QStringList{QStringLiteral("You cannot select individual Views!")});
    QCOMPARE(g.messages.lastIcon, MessageIcon::Exclamation);
    QCOMPARE(g.messages.lastCaption, QStringLiteral("ts6satchel"));
    QCOMPARE(g.pictures(), QStringLiteral("1 1 1 1 1 1 1 1 1 1 1 1"));
    g.click("1-VIEWFILES");
    QCOMPARE(g.pictures(), QStringLiteral("1 2 1 1 1 1 1 3 3 3 1 1"));
    QCOMPARE(g.messages.shown.size(), 1);
}

void TestSelectionRules::clicksOutsideColumnZeroChangeNothing()
{
    Grid g;
    g.click("1-V1-POPUP", 1);
    g.click("1-V1-POPUP", 2);
    g.grid.SetMouseCell(-1, 0);
    g.rules.grdFiles_Mouseup(1, 0, 0, 0);
    g.grid.SetMouseCell(0, 0); // the header row is no node
    g.rules.grdFiles_Mouseup(1, 0, 0, 0);
    QCOMPARE(g.pictures(), QStringLiteral("1 1 1 1 1 1 1 1 1 1 1 1"));
}

void TestSelectionRules::traceOfAClick()
{
    FakeLogInstalled log;
    Grid g;
    g.click("1-TEMPLATEFILE");
    QStringList procedures;
    for (const QString& e : log.record->entries)
        procedures.append(e.section(QLatin1Char('|'), 3, 4));
    // Every row with children writes its own entry, depth first.
    QCOMPARE(procedures,
             (QStringList{QStringLiteral("grdFiles_Mouseup|Start"), QStringLiteral("SelectChildren|Start"),
                          QStringLiteral("SelectChildren|Start"), QStringLiteral("SelectChildren|Start"),
                          QStringLiteral("SelectParent|Start")}));
}

QTEST_GUILESS_MAIN(TestSelectionRules)
#include "tst_selectionrules.moc"
