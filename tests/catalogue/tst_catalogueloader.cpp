#include "catalogue/CatalogueLoader.h"
#include "components/OutlineGrid.h"
#include "outside/ITemplateReader.h"
#include "outside/Registry.h"
#include "support/FakeLogSink.h"
#include "support/Fakes.h"
#include "support/Installation.h"
#include "support/TestEnvironment.h"

#include <QTest>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The folder C:\App of a test installation with one template of every shape.
void writeInstallation(TestEnvironment& env)
{
    TemplateSpec orders;
    orders.title = QStringLiteral("Order Entry");
    orders.preProcess = QStringLiteral("C:\\App\\Batch\\pre.bat");
    orders.auditLog = QStringLiteral("C:\\Logs\\orders.log"); // named but missing: still listed
    orders.postProcess = QStringLiteral("D:\\POST.BAT");      // on no drive: not listed
    orders.fields = {
        {QStringLiteral("CUSTOMER"), QStringLiteral("P"), QStringLiteral("C:\\APP\\CUSTOMER.TPX"),
         QStringLiteral("C:\\DATA\\IN.CSV"), QStringLiteral("OUT.CSV"), QStringLiteral("CUSTOMER.HLP")},
        {QStringLiteral("NOTE"), QStringLiteral("p"), QStringLiteral("C:\\APP\\NOTE.TPT"), QString(),
         QStringLiteral("BATCH\\OUT.CSV"), QString()},
        {QStringLiteral("REGION"), QStringLiteral("L"), QString(), QString(), QString(), QString()},
    };
    orders.views = {{QStringLiteral("Summary"), 3}, {QStringLiteral("Detail"), QStringLiteral("7")}};
    env.write(QStringLiteral("c/App/ORDERS.TST6"), TemplateToml(orders));
    env.write(QStringLiteral("c/App/ORDERS.TSD6"));
    env.write(QStringLiteral("c/App/ORDERS.TSX6"));
    env.write(QStringLiteral("c/App/ORDERS.TSX"));
    env.write(QStringLiteral("c/App/ORDERS.TVM6.V3"));
    env.write(QStringLiteral("c/App/Batch/PRE.BAT"));
    env.write(QStringLiteral("c/App/OUT.CSV"));

    env.write(QStringLiteral("c/App/broken.tst6"), "this is [not a template");
    env.write(QStringLiteral("c/App/broken.TSD6"));
    env.write(QStringLiteral("c/App/broken.TSX"));

    TemplateSpec stock;
    stock.title = QStringLiteral("Stock");
    stock.views = {{QStringLiteral("Main"), 2}};
    env.write(QStringLiteral("c/App/stock.tst"), TemplateToml(stock));
    env.write(QStringLiteral("c/App/STOCK.V2"));

    env.makeFolder(QStringLiteral("c/App/X.TST6"));
    env.write(QStringLiteral("c/App/readme.txt"));
    // A named pipe of a template's name: never read, so it never holds up the load.
    mkfifo(QFile::encodeName(env.driveC() + QStringLiteral("/App/ZPIPE.TST6")).constData(), 0600);
}

