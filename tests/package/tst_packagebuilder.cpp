#include "catalogue/CatalogueLoader.h"
#include "catalogue/SelectionRules.h"
#include "components/OutlineGrid.h"
#include "outside/ITemplateReader.h"
#include "package/PackageBuilder.h"
#include "package/PackageName.h"
#include "package/mDlg.h"
#include "settings/AppConfig.h"
#include "support/ArchiveCheck.h"
#include "support/FakeLogSink.h"
#include "support/FakeScreen.h"
#include "support/Fakes.h"
#include "support/Installation.h"
#include "support/PeWriter.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// The words of a text, each with the prefix given.
QStringList words(const char* text, const QString& prefix = {})
{
    QStringList words = QString::fromLatin1(text).split(u' ', Qt::SkipEmptyParts);
    return prefix.isEmpty() ? words : words.replaceInStrings(QRegularExpression(u"^"_s), prefix);
}

// Two templates in C:\App (a current one with every kind of application file, and a legacy one)
// with companions, popups, views and both folder scripts; the product's logs, local configuration
// and shared configuration.
void writeInstallation(TestEnvironment& env)
{
    const TemplateSpec orders{u"Orders"_s,
                              u"C:\\App\\PRE.BAT"_s,
                              u"C:\\App\\ORDERS.LOG"_s,
                              u"C:\\App\\POST.BAT"_s,
                              {{u"CUST"_s, u"P"_s, u"C:\\APP\\CUST.TPX"_s, {}, {}, {}},
                               {u"CUST2"_s, u"L"_s, u"C:\\APP\\CUST.TPX"_s, {}, {}, {}}},
                              {{u"Summary"_s, 3}}};
    env.write(u"c/App/ORDERS.TST6"_s, templateToml(orders));
    const TemplateSpec stock{.title = u"Stock"_s, .views = {{u"Main"_s, 1}}};
    env.write(u"c/App/STOCK.TST"_s, templateToml(stock));
    for (const QString& name :
         words("App/ORDERS.TSD6 App/ORDERS.TSA6 App/ORDERS.TSL6 App/ORDERS.LOGS.TSSDB6 "
               "App/ORDERS.ADL6 App/ORDERS.TSSDB App/PRE.BAT App/ORDERS.LOG App/POST.BAT "
               "App/ORDERS.TSX6 App/CUST.TPT App/CUST.TPI App/ORDERS.TVM6.V3 App/TSScript.TSX6 "
               "App/TSScript.TSX App/STOCK.TSD App/STOCK.TSA App/STOCK.ADL6 App/STOCK.ADL "
               "App/STOCK.V1 App/STOCK.TVM ProgramData/Norvale/TS6/logs/a.log "
               "ProgramData/Norvale/TS6/logs/sub/b.log ProgramData/Norvale/TS6/TSApplications.TSSDB "
               "ProgramData/Norvale/TS6/x.CONFIG Shared/a.ITS Shared/b.TSX Shared/c.config"))
        env.write(u"c/"_s + name, name.toUtf8());
    env.write(u"c/Tess/TS6.EXE"_s, makeVersionedProgram(6, 1, 0, 400));
    env.makeFolder(u"c/Out"_s);
    env.makeFolder(u"c/Temp"_s);
}

const QStringList kAllFiles =
    words("TSScript.TSX6 ORDERS.TST6 ORDERS.TSD6 ORDERS.TSA6 ORDERS.TSL6 ORDERS.LOGS.TSSDB6 "
          "ORDERS.ADL6 PRE.BAT ORDERS.LOG POST.BAT ORDERS.TSX6 CUST.TPT CUST.TPI "
          "ORDERS.TVM6.V3 TSScript.TSX STOCK.TST STOCK.TSD STOCK.TSA STOCK.ADL6 STOCK.ADL "
          "STOCK.V1 ORDERS.TVM6 STOCK.TVM",
          u"C:\\APP\\"_s);

