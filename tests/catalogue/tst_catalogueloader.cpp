#include "base/RuntimeError.h"
#include "catalogue/CatalogueLoader.h"
#include "catalogue/PathHelpers.h"
#include "catalogue/SelectionRules.h"
#include "components/OutlineGrid.h"
#include "components/PathUtility.h"
#include "support/Fakes.h"
#include "support/Installation.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QTest>
#include <functional>
#include <map>

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
    env.write(u"c/App/ORDERS.TST6"_s, templateToml(orders));
    const TemplateSpec stock{.title = u"Stock"_s, .views = {{u"Main"_s, 2}}};
    env.write(u"c/App/stock.tst"_s, templateToml(stock));
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
    CatalogueLoader loader;

    explicit Harness(const TestEnvironment& env)
        : loader(state, grid, tree, pointer, env.components().pathUtility, env.components().templateReader)
    {
        tree.setAfterSelectHandler([this] { loader.lstFolders_OnAfterNodeSelect(); });
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
    void clicks_data();
    void clicks();
    void helper_data();
    void helper();
};

void TestCatalogueLoader::everyRowKindAtEveryLoad()
{
    TestEnvironment env;
    writeInstallation(env);
    const int watch = inotify_init1(IN_NONBLOCK);
    QVERIFY(inotify_add_watch(watch, QFile::encodeName(env.driveC() + u"/App"_s).constData(), IN_OPEN) >= 0);
    Harness h(env);
    h.tree.selectFolder(u"c:\\app"_s, 0, true);
    QCOMPARE(h.state.CurrentFolder, u"C:\\APP\\"_s);
    QCOMPARE(gridDump(h.grid), kExpectedRows);
    QVERIFY(h.grid.isColHidden(2));
    QCOMPARE(h.grid.cellOf(h.grid.nodeOfRow(1), 2).back, GridColor::SystemHighlight);
    QCOMPARE(h.grid.cellOf(h.grid.nodeOfRow(1), 1).fore, GridColor::White);
    QVERIFY(h.grid.colWidthHint(0) > 0);
    QCOMPARE(h.state.templateCount, 5);
    QCOMPARE(h.pointer.calls, (QStringList{"busy", "default"}));
    // Only the templates are read; every other file is only looked for.
    QCOMPARE(openedSince(watch), (QStringList{"ORDERS.TST6", "broken.tst6", "stock.tst"}));

    // The next load starts afresh; a tree node without a path leaves the folder and the rows as they were.
    h.grid.setNodePicture(h.grid.nodeByKey(u"2-TSD"_s), 3);
    h.tree.selectFolder(u"C:\\APP\\"_s, 0, true);
    h.tree.selectFolder(QString(), 0, true);
    QCOMPARE(h.state.CurrentFolder, u"C:\\APP\\"_s);
    QCOMPARE(gridDump(h.grid), kExpectedRows);
    QCOMPARE(h.grid.rows(), kExpectedRows.size() + 1);
}

void TestCatalogueLoader::overflowEndsTheLoadThroughItsTrap()
{
    TestEnvironment env;
    // More fields than a 16-bit counter can count.
    env.write(u"c/App/A.TST6"_s,
              "[Template]\nTitle = \"Huge\"\n" + QByteArray("[[Field]]\n").repeated(32768));
    env.write(u"c/App/A.TSD6"_s);
    Harness h(env);
    h.tree.selectFolder(u"C:\\APP"_s, 0, true);
    // The rows made so far stay; the popup group that was being filled is there, empty.
    QCOMPARE(gridDump(h.grid),
             (QStringList{"0|Found Templates||||1", "1|Huge|1-TEMPLATEFILE|A.TST6|C:\\APP\\A.TST6|1",
                          "2|Tessarine Data File|1-TSD|A.TSD6|C:\\APP\\A.TSD6|1",
                          "2|Popup Files|1-POPUPFILES|||1"}));
    QCOMPARE(h.grid.colWidthHint(0), 0); // sizing was not reached
    QCOMPARE(h.pointer.calls.last(), u"default"_s);
}

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
        grid.setRows(2);
        grid.setIsNode(1, true);
        grid.setCellPicture(1, 0, 1);
        const GridNode root = grid.nodeOfRow(1);
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
        const GridNode node = grid.addNode(parent, QString::fromLatin1(key), QString::fromLatin1(key));
        grid.setNodePicture(node, 1);
        return node;
    }

    // "KEY" clicks the row's column 0, "KEY@n" its column n, "row n" grid row n, "-KEY" removes the row.
    void act(const QString& action)
    {
        if (action.startsWith(u'-'))
            return grid.removeNode(grid.nodeByKey(action.mid(1)));
        if (action.startsWith(u"row "_s))
            grid.setMouseCell(action.mid(4).toInt(), 0);
        else
            grid.setMouseCell(action == u"root"_s ? 1
                                                  : grid.nodeRow(grid.nodeByKey(action.section(u'@', 0, 0))),
                              action.section(u'@', 1).toInt());
        rules.grdFiles_Mouseup(2, 0, 10.0, 10.0);
    }

    // The pictures of all rows, root first, as one text such as "1 2 1 ...".
    QString pictures() const
    {
        QStringList p;
        for (int row = 1; row < grid.rows(); ++row)
            p.append(QString::number(grid.cellPicture(row, 0)));
        return p.join(u' ');
    }
};

} // namespace