const QStringList kExpectedRows = {
    QStringLiteral("0|Found Templates||||1"),
    QStringLiteral("1|broken.tst6 - Corrupted|1-TEMPLATEFILE|broken.tst6|C:\\APP\\broken.tst6|1"),
    QStringLiteral("2|Tessarine Data File|1-TSD|broken.TSD6|C:\\APP\\broken.TSD6|1"),
    QStringLiteral("2|Tessarine Script File|1-TSX|broken.TSX|C:\\APP\\broken.TSX|1"),
    QStringLiteral("1|Order Entry|2-TEMPLATEFILE|ORDERS.TST6|C:\\APP\\ORDERS.TST6|1|collapsed"),
    QStringLiteral("2|Tessarine Data File|2-TSD|ORDERS.TSD6|C:\\APP\\ORDERS.TSD6|1"),
    QStringLiteral("2|Application Files|2-APPFILES|||1"),
    QStringLiteral(
        "3|Add Screen Options - Batch Filename to Execute|2-PRE|BATCH\\PRE.BAT|C:\\App\\Batch\\pre.bat|1"),
    QStringLiteral("3|Transaction Audit Trail - Log Filename to "
                   "Update|2-LOG|C:\\LOGS\\ORDERS.LOG|C:\\Logs\\orders.log|1"),
    QStringLiteral("3|Tessarine Script File|2-TSX|ORDERS.TSX6|C:\\APP\\ORDERS.TSX6|1"),
    QStringLiteral("2|Popup Files|2-POPUPFILES|||1"),
    QStringLiteral("3|V1-CUSTOMER|2-V1-POPUP|CUSTOMER.TPT|C:\\APP\\CUSTOMER.TPT|1"),
    QStringLiteral("3|V3-REGION|2-V3-POPUP|||1"),
    QStringLiteral("2|Input Files|2-INPUTFILES|||1"),
    QStringLiteral("3|V1-CUSTOMER|2-V1-INPUT|IN.CSV|C:\\DATA\\IN.CSV|1"),
    QStringLiteral("2|Help Files|2-HELPFILES|||1"),
    QStringLiteral("3|V1-CUSTOMER|2-V1-HELP|CUSTOMER.HLP|CUSTOMER.HLP|1"),
    QStringLiteral("2|Views|2-VIEWFILES|||1"),
    QStringLiteral("3|Summary|2-TVM-ORDERS.TVM6.V3|ORDERS.TVM6.V3|C:\\APP\\ORDERS.TVM6.V3|1"),
    QStringLiteral("1|Stock|3-TEMPLATEFILE|stock.tst|C:\\APP\\stock.tst|1|collapsed"),
    QStringLiteral("2|Views|3-VIEWFILES|||1"),
    QStringLiteral("3|Main|3-TVM-stock.V2|stock.V2|C:\\APP\\stock.V2|1"),
    QStringLiteral("1|X.TST6 - Corrupted|4-TEMPLATEFILE|X.TST6|C:\\APP\\X.TST6|1"),
    QStringLiteral("1|ZPIPE.TST6 - Corrupted|5-TEMPLATEFILE|ZPIPE.TST6|C:\\APP\\ZPIPE.TST6|1"),
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

// Reader that claims more fields than a 16-bit counter can count.
class OverflowingReader final : public ITemplateReader
{
public:
    void Open(const QVariant&) override {}
    QString Title() override { return QStringLiteral("Huge"); }
    QString PreProcessBatchFile() override { return {}; }
    QString AuditLogFile() override { return {}; }
    QString PostProcessBatchFile() override { return {}; }
    int FieldCount() override { return 32768; }
    TemplateField Field(int) override { return {}; }
    void LoadViews() override {}
    int ViewCount() override { return 0; }
    TemplateView View(int) override { return {}; }
    void Close() override {}
};

QStringList entriesOf(const LogRecord& record)
{
    QStringList shortened;
    for (const QString& e : record.entries) {
        const QStringList parts = e.split(QLatin1Char('|'));
        shortened.append(
            parts.at(1).section(QLatin1Char(':'), 0, 0) + QLatin1Char(' ') + parts.at(3) +
            (parts.at(1).startsWith(QLatin1String("LOG")) || parts.at(1).startsWith(QLatin1String("ERROR"))
                 ? QLatin1Char(' ') + parts.at(4)
                 : QString()));
    }
    return shortened;
}

} // namespace

class TestCatalogueLoader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyRowKindInOrder();
    void traceOfALoad();
    void twoLoadsGiveTheSameRows();
    void folderHandlerUpperCasesAndEmptyPathLeavesTheGrid();
    void legacyScriptAndTemplateFilter();
    void folderWithoutTemplatesLeavesTheHeaderOnly();
    void overflowEndsTheLoadThroughItsTrap();
    void namedFilesAreNeverOpened();
};