struct Harness
{
    TestEnvironment env;
    ScopedEnv programData{"TS6_PROGRAMDATA", env.driveC() + u"/ProgramData"_s};
    ScopedEnv shared{"TS6_SHARED_PATH", env.driveC() + u"/Shared"_s};
    ScopedEnv install{"TS6_INSTALL_PATH", env.driveC() + u"/Tess"_s};
    ScopedEnv temp{"TMPDIR", env.driveC() + u"/Temp"_s};
    ScopedEnv computer{"COMPUTERNAME", u"PC1"_s};
    ScopedEnv user{"USERNAME", u"ann"_s};
    ControllerState state;
    OutlineGrid grid;
    FakeFolderTree tree;
    FakeMousePointer pointer;
    FakeEventLoop events;
    FakeMessageBox messages;
    FakeSaveDialog dialog;
    std::shared_ptr<QStringList> progress = std::make_shared<QStringList>();
    FakeScreen screen;
    AppConfig config{screen, u"ts6satchel"_s, env.components().settingsStore, env.components().productInfo};
    Maker<ITemplateReader> makeReader = env.components().templateReader; // a test may break it
    CatalogueLoader loader{
        state, grid, tree, pointer, env.components().pathUtility, [this] { return makeReader(); }};
    PackageBuilder builder{grid, [this]() -> AppConfig& { return config; },
                           DesktopServices{pointer, events, messages, dialog,
                                           [this] { return std::make_unique<FakeProgressWindow>(progress); },
                                           0, u"C:\\Program"_s},
                           env.components().pathUtility, env.components().zipWriter};

    Harness()
    {
        writeInstallation(env);
        tree.setAfterSelectHandler([this] { loader.lstFolders_OnAfterNodeSelect(); });
        tree.selectFolder(u"C:\\App"_s, 0, true);
        pointer.calls.clear();
    }
    QString out(const char* name) const { return env.driveC() + u"/Out/"_s + QLatin1String(name); }
};

QString manifestText(const QStringList& files, const QString& version = u"6.1.0.400"_s,
                     const QString& computer = u"PC1"_s, const QString& user = u"ann"_s)
{
    QString text = u"Version: "_s + version + u"\r\nInstall Path: C:\\Tess\r\nData Path: \r\n"_s +
                   u"Shared Path: C:\\Shared\r\nComputer Name: "_s + computer + u"\r\nUser Name: "_s + user +
                   u"\r\nFiles:  \r\n"_s;
    for (int k = 0; k < files.size(); ++k)
        text += u' ' + QString::number(k + 1) + u"  "_s + files.at(k) + u"\r\n"_s;
    return text;
}

} // namespace

class TestPackageBuilder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void packages_data();
    void packages();
    void traceOfEachSituation_data();
    void traceOfEachSituation();
    void defaultName();
    void theSaveDialog();
};

void TestPackageBuilder::packages_data()
{
    QTest::addColumn<bool>("interactive");     // through the save dialog, else to the path as given
    QTest::addColumn<QStringList>("pictures"); // "key=picture", "*" for every row
    QTest::addColumn<QStringList>("files");
    QTest::newRow("every row included") << true << QStringList() << kAllFiles;
    QTest::newRow("excluded and partly included rows")
        << false << words("1-TEMPLATEFILE=2 1-TSD=3 1-LOG=3 2-VIEWFILES=3 2-TVM-STOCK.V1=3 1-V1-POPUP=3")
        << words("TSScript.TSX6 ORDERS.TST6 PRE.BAT POST.BAT ORDERS.TSX6 CUST.TPT CUST.TPI ORDERS.TVM6.V3 "
                 "TSScript.TSX STOCK.TST STOCK.TSD STOCK.TSA STOCK.ADL6 STOCK.ADL ORDERS.TVM6",
                 u"C:\\APP\\"_s);
    QTest::newRow("every row excluded") << false << QStringList{"*=3"} << QStringList();
}