void TestCatalogueLoader::clicks_data()
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

void TestCatalogueLoader::clicks()
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

namespace {

QString yesNo(bool value)
{
    return value ? u"yes"_s : u"no"_s;
}

QString joined(const QStringList& a)
{
    const QString bs = u"\\"_s;
    return a.isEmpty()     ? JoinPath(bs, {})
           : a.size() == 1 ? JoinPath(bs, {a[0]})
           : a.size() == 2 ? JoinPath(bs, {a[0], a[1]})
                           : JoinPath(bs, {a[0], a[1], a[2]});
}

QString split(const QString& line)
{
    QString first, rest = u"old"_s;
    SplitCommandLine(line, first, rest);
    return first + u" + "_s + rest;
}

// Each helper as a function of its arguments, its result as text.
const std::map<QString, std::function<QString(const QStringList&)>> kHelpers = {
    {u"IsRootedPath"_s, [](const QStringList& a) { return yesNo(IsRootedPath(a[0])); }},
    {u"JoinPath"_s, joined},
    {u"RemoveExtension"_s, [](const QStringList& a) { return RemoveExtension(a[0]); }},
    {u"GetExtension"_s, [](const QStringList& a) { return GetExtension(a[0]); }},
    {u"GetPath, GetFileName"_s,
     [](const QStringList& a) {
         const Maker<IPathUtility> paths = [] { return std::make_unique<PathUtility>(); };
         return GetPath(paths, a[0]) + u" + "_s + GetFileName(paths, a[0]);
     }},
    {u"SplitCommandLine"_s, [](const QStringList& a) { return split(a[0]); }},
    {u"MakeRelativePath"_s, [](const QStringList& a) { return MakeRelativePath(a[0], a[1]); }},
    {u"StringExistsInArray"_s,
     [](const QStringList& a) { return yesNo(StringExistsInArray(a[0], a.mid(1))); }},
    {u"TrimAtNull"_s, [](const QStringList& a) { return TrimAtNull(a[0]); }},
    {u"FindFiles"_s, [](const QStringList& a) { return FindFiles(a[0], a[1]).join(u'|'); }},
    {u"FileExists, FolderExists"_s,
     [](const QStringList& a) { return yesNo(FileExists(a[0])) + u", "_s + yesNo(FolderExists(a[0])); }},
};

void row(const char* helper, const char* name, const QStringList& arguments, const QString& expected)
{
    QTest::addRow("%s: %s", helper, name) << QString::fromLatin1(helper) << arguments << expected;
}

} // namespace