void TestCatalogueLoader::everyRowKindInOrder()
{
    TestEnvironment env;
    writeInstallation(env);
    Harness h;
    h.tree.SelectFolder(QStringLiteral("c:\\app"), 0, true);
    QCOMPARE(h.state.CurrentFolder, QStringLiteral("C:\\APP\\"));
    QCOMPARE(GridDump(h.grid), kExpectedRows);
    QCOMPARE(h.grid.Rows(), kExpectedRows.size() + 1);
    QVERIFY(h.grid.IsColHidden(2));
    QCOMPARE(h.grid.CellOf(h.grid.NodeOfRow(1), 2).back, GridColor::SystemHighlight);
    QCOMPARE(h.grid.CellOf(h.grid.NodeOfRow(1), 1).fore, GridColor::White);
    QVERIFY(h.grid.ColWidthHint(0) > 0);
    QCOMPARE(h.state.TemplateCount, 5);
    QCOMPARE(h.pointer.calls, (QStringList{QStringLiteral("busy"), QStringLiteral("default")}));
}

void TestCatalogueLoader::traceOfALoad()
{
    TestEnvironment env;
    writeInstallation(env);
    FakeLogInstalled log;
    Harness h;
    h.tree.SelectFolder(QStringLiteral("C:\\App"), 0, true);
    QCOMPARE(entriesOf(*log.record),
             (QStringList{
                 QStringLiteral("START lstFolders_OnAfterNodeSelect"),
                 QStringLiteral("LOG lstFolders_OnAfterNodeSelect Clicked on folder: C:\\App"),
                 QStringLiteral("START LoadGrid"),
                 QStringLiteral("LOG LoadGrid PreProcess file found: C:\\App\\Batch\\pre.bat"),
                 QStringLiteral("LOG LoadGrid Log file found: C:\\Logs\\orders.log"),
                 QStringLiteral("LOG LoadGrid Script file found: C:\\APP\\ORDERS.TSX6"),
                 QStringLiteral("END LoadGrid"),
                 QStringLiteral("END lstFolders_OnAfterNodeSelect"),
             }));
}

void TestCatalogueLoader::twoLoadsGiveTheSameRows()
{
    TestEnvironment env;
    writeInstallation(env);
    Harness h;
    h.tree.SelectFolder(QStringLiteral("C:\\APP\\"), 0, true);
    h.grid.SetNodePicture(h.grid.NodeByKey(QStringLiteral("2-TSD")), 3);
    h.tree.SelectFolder(QStringLiteral("C:\\APP\\"), 0, true);
    QCOMPARE(GridDump(h.grid), kExpectedRows);
    QCOMPARE(h.grid.Rows(), kExpectedRows.size() + 1);
}

void TestCatalogueLoader::folderHandlerUpperCasesAndEmptyPathLeavesTheGrid()
{
    TestEnvironment env;
    writeInstallation(env);
    FakeLogInstalled log;
    Harness h;
    h.tree.SelectFolder(QStringLiteral("c:\\app\\"), 0, true);
    QCOMPARE(h.state.CurrentFolder, QStringLiteral("C:\\APP\\"));
    log.record->entries.clear();
    h.tree.SelectFolder(QString(), 0, true);
    QCOMPARE(h.state.CurrentFolder, QStringLiteral("C:\\APP\\"));
    QCOMPARE(GridDump(h.grid), kExpectedRows);
    QCOMPARE(entriesOf(*log.record),
             (QStringList{QStringLiteral("START lstFolders_OnAfterNodeSelect"),
                          QStringLiteral("LOG lstFolders_OnAfterNodeSelect Clicked on folder: "),
                          QStringLiteral("END lstFolders_OnAfterNodeSelect")}));
}

void TestCatalogueLoader::legacyScriptAndTemplateFilter()
{
    TestEnvironment env;
    TemplateSpec content;
    content.title = QStringLiteral("Legacy");
    env.write(QStringLiteral("c/Old/ORDERS.TST"), TemplateToml(content));
    env.write(QStringLiteral("c/Old/ORDERS.TSX6"));
    env.write(QStringLiteral("c/Old/ORDERS.TSX"));
    env.write(QStringLiteral("c/Old/ORDERS.TSD"));
    env.write(QStringLiteral("c/Old/OTHER.TST"), TemplateToml(content));
    Harness h;
    h.state.TemplateFilter = QStringLiteral("orders.tst");
    h.tree.SelectFolder(QStringLiteral("C:\\OLD"), 0, true);
    QCOMPARE(
        GridDump(h.grid),
        (QStringList{QStringLiteral("0|Found Templates||||1"),
                     QStringLiteral("1|Legacy|1-TEMPLATEFILE|ORDERS.TST|C:\\OLD\\ORDERS.TST|1|collapsed"),
                     QStringLiteral("2|Tessarine Data File|1-TSD|ORDERS.TSD|C:\\OLD\\ORDERS.TSD|1"),
                     QStringLiteral("2|Application Files|1-APPFILES|||1"),
                     QStringLiteral("3|Tessarine Script File|1-TSX|ORDERS.TSX6|C:\\OLD\\ORDERS.TSX6|1")}));
}