// The whole package (every entry, in order) and what the user sees on the way.
void TestPackageBuilder::packages()
{
    QFETCH(bool, interactive);
    QFETCH(QStringList, pictures);
    QFETCH(QStringList, files);
    Harness h;
    for (const QString& setting : pictures)
        for (int row = 1; row < h.grid.rows(); ++row)
            if (setting.startsWith(u'*') ||
                h.grid.nodeKey(h.grid.nodeOfRow(row)) == setting.section(u'=', 0, 0))
                h.grid.setCellPicture(row, 0, setting.section(u'=', 1).toInt());
    h.dialog.answer = u"C:\\Out\\pkg"_s; // the extension is added
    h.builder.Build_Package(interactive ? u"C:\\APP\\TSSatchelage2026_12_04_0905.zip"_s : u"C:\\Out\\pkg"_s,
                            interactive);
    const QString package = h.out(interactive ? "pkg.ZIP" : "pkg");
    QCOMPARE(h.builder.packageFiles(), files);
    const ArchiveReport report = checkArchive(package);
    QVERIFY2(report.valid(), qPrintable(report.details));
    QStringList entries{u"TSVERSION.TXT"_s};
    for (const QString& file : files)
        if (file != u"C:\\APP\\ORDERS.TVM6"_s) // named in the manifest, missing on disk
            entries.append(u"C/App/"_s + file.section(u'\\', -1));
    QCOMPARE(report.names,
             entries + words("C/ProgramData/Norvale/TS6/logs/a.log C/ProgramData/Norvale/TS6/logs/sub/b.log "
                             "C/ProgramData/Norvale/TS6/TSApplications.TSSDB "
                             "C/ProgramData/Norvale/TS6/x.CONFIG C/Shared/a.ITS C/Shared/b.TSX "
                             "C/Shared/c.config"));
    QCOMPARE(QString::fromUtf8(readEntry(package, u"TSVERSION.TXT"_s)), manifestText(files));

    QCOMPARE(h.dialog.seen.size(), interactive ? 1 : 0);
    QCOMPARE(h.messages.shown.join(u'|'),
             interactive
                 ? u"TS Satchel has successfully created the following Zip Package:\r\n\r\n"_s + package
                 : QString());
    if (interactive) {
        QVERIFY(h.dialog.seen.first().file.startsWith(u"C:\\APP\\TSSatchelage2026_12_04_0905.zip "_s));
        QCOMPARE(h.messages.lastCaption, u"TS Satchel"_s);
    }
    QCOMPARE(h.pointer.calls, (QStringList{"busy", "default"}));
    const QStringList& progress = *h.progress;
    QCOMPARE(
        progress.mid(0, 4) + progress.mid(progress.size() - 4),
        u"show|Creating zip file ...|Adding C:\\Temp\\TSVERSION.TXT|Adding application files|Adding logs|"
        "Adding local configuration files|Adding configuration files|close"_s.split(u'|'));
    QCOMPARE(progress.size(), 4 + entries.size() - 1 + 4); // an "Adding" for each listed file that exists
    QVERIFY(h.events.turns >= progress.size() - 2);
}