void TestCatalogueLoader::helper_data()
{
    QTest::addColumn<QString>("helper");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected"); // "error N" for a run-time error
    const char* rooted = "IsRootedPath";
    row(rooted, "lower-case drive", {"c:\\app"}, "yes");
    row(rooted, "drive without backslash", {"C:APP"}, "no");
    row(rooted, "two characters", {"C:"}, "no");
    row(rooted, "digit as drive", {"1:\\APP"}, "no");
    row(rooted, "share", {"\\\\server\\share"}, "yes");
    row(rooted, "server alone", {"\\\\server"}, "no");
    row(rooted, "three backslashes", {"\\\\\\name"}, "yes");

    const char* join = "JoinPath";
    row(join, "folder and name", {"C:\\APP", "X.TST6"}, "C:\\APP\\X.TST6");
    row(join, "nothing", {}, "");
    row(join, "one part loses its backslash", {"C:\\"}, "C:");
    row(join, "backslash on both sides", {"C:\\A\\", "\\B"}, "C:\\A\\\\B");

    const char* remove = "RemoveExtension";
    row(remove, "two dots", {"A.B.C"}, "A.B");
    row(remove, "only a leading dot", {".hidden"}, "");
    row(remove, "no dot", {"TSSatchelage"}, "TSSatchelage");
    row(remove, "blanks trimmed", {"  NAME .TST6"}, "NAME");

    const char* extension = "GetExtension";
    row(extension, "several dots", {"A.LOGS.TSSDB6"}, ".TSSDB6");
    row(extension, "ends with dot", {"NAME."}, ".");
    row(extension, "dot only in folder", {"C:\\V1.2\\NAME"}, "");
    row(extension, "drive-relative", {"C:NAME"}, "");
    row(extension, "no dot", {"NAME"}, "");

    const char* parts = "GetPath, GetFileName";
    row(parts, "template", {"C:\\APP\\ORDERS.TST6"}, "C:\\APP\\ + ORDERS.TST6");
    row(parts, "folder with backslash", {"C:\\APP\\"}, "C:\\APP\\ + ");
    row(parts, "folder without backslash", {"C:\\APP"}, "C:\\ + APP");
    row(parts, "bare name", {"ORDERS.TST6"}, " + ORDERS.TST6");
    row(parts, "drive-relative", {"C:ORDERS.TST6"}, "C: + ORDERS.TST6");

    const char* split = "SplitCommandLine";
    row(split, "unquoted takes all, blanks kept", {" C:\\APP\\ D:\\OUT.ZIP "}, " C:\\APP\\ D:\\OUT.ZIP  + ");
    row(split, "quoted alone", {"\"C:\\APP\\\""}, "C:\\APP\\ + ");
    row(split, "two quoted", {"\"C:\\APP\\\" \"D:\\OUT.ZIP\""}, "C:\\APP\\ + D:\\OUT.ZIP");
    row(split, "quoted then bare", {"\"C:\\A\\\"   D:\\OUT.ZIP  "}, "C:\\A\\ + D:\\OUT.ZIP");
    row(split, "rest with one quote kept", {"\"A\" \"B"}, "A + \"B");
    row(split, "unclosed quote", {"\"C:\\APP"}, "error 5");
    row(split, "unclosed second quote", {"\"A\" \""}, "error 5");

    const char* relative = "MakeRelativePath";
    row(relative, "below the folder, any case", {"C:\\APP\\BATCH\\PRE.BAT", "c:\\app\\"},
        u"BATCH\\PRE.BAT"_s);
    row(relative, "elsewhere", {"D:\\PRE.BAT", "C:\\APP\\"}, "D:\\PRE.BAT");

    const char* inList = "StringExistsInArray";
    row(inList, "exact", {"C:\\B.TXT", "", "c:\\a.txt", "C:\\B.TXT"}, "yes");
    row(inList, "case differs", {"C:\\A.TXT", "", "c:\\a.txt", "C:\\B.TXT"}, "no");

    row("TrimAtNull", "cut", {u"AB"_s + QChar(u'\0') + u"CD"_s}, "AB");

    // In C:\App: orders.tst6, Stock.TST, notes.txt, .hidden.tst6, .secret, folders X.TST6 and .cache. The
    // folder with its backslash, and one template by name, are the loads' own.
    const char* find = "FindFiles";
    const QString all = "|C:\\APP\\.hidden.tst6|C:\\APP\\orders.tst6|C:\\APP\\Stock.TST|C:\\APP\\X.TST6";
    row(find, "templates", {"C:\\APP", "*.TST?"}, all);
    row(find, "everything, with . and ..", {"C:\\APP", "*"},
        "|C:\\APP\\.|C:\\APP\\..|C:\\APP\\.cache|C:\\APP\\.hidden.tst6|C:\\APP\\.secret|C:\\APP\\notes.txt|"
        "C:\\APP\\orders.tst6|C:\\APP\\Stock.TST|C:\\APP\\X.TST6");
    row(find, "no folder", {"C:\\NOWHERE", "*.*"}, "");

    const char* exists = "FileExists, FolderExists";
    row(exists, "file, lower-case drive", {"c:\\app\\orders.tst6"}, "yes, no");
    row(exists, "folder", {"C:\\APP"}, "yes, yes");
    row(exists, "folder with backslash", {"C:\\APP\\"}, "yes, yes");
    row(exists, "hidden folder", {"C:\\APP\\.CACHE"}, "yes, no");
    row(exists, "hidden folder with backslash", {"C:\\APP\\.CACHE\\"}, "yes, yes");
    row(exists, "missing", {"C:\\APP\\MISSING.TST6"}, "no, no");
    row(exists, "relative, even though it exists", {"orders.tst6"}, "no, no");
    row(exists, "unmapped drive", {"Q:\\APP"}, "no, no");
    row(exists, "dot-dot resolved by text", {"C:\\APP\\..\\APP\\ORDERS.TST6"}, "yes, no");
    row(exists, "empty", {""}, "no, no");
}

void TestCatalogueLoader::helper()
{
    QFETCH(QString, helper);
    QFETCH(QStringList, arguments);
    TestEnvironment env;
    for (const char* file : {"orders.tst6", "Stock.TST", "notes.txt", ".hidden.tst6", ".secret"})
        env.write(u"c/App/"_s + QLatin1String(file));
    env.makeFolder(u"c/App/X.TST6"_s);
    env.makeFolder(u"c/App/.cache"_s);
    const QString old = QDir::currentPath();
    QDir::setCurrent(env.driveC() + u"/App"_s); // relative paths would find the files here
    QString actual;
    try {
        actual = kHelpers.at(helper)(arguments);
    } catch (const RuntimeError& e) {
        actual = u"error "_s + QString::number(e.number());
    }
    QDir::setCurrent(old);
    QTEST(actual, "expected");
}

QTEST_GUILESS_MAIN(TestCatalogueLoader)
#include "tst_catalogueloader.moc"