void TestCatalogueLoader::folderWithoutTemplatesLeavesTheHeaderOnly()
{
    TestEnvironment env;
    writeInstallation(env);
    env.write(QStringLiteral("c/Empty/notes.txt"));
    Harness h;
    h.tree.SelectFolder(QStringLiteral("C:\\APP"), 0, true);
    h.tree.SelectFolder(QStringLiteral("C:\\EMPTY"), 0, true);
    QCOMPARE(h.grid.Rows(), 1);
    QVERIFY(GridDump(h.grid).isEmpty());
}

void TestCatalogueLoader::overflowEndsTheLoadThroughItsTrap()
{
    TestEnvironment env;
    env.write(QStringLiteral("c/App/A.TST6"), "[Template]\n");
    env.write(QStringLiteral("c/App/A.TSD6"));
    FakeLogInstalled log;
    const Registry::ScopedOverride reader(QString::fromLatin1(ITemplateReader::ClassId),
                                          [] { return std::make_unique<OverflowingReader>(); });
    Harness h;
    h.tree.SelectFolder(QStringLiteral("C:\\APP"), 0, true);
    const QStringList entries = entriesOf(*log.record);
    QCOMPARE(entries.mid(entries.size() - 3),
             (QStringList{QStringLiteral("END LoadGrid"),
                          QStringLiteral("ERROR LoadGrid Runtime error occurred: 6 : Overflow"),
                          QStringLiteral("END lstFolders_OnAfterNodeSelect")}));
    // The rows made so far stay; the popup group that was being filled is there, empty.
    QCOMPARE(GridDump(h.grid).mid(0, 4),
             (QStringList{QStringLiteral("0|Found Templates||||1"),
                          QStringLiteral("1|Huge|1-TEMPLATEFILE|A.TST6|C:\\APP\\A.TST6|1"),
                          QStringLiteral("2|Tessarine Data File|1-TSD|A.TSD6|C:\\APP\\A.TSD6|1"),
                          QStringLiteral("2|Popup Files|1-POPUPFILES|||1")}));
    QCOMPARE(h.grid.ColWidthHint(0), 0); // sizing was not reached
    QCOMPARE(h.pointer.calls.last(), QStringLiteral("default"));
}

void TestCatalogueLoader::namedFilesAreNeverOpened()
{
    TestEnvironment env;
    writeInstallation(env);
    const int fd = inotify_init1(IN_NONBLOCK);
    QVERIFY(fd >= 0);
    const QByteArray folder = QFile::encodeName(env.driveC() + QStringLiteral("/App"));
    QVERIFY(inotify_add_watch(fd, folder.constData(), IN_OPEN) >= 0);
    Harness h;
    h.tree.SelectFolder(QStringLiteral("C:\\APP"), 0, true);
    QStringList opened;
    alignas(inotify_event) char buffer[65536];
    for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;) {
        for (char* p = buffer; p < buffer + got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(p);
            if (event->len > 0 && !(event->mask & IN_ISDIR))
                opened.append(QString::fromUtf8(event->name));
            p += sizeof(inotify_event) + event->len;
        }
    }
    close(fd);
    opened.removeDuplicates();
    opened.sort();
    QCOMPARE(opened, (QStringList{QStringLiteral("ORDERS.TST6"), QStringLiteral("broken.tst6"),
                                  QStringLiteral("stock.tst")}));
}

QTEST_GUILESS_MAIN(TestCatalogueLoader)
#include "tst_catalogueloader.moc"