// What a support engineer reads in the trace after each situation: the entries, their kind and text.
void TestPackageBuilder::traceOfEachSituation_data()
{
    QTest::addColumn<QStringList>("trace");
    const QString select = u"START: frmSatchel, lstFolders_OnAfterNodeSelect\n"
                           "LOG: frmSatchel, lstFolders_OnAfterNodeSelect, Clicked on folder: C:\\App\n"_s;
    const QString selected = u"END: frmSatchel, lstFolders_OnAfterNodeSelect"_s;
    const auto row = [](const char* situation, const QString& trace) {
        QTest::newRow(situation) << trace.split(u'\n');
    };
    row("load", select +
                    u"START: frmSatchel, LoadGrid\n"
                    "LOG: frmSatchel, LoadGrid, PreProcess file found: C:\\App\\PRE.BAT\n"
                    "LOG: frmSatchel, LoadGrid, Log file found: C:\\App\\ORDERS.LOG\n"
                    "LOG: frmSatchel, LoadGrid, PostProcess file found: C:\\App\\POST.BAT\n"
                    "LOG: frmSatchel, LoadGrid, Script file found: C:\\APP\\ORDERS.TSX6\n"
                    "END: frmSatchel, LoadGrid\n"_s +
                    selected);
    row("load of a tree node without a path", QString(select).remove(u"C:\\App"_s) + selected);
    row("load whose template reader cannot be made",
        select +
            u"START: frmSatchel, LoadGrid\nEND: frmSatchel, LoadGrid\n"
            "ERROR: frmSatchel, LoadGrid, Runtime error occurred: 429 : Cannot create component Source: "
            "Norvale.TemplateReader\n"_s +
            selected);

    // Every row with children that a click sets writes its entry, then the upward rule writes one.
    const QString children = u"LOG: frmSatchel, SelectChildren, Start\n"_s;
    const QString mouseUp = u"LOG: frmSatchel, grdFiles_Mouseup, Start\n"_s;
    const QString parent = u"LOG: frmSatchel, SelectParent, Start"_s;
    row("click on a template row", mouseUp + children.repeated(4) + parent);
    row("click on the root row, which ends quietly", mouseUp + children.repeated(7) + parent);

    const QString scripts =
        u"START: frmSatchel, Build_Package\n"
        "LOG: frmSatchel, Build_Package, Looking for folder Script: C:\\APP\\TSScript.TSX6\n"
        "LOG: frmSatchel, Build_Package, Folder Script found and added to package.\n"
        "LOG: frmSatchel, Build_Package, Looking for folder Script: C:\\APP\\TSScript.TSX6\n"
        "LOG: frmSatchel, Build_Package, Looking for folder Script: C:\\APP\\TSScript.TSX\n"
        "LOG: frmSatchel, Build_Package, Folder Script found and added to package.\n"_s;
    const QString zipping = u"LOG: frmSatchel, BuildPackage, Zipping to: C:\\OUT\\PKG.ZIP\n"_s;
    const QString built = u"END: frmSatchel, Build_Package"_s;
    row("build",
        scripts + zipping +
            u"LOG: frmSatchel, BuildPackage, Adding C:\\ProgramData\\Norvale\\TS6\\logs to satchel.\n"
            "LOG: frmSatchel, BuildPackage, Adding C:\\ProgramData\\Norvale\\TS6 to satchel.\n"
            "LOG: frmSatchel, BuildPackage, Adding Shared Path C:\\Shared to satchel.\n"_s +
            built);
    row("build without the product's folders",
        scripts + zipping +
            u"LOG: frmSatchel, BuildPackage, C:\\ProgramData\\Norvale\\TS6\\logs folder not found.\n"
            "LOG: frmSatchel, BuildPackage, C:\\ProgramData\\Norvale\\TS6 folder not found.\n"_s +
            built);
    row("build to a blank path, with no program version, computer or user",
        scripts + u"LOG: frmSatchel, BuildPackage, Zipping to:    \n"_s + built);
    const QString dialog = u"LOG: mComdlg, ShowSave, \n"_s;
    row("build with the save dialog cancelled",
        scripts + dialog + u"LOG: frmSatchel, BuildPackage, Zipping to: \n"_s + built);
    row("build into a folder that does not exist",
        scripts + dialog + u"LOG: frmSatchel, BuildPackage, Zipping to: C:\\OUT\\NEW\\PKG.ZIP\n"_s + built +
            u"\nERROR: frmSatchel, Build_Package, Runtime error occurred: -2147467259 : The folder of the "
            u"package "
            "does not exist: C:\\OUT\\NEW\\PKG.ZIP Source: Norvale.ZipWriter"_s);
}

void TestPackageBuilder::traceOfEachSituation()
{
    const QByteArray situation = QTest::currentDataTag();
    Harness h;
    if (situation.contains("without the product's folders")) {
        QDir(h.env.driveC() + u"/ProgramData"_s).removeRecursively();
        QDir(h.env.driveC() + u"/Shared"_s).removeRecursively();
    }
    const bool blank = situation.contains("blank");
    if (blank) {
        QFile::remove(h.env.driveC() + u"/Tess/TS6.EXE"_s);
        qunsetenv("COMPUTERNAME");
        qunsetenv("USERNAME");
    }
    if (situation.contains("reader cannot be made"))
        h.makeReader = [] { return nullptr; };
    SelectionRules rules{h.grid, h.messages, u"ts6satchel"_s};
    const bool nowhere = situation.contains("does not exist");
    h.dialog.answer = nowhere ? u"C:\\OUT\\NEW\\PKG.ZIP"_s : QString(); // else cancelled
    FakeLogInstalled log;
    if (situation.startsWith("load")) {
        h.tree.selectFolder(situation.contains("without a path") ? QString() : u"C:\\App"_s, 0, true);
    } else if (situation.startsWith("click")) {
        h.grid.setMouseCell(
            situation.contains("root") ? 1 : h.grid.nodeRow(h.grid.nodeByKey(u"1-TEMPLATEFILE"_s)), 0);
        rules.grdFiles_Mouseup(1, 0, 0, 0);
    } else {
        const bool interactive = situation.contains("cancelled") || nowhere;
        h.builder.Build_Package(blank ? u"   "_s : u"C:\\OUT\\PKG.ZIP"_s, interactive);
    }
    QTEST(log.record->lines(), "trace");
    // Whatever happened, the pointer and the progress window are back as they were, and no message shows.
    QVERIFY(h.pointer.calls.isEmpty() || h.pointer.calls.last() == u"default"_s);
    QVERIFY(h.progress->isEmpty() || h.progress->last() == u"close"_s);
    QVERIFY(h.messages.shown.isEmpty());
    if (blank) { // no package, but the manifest is written all the same, with what is known
        QFile manifest(h.env.driveC() + u"/Temp/TSVERSION.TXT"_s);
        QVERIFY(manifest.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(manifest.readAll()), manifestText(kAllFiles, {}, {}, {}));
    }
}

