#include "catalogue/CatalogueLoader.h"
#include "components/OutlineGrid.h"
#include "support/Fakes.h"
#include "support/Installation.h"
#include "support/TestEnvironment.h"

#include <QTest>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// The folder C:\App of a test installation with one template of every shape.
void writeInstallation(TestEnvironment& env)
{
    // The log file is named but missing: still listed; the post-process file is on no drive: not listed.
    const TemplateSpec orders{
        u"Order Entry"_s,
        u"C:\\App\\Batch\\pre.bat"_s,
        u"C:\\Logs\\orders.log"_s,
        u"D:\\POST.BAT"_s,
        {{u"CUSTOMER"_s, u"P"_s, u"C:\\APP\\CUSTOMER.TPX"_s, u"C:\\DATA\\IN.CSV"_s, u"OUT.CSV"_s,
          u"CUSTOMER.HLP"_s},
         {u"NOTE"_s, u"p"_s, u"C:\\APP\\NOTE.TPT"_s, QString(), u"BATCH\\OUT.CSV"_s, QString()},
         {u"REGION"_s, u"L"_s, QString(), QString(), QString(), QString()}},
        {{u"Summary"_s, 3}, {u"Detail"_s, u"7"_s}}};
    env.write(u"c/App/ORDERS.TST6"_s, TemplateToml(orders));
    const TemplateSpec stock{u"Stock"_s, {}, {}, {}, {}, {{u"Main"_s, 2}}};
    env.write(u"c/App/stock.tst"_s, TemplateToml(stock));
    env.write(u"c/App/broken.tst6"_s, "this is [not a template");
    for (const char* name :
         {"ORDERS.TSD6", "ORDERS.TSX6", "ORDERS.TSX", "ORDERS.TVM6.V3", "Batch/PRE.BAT", "OUT.CSV",
          "broken.TSD6", "broken.TSX", "STOCK.TSD", "STOCK.TSX6", "STOCK.TSX", "STOCK.V2"})
        env.write(u"c/App/"_s + QLatin1String(name));
    env.makeFolder(u"c/App/X.TST6"_s);
    env.write(u"c/App/readme.txt"_s);
    // A named pipe of a template's name: never read, so it never holds up the load.
    mkfifo(QFile::encodeName(env.driveC() + u"/App/ZPIPE.TST6"_s).constData(), 0600);
}

const QStringList kExpectedRows = {
    "0|Found Templates||||1",
    "1|broken.tst6 - Corrupted|1-TEMPLATEFILE|broken.tst6|C:\\APP\\broken.tst6|1",
    "2|Tessarine Data File|1-TSD|broken.TSD6|C:\\APP\\broken.TSD6|1",
    "2|Tessarine Script File|1-TSX|broken.TSX|C:\\APP\\broken.TSX|1",
    "1|Order Entry|2-TEMPLATEFILE|ORDERS.TST6|C:\\APP\\ORDERS.TST6|1|collapsed",
    "2|Tessarine Data File|2-TSD|ORDERS.TSD6|C:\\APP\\ORDERS.TSD6|1",
    "2|Application Files|2-APPFILES|||1",
    "3|Add Screen Options - Batch Filename to Execute|2-PRE|BATCH\\PRE.BAT|C:\\App\\Batch\\pre.bat|1",
    "3|Transaction Audit Trail - Log Filename to Update|2-LOG|C:\\LOGS\\ORDERS.LOG|C:\\Logs\\orders.log|1",
    "3|Tessarine Script File|2-TSX|ORDERS.TSX6|C:\\APP\\ORDERS.TSX6|1",
    "2|Popup Files|2-POPUPFILES|||1",
    "3|V1-CUSTOMER|2-V1-POPUP|CUSTOMER.TPT|C:\\APP\\CUSTOMER.TPT|1",
    "3|V3-REGION|2-V3-POPUP|||1",
    "2|Input Files|2-INPUTFILES|||1",
    "3|V1-CUSTOMER|2-V1-INPUT|IN.CSV|C:\\DATA\\IN.CSV|1",
    "2|Help Files|2-HELPFILES|||1",
    "3|V1-CUSTOMER|2-V1-HELP|CUSTOMER.HLP|CUSTOMER.HLP|1",
    "2|Views|2-VIEWFILES|||1",
    "3|Summary|2-TVM-ORDERS.TVM6.V3|ORDERS.TVM6.V3|C:\\APP\\ORDERS.TVM6.V3|1",
    "1|Stock|3-TEMPLATEFILE|stock.tst|C:\\APP\\stock.tst|1|collapsed",
    "2|Tessarine Data File|3-TSD|stock.TSD|C:\\APP\\stock.TSD|1",
    "2|Application Files|3-APPFILES|||1",
    "3|Tessarine Script File|3-TSX|stock.TSX6|C:\\APP\\stock.TSX6|1",
    "2|Views|3-VIEWFILES|||1",
    "3|Main|3-TVM-stock.V2|stock.V2|C:\\APP\\stock.V2|1",
    "1|X.TST6 - Corrupted|4-TEMPLATEFILE|X.TST6|C:\\APP\\X.TST6|1",
    "1|ZPIPE.TST6 - Corrupted|5-TEMPLATEFILE|ZPIPE.TST6|C:\\APP\\ZPIPE.TST6|1",
};

