#include "catalogue/SelectionRules.h"
#include "components/OutlineGrid.h"
#include "support/Fakes.h"
#include "support/TestEnvironment.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Root; template 1 with a data file, a popup group of three files and a views group of two
// views; template 2 with a data file. Row order: root, T1, TSD, POPUPS, V1, V2, V3, VIEWS, TVM1,
// TVM2, T2, TSD2.
struct Grid
{
    OutlineGrid grid;
    FakeMessageBox messages;
    SelectionRules rules{grid, messages, u"ts6satchel"_s};

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
        add(add(root, "2-TEMPLATEFILE"), "2-TSD");
    }

    GridNode add(GridNode parent, const char* key)
    {
        const GridNode node = grid.AddNode(parent, QString::fromLatin1(key), QString::fromLatin1(key));
        grid.SetNodePicture(node, 1);
        return node;
    }

    // "KEY" clicks the row's column 0, "KEY@n" its column n, "row n" grid row n, "-KEY" removes the row.
    void act(const QString& action)
    {
        if (action.startsWith(u'-'))
            return grid.RemoveNode(grid.NodeByKey(action.mid(1)));
        if (action.startsWith(u"row "_s))
            grid.SetMouseCell(action.mid(4).toInt(), 0);
        else
            grid.SetMouseCell(action == u"root"_s ? 1
                                                  : grid.NodeRow(grid.NodeByKey(action.section(u'@', 0, 0))),
                              action.section(u'@', 1).toInt());
        rules.grdFiles_Mouseup(2, 0, 10.0, 10.0);
    }

    // The pictures of all rows, root first, as one text such as "1 2 1 ...".
    QString pictures() const
    {
        QStringList p;
        for (int row = 1; row < grid.Rows(); ++row)
            p.append(QString::number(grid.CellPicture(row, 0)));
        return p.join(u' ');
    }
};

} // namespace

class TestSelectionRules : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void clicks_data();
    void clicks();
};

void TestSelectionRules::clicks_data()
{
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<QString>("pictures");
    QTest::addColumn<bool>("viewsMessage");
    const auto row = [](const char* name, const QStringList& actions, const char* pictures,
                        bool message = false) {
        QTest::newRow(name) << actions << QString::fromLatin1(pictures) << message;
    };
    const QString v1 = u"1-V1-POPUP"_s, v2 = u"1-V2-POPUP"_s, v3 = u"1-V3-POPUP"_s,
                  popups = u"1-POPUPFILES"_s;
    const QString t1 = u"1-TEMPLATEFILE"_s, t2 = u"2-TEMPLATEFILE"_s, view = u"1-TVM-A.TVM6.V2"_s;
    row("first file of a group", {v1}, "1 2 1 2 3 1 1 1 1 1 1 1");
    row("file in the middle of a group", {v2}, "1 2 1 2 1 3 1 1 1 1 1 1");
    row("the same file again", {v2, v2}, "1 1 1 1 1 1 1 1 1 1 1 1");
    row("last included file excludes the group", {v1, v2, v3}, "1 2 1 3 3 3 3 1 1 1 1 1");
    // The rows after a group's removed first row are its siblings still.
    row("last included file after the first has gone", {"-" + v1, v2, v3}, "1 2 1 3 3 3 1 1 1 1 1");
    row("partly included group row excludes", {v1, popups}, "1 2 1 3 3 3 3 1 1 1 1 1");
    row("then includes", {v1, popups, popups}, "1 1 1 1 1 1 1 1 1 1 1 1");
    row("template row recomputes the root", {v1, t1}, "2 3 3 3 3 3 3 3 3 3 1 1");
    row("every template row excluded", {v1, t1, t2}, "3 3 3 3 3 3 3 3 3 3 3 3");
    row("a template row back", {v1, t1, t2, t2}, "2 3 3 3 3 3 3 3 3 3 1 1");
    row("root row flips everything quietly", {v1, "root"}, "3 3 3 3 3 3 3 3 3 3 3 3");
    row("and back", {v1, "root", "root"}, "1 1 1 1 1 1 1 1 1 1 1 1");
    row("data file row recomputes the template only", {"2-TSD"}, "1 1 1 1 1 1 1 1 1 1 3 3");
    row("a view cannot be chosen alone", {view}, "1 1 1 1 1 1 1 1 1 1 1 1", true);
    row("the views group can", {view, "1-VIEWFILES"}, "1 2 1 1 1 1 1 3 3 3 1 1", true);
    row("outside column 0 or any row", {v1 + "@1", v1 + "@2", "row -1", "row 0"}, "1 1 1 1 1 1 1 1 1 1 1 1");
}

void TestSelectionRules::clicks()
{
    QFETCH(QStringList, actions);
    QFETCH(QString, pictures);
    QFETCH(bool, viewsMessage);
    const TestEnvironment env; // the trace goes there
    Grid g;
    for (const QString& action : actions)
        g.act(action);
    QCOMPARE(g.pictures(), pictures);
    QCOMPARE(g.messages.shown,
             viewsMessage ? QStringList{u"You cannot select individual Views!"_s} : QStringList());
    if (viewsMessage) {
        QCOMPARE(g.messages.lastIcon, MessageIcon::Exclamation);
        QCOMPARE(g.messages.lastCaption, u"ts6satchel"_s);
    }
}

QTEST_GUILESS_MAIN(TestSelectionRules)
#include "tst_selectionrules.moc"