void TestPackageBuilder::defaultName()
{
    const QDateTime at(QDate(2026, 12, 4), QTime(9, 5, 59));
    const auto name = [&](const char* folder, const char* prefix, const QDateTime& when) {
        return GetDefaultPackageName(QString::fromLatin1(folder), QString::fromLatin1(prefix), when);
    };
    const QString app = u"C:\\APP\\TSSatchelage2026_12_04_0905.zip"_s;
    QCOMPARE(name("C:\\APP", "TSSatchelage", at), app);
    QCOMPARE(name("C:\\APP\\", "TSSatchelage", at), app);
    QCOMPARE(name("C:\\APP\\", " ORDERS.TST6", at), u"C:\\APP\\ORDERS2026_12_04_0905.zip"_s);
    QCOMPARE(name("", "TSSatchelage", at), u"\\TSSatchelage2026_12_04_0905.zip"_s);
    QCOMPARE(name("C:\\APP", "T", QDateTime(QDate(2026, 1, 2), QTime(23, 7))),
             u"C:\\APP\\T2026_01_02_2307.zip"_s);
}

// The chosen name gets ".ZIP" unless it ends in it, in any case (a name without an extension, and a
// cancelled dialog, are the builds' own rows); the dialog is told what it shows. One record goes from
// dialog to dialog: a name cut to the buffer, and the flags a dialog hands back.
void TestPackageBuilder::theSaveDialog()
{
    const FakeLogInstalled log;
    FakeSaveDialog dialog;
    const auto chosen = [&](const char* answer) {
        dialog.answer = QString::fromLatin1(answer);
        return GetPackageFileName(dialog, 7, u"C:\\PROGRAM"_s, u"C:\\APP\\x.zip"_s);
    };
    QCOMPARE(chosen("C:\\OUT\\pkg.Zip"), u"C:\\OUT\\pkg.Zip"_s);
    QCOMPARE(chosen("C:\\OUT\\pkg.txt"), u"C:\\OUT\\pkg.txt.ZIP"_s);
    const SaveFileRecord& shown = dialog.seen.last();
    QCOMPARE(shown.initialDir, u"C:\\PROGRAM"_s);
    QCOMPARE(shown.owner, WindowHandle(7));
    const QString nul(QChar(u'\0'));
    QCOMPARE(shown.filter, u"Zip File(*.ZIP) "_s + nul + u"*.ZIP"_s + nul + nul);

    dialog.seen.clear();
    dialog.answer = u"C:\\A.ZIP"_s;
    dialog.returnedFlags = 0x280006 | 0x1; // the dialog hands back a read-only flag
    const QString longName = QString(3000, u'x');
    mDlg::ShowSave(dialog, 1, longName, u"T"_s, QString(), u"a|b"_s, QString());
    QCOMPARE(dialog.seen.at(0).file, longName.left(2048)); // its NUL overwritten
    QCOMPARE(dialog.seen.at(0).flags, 0x280006u);
    dialog.answer.clear(); // cancelled
    mDlg::ShowSave(dialog, 1, u"C:\\B.ZIP"_s, u"T"_s, QString(), u"a|b"_s, QString());
    QCOMPARE(dialog.seen.at(1).flags, 0x280007u);
    QCOMPARE(dialog.seen.at(1).file, u"C:\\B.ZIP"_s + QString(2039, u' ') + QChar(u'\0'));
}

QTEST_GUILESS_MAIN(TestPackageBuilder)
#include "tst_packagebuilder.moc"