struct Harness
{
    ControllerState state;
    OutlineGrid grid;
    FakeFolderTree tree;
    FakeMousePointer pointer;
    CatalogueLoader loader{state, grid, tree, pointer};

    Harness()
    {
        tree.SetAfterSelectHandler([this] { loader.lstFolders_OnAfterNodeSelect(); });
    }
};

// The files of a folder that were opened since the watch began.
QStringList openedSince(int watch)
{
    QStringList opened;
    alignas(inotify_event) char buffer[65536];
    for (ssize_t got; (got = read(watch, buffer, sizeof buffer)) > 0;) {
        for (char* p = buffer; p < buffer + got;
             p += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(p)->len) {
            const auto* event = reinterpret_cast<const inotify_event*>(p);
            if (event->len > 0 && !(event->mask & IN_ISDIR))
                opened.append(QString::fromUtf8(event->name));
        }
    }
    close(watch);
    opened.removeDuplicates();
    opened.sort();
    return opened;
}

} // namespace

class TestCatalogueLoader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyRowKindAtEveryLoad();
    void overflowEndsTheLoadThroughItsTrap();
};

void TestCatalogueLoader::everyRowKindAtEveryLoad()
{
    TestEnvironment env;
    writeInstallation(env);
    env.write(u"c/Empty/notes.txt"_s);
    const int watch = inotify_init1(IN_NONBLOCK);
    QVERIFY(inotify_add_watch(watch, QFile::encodeName(env.driveC() + u"/App"_s).constData(), IN_OPEN) >= 0);
    Harness h;
    h.tree.SelectFolder(u"c:\\app"_s, 0, true);
    QCOMPARE(h.state.CurrentFolder, u"C:\\APP\\"_s);
    QCOMPARE(GridDump(h.grid), kExpectedRows);
    QCOMPARE(h.grid.Rows(), kExpectedRows.size() + 1);
    QVERIFY(h.grid.IsColHidden(2));
    QCOMPARE(h.grid.CellOf(h.grid.NodeOfRow(1), 2).back, GridColor::SystemHighlight);
    QCOMPARE(h.grid.CellOf(h.grid.NodeOfRow(1), 1).fore, GridColor::White);
    QVERIFY(h.grid.ColWidthHint(0) > 0);
    QCOMPARE(h.state.TemplateCount, 5);
    QCOMPARE(h.pointer.calls, (QStringList{"busy", "default"}));
    // Only the templates are read; every other file is only looked for.
    QCOMPARE(openedSince(watch), (QStringList{"ORDERS.TST6", "broken.tst6", "stock.tst"}));

    // The next load starts afresh; a tree node without a path leaves the folder and the rows as they were.
    h.grid.SetNodePicture(h.grid.NodeByKey(u"2-TSD"_s), 3);
    h.tree.SelectFolder(u"C:\\APP\\"_s, 0, true);
    h.tree.SelectFolder(QString(), 0, true);
    QCOMPARE(h.state.CurrentFolder, u"C:\\APP\\"_s);
    QCOMPARE(GridDump(h.grid), kExpectedRows);
    QCOMPARE(h.grid.Rows(), kExpectedRows.size() + 1);
    // A template named on the command line is the only one loaded, whatever its case.
    h.state.TemplateFilter = u"STOCK.TST"_s;
    h.tree.SelectFolder(u"C:\\APP"_s, 0, true);
    QCOMPARE(GridDump(h.grid).at(1), u"1|Stock|1-TEMPLATEFILE|stock.tst|C:\\APP\\stock.tst|1|collapsed"_s);
    QCOMPARE(h.state.TemplateCount, 1);
    // A folder without templates leaves the header row only.
    h.tree.SelectFolder(u"C:\\EMPTY"_s, 0, true);
    QCOMPARE(h.grid.Rows(), 1);
}

void TestCatalogueLoader::overflowEndsTheLoadThroughItsTrap()
{
    TestEnvironment env;
    // More fields than a 16-bit counter can count.
    env.write(u"c/App/A.TST6"_s,
              "[Template]\nTitle = \"Huge\"\n" + QByteArray("[[Field]]\n").repeated(32768));
    env.write(u"c/App/A.TSD6"_s);
    Harness h;
    h.tree.SelectFolder(u"C:\\APP"_s, 0, true);
    // The rows made so far stay; the popup group that was being filled is there, empty.
    QCOMPARE(GridDump(h.grid),
             (QStringList{"0|Found Templates||||1", "1|Huge|1-TEMPLATEFILE|A.TST6|C:\\APP\\A.TST6|1",
                          "2|Tessarine Data File|1-TSD|A.TSD6|C:\\APP\\A.TSD6|1",
                          "2|Popup Files|1-POPUPFILES|||1"}));
    QCOMPARE(h.grid.ColWidthHint(0), 0); // sizing was not reached
    QCOMPARE(h.pointer.calls.last(), u"default"_s);
}

QTEST_GUILESS_MAIN(TestCatalogueLoader)
#include "tst_catalogueloader.moc"
