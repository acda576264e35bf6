#include "catalogue/CatalogueLoader.h"
#include "components/OutlineGrid.h"
#include "components/zip/ZipWriter.h"
#include "outside/Registry.h"
#include "package/PackageBuilder.h"
#include "settings/AppConfig.h"
#include "support/ArchiveCheck.h"
#include "support/FakeLogSink.h"
#include "support/FakeScreen.h"
#include "support/Fakes.h"
#include "support/Installation.h"
#include "support/PeWriter.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QTest>

namespace {

// Two templates in C:\App (a current one and a legacy one) with companions, popups, views and
// both folder scripts; the product's logs, local configuration and shared configuration.
void writeInstallation(TestEnvironment& env)
{
    TemplateSpec orders;
    orders.title = QStringLiteral("Orders");
    orders.fields = {
        {QStringLiteral("CUST"), QStringLiteral("P"), QStringLiteral("C:\\APP\\CUST.TPX"), {}, {}, {}},
        {QStringLiteral("CUST2"), QStringLiteral("L"), QStringLiteral("C:\\APP\\CUST.TPX"), {}, {}, {}}};
    orders.views = {{QStringLiteral("Summary"), 3}};
    env.write(QStringLiteral("c/App/ORDERS.TST6"), TemplateToml(orders));
    for (const char* name :
         {"ORDERS.TSD6", "ORDERS.TSA6", "ORDERS.TSL6", "ORDERS.LOGS.TSSDB6", "ORDERS.ADL6", "ORDERS.TSSDB",
          "CUST.TPT", "CUST.TPI", "ORDERS.TVM6.V3", "TSScript.TSX6", "TSScript.TSX"})
        env.write(QStringLiteral("c/App/") + QLatin1String(name), QByteArray(name));
    TemplateSpec stock;
    stock.title = QStringLiteral("Stock");
    stock.views = {{QStringLiteral("Main"), 1}};
    env.write(QStringLiteral("c/App/STOCK.TST"), TemplateToml(stock));
    for (const char* name : {"STOCK.TSD", "STOCK.TSA", "STOCK.ADL6", "STOCK.ADL", "STOCK.V1", "STOCK.TVM"})
        env.write(QStringLiteral("c/App/") + QLatin1String(name), QByteArray(name));

    env.write(QStringLiteral("c/ProgramData/Norvale/TS6/logs/a.log"), "log a");
    env.write(QStringLiteral("c/ProgramData/Norvale/TS6/logs/sub/b.log"), "log b");
    env.write(QStringLiteral("c/ProgramData/Norvale/TS6/TSApplications.TSSDB"), "apps");
    env.write(QStringLiteral("c/ProgramData/Norvale/TS6/x.CONFIG"), "config");
    env.write(QStringLiteral("c/Shared/a.ITS"), "its");
    env.write(QStringLiteral("c/Shared/b.TSX"), "tsx");
    env.write(QStringLiteral("c/Shared/c.config"), "cfg");
    env.write(QStringLiteral("c/Tess/TS6.EXE"), MakeVersionedProgram(6, 1, 0, 400));
    env.makeFolder(QStringLiteral("c/Out"));
    env.makeFolder(QStringLiteral("c/Temp"));
}

const QStringList kAllFiles = {
    QStringLiteral("C:\\APP\\TSScript.TSX6"), QStringLiteral("C:\\APP\\ORDERS.TST6"),
    QStringLiteral("C:\\APP\\ORDERS.TSD6"),   QStringLiteral("C:\\APP\\ORDERS.TSA6"),
    QStringLiteral("C:\\APP\\ORDERS.TSL6"),   QStringLiteral("C:\\APP\\ORDERS.LOGS.TSSDB6"),
    QStringLiteral("C:\\APP\\ORDERS.ADL6"),   QStringLiteral("C:\\APP\\CUST.TPT"),
    QStringLiteral("C:\\APP\\CUST.TPI"),      QStringLiteral("C:\\APP\\ORDERS.TVM6.V3"),
    QStringLiteral("C:\\APP\\TSScript.TSX"),  QStringLiteral("C:\\APP\\STOCK.TST"),
    QStringLiteral("C:\\APP\\STOCK.TSD"),     QStringLiteral("C:\\APP\\STOCK.TSA"),
    QStringLiteral("C:\\APP\\STOCK.ADL6"),    QStringLiteral("C:\\APP\\STOCK.ADL"),
    QStringLiteral("C:\\APP\\STOCK.V1"),      QStringLiteral("C:\\APP\\ORDERS.TVM6"),
    QStringLiteral("C:\\APP\\STOCK.TVM"),
};

const QStringList kProductEntries = {
    QStringLiteral("C/ProgramData/Norvale/TS6/logs/a.log"),
    QStringLiteral("C/ProgramData/Norvale/TS6/logs/sub/b.log"),
    QStringLiteral("C/ProgramData/Norvale/TS6/TSApplications.TSSDB"),
    QStringLiteral("C/ProgramData/Norvale/TS6/x.CONFIG"),
    QStringLiteral("C/Shared/a.ITS"),
    QStringLiteral("C/Shared/b.TSX"),
    QStringLiteral("C/Shared/c.config"),
};

// The on-disk entry name of a listed path, e.g. C:\APP\STOCK.TSD -> C/App/STOCK.TSD.
QString entryOf(const QString& listed)
{
    return QStringLiteral("C/App/") + listed.section(QLatin1Char('\\'), -1);
}

struct Harness
{
    TestEnvironment env;
    ScopedEnv programData{"TS6_PROGRAMDATA", env.driveC() + QStringLiteral("/ProgramData")};
    ScopedEnv shared{"TS6_SHARED_PATH", env.driveC() + QStringLiteral("/Shared")};
    ScopedEnv install{"TS6_INSTALL_PATH", env.driveC() + QStringLiteral("/Tess")};
    ScopedEnv temp{"TMPDIR", env.driveC() + QStringLiteral("/Temp")};
    ScopedEnv computer{"COMPUTERNAME", QStringLiteral("PC1")};
    ScopedEnv user{"USERNAME", QStringLiteral("ann")};
    ControllerState state;
    OutlineGrid grid;
    FakeFolderTree tree;
    FakeMousePointer pointer;
    FakeEventLoop events;
    FakeMessageBox messages;
    FakeSaveDialog dialog;
    std::shared_ptr<ProgressLog> progress = std::make_shared<ProgressLog>();
    FakeScreen screen;
    AppConfig config{screen, QStringLiteral("ts6satchel")};
    CatalogueLoader loader{state, grid, tree, pointer};
    PackageBuilder builder{grid, [this]() -> AppConfig& { return config; },
                           DesktopServices{pointer, events, messages, dialog,
                                           [this] { return std::make_unique<FakeProgressWindow>(progress); },
                                           0, QStringLiteral("C:\\Program")}};

    Harness()
    {
        writeInstallation(env);
        tree.SetAfterSelectHandler([this] { loader.lstFolders_OnAfterNodeSelect(); });
        tree.SelectFolder(QStringLiteral("C:\\App"), 0, true);
        pointer.calls.clear();
    }

    void setPicture(const char* key, int picture)
    {
        grid.SetNodePicture(grid.NodeByKey(QString::fromLatin1(key)), picture);
    }
    QString out(const char* name) const
    {
        return env.driveC() + QStringLiteral("/Out/") + QLatin1String(name);
    }
};

QString manifestText(const QStringList& files, const QString& version = QStringLiteral("6.1.0.400"),
                     const QString& computer = QStringLiteral("PC1"),
                     const QString& user = QStringLiteral("ann"))
{
    QString text = QStringLiteral("Version: ") + version +
                   QStringLiteral("\r\nInstall Path: C:\\Tess\r\nData Path: \r\n") +
                   QStringLiteral("Shared Path: C:\\Shared\r\nComputer Name: ") + computer +
                   QStringLiteral("\r\nUser Name: ") + user + QStringLiteral("\r\nFiles:  \r\n");
    for (int k = 0; k < files.size(); ++k)
        text += QLatin1Char(' ') + QString::number(k + 1) + QStringLiteral("  ") + files.at(k) +
                QStringLiteral("\r\n");
    return text;
}

// A zip writer that fails on its third add, as a full disk would in the middle of a build.
class FailingZipWriter final : public IZipWriter
{
public:
    bool Add(const QString& s, bool sub, bool keep, const QString& x) override
    {
        if (++m_adds == 3) {
            m_error = QStringLiteral("No space left on device");
            return false;
        }
        return m_real.Add(s, sub, keep, x);
    }
    bool Finish() override { return m_real.Finish(); }
    bool SetArchivePath(const QString& path) override { return m_real.SetArchivePath(path); }
    QString LastError() const override { return m_error; }

private:
    ZipWriter m_real;
    int m_adds = 0;
    QString m_error;
};

QStringList shortTrace(const LogRecord& record)
{
    QStringList entries;
    for (const QString& e : record.entries) {
        const QStringList p = e.split(QLatin1Char('|'));
        const QString kind = p.at(1).section(QLatin1Char(':'), 0, 0);
        entries.append(kind + QLatin1Char(' ') + p.at(3) +
                       (kind == QLatin1String("START") || kind == QLatin1String("END")
                            ? QString()
                            : QLatin1Char(' ') + p.at(4)));
    }
    return entries;
}

} // namespace

class TestPackageBuilder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everythingIncluded();
    void traceOfABuild();
    void excludedAndPartlyIncludedRows();
    void everyRowExcluded();
    void cancelledDialog();
    void failureInTheMiddle();
    void nonInteractiveUsesThePathAsGiven();
    void manifestWithoutProgramOrEnvironment();
};

void TestPackageBuilder::everythingIncluded()
{
    Harness h;
    h.dialog.answer = QStringLiteral("C:\\Out\\pkg");
    h.builder.Build_Package(QStringLiteral("C:\\APP\\TSSatchelage2026_12_04_0905.zip"), true);
    QCOMPARE(h.builder.PackageFiles(), kAllFiles);

    const ArchiveReport report = CheckArchive(h.out("pkg.ZIP"));
    QVERIFY2(report.valid(), qPrintable(report.details));
    QStringList expected{QStringLiteral("TSVERSION.TXT")};
    for (const QString& f : kAllFiles)
        if (f != QLatin1String("C:\\APP\\ORDERS.TVM6")) // named in the manifest, missing on disk
            expected.append(entryOf(f));
    expected += kProductEntries;
    QCOMPARE(report.names, expected);
    QCOMPARE(QString::fromUtf8(ReadEntry(h.out("pkg.ZIP"), QStringLiteral("TSVERSION.TXT"))),
             manifestText(kAllFiles));
    QCOMPARE(ReadEntry(h.out("pkg.ZIP"), QStringLiteral("C/App/CUST.TPI")), QByteArray("CUST.TPI"));

    QCOMPARE(h.dialog.seen.size(), 1);
    QVERIFY(
        h.dialog.seen.first().file.startsWith(QLatin1String("C:\\APP\\TSSatchelage2026_12_04_0905.zip ")));
    QCOMPARE(
        h.messages.shown,
        QStringList{QStringLiteral("TS Satchel has successfully created the following Zip Package:\r\n\r\n") +
                    h.out("pkg.ZIP")});
    QCOMPARE(h.messages.lastCaption, QStringLiteral("TS Satchel"));
    QCOMPARE(h.pointer.calls, (QStringList{QStringLiteral("busy"), QStringLiteral("default")}));
    const QStringList& progress = h.progress->events;
    QCOMPARE(progress.mid(0, 4), (QStringList{QStringLiteral("show"), QStringLiteral("Creating zip file ..."),
                                              QStringLiteral("Adding C:\\Temp\\TSVERSION.TXT"),
                                              QStringLiteral("Adding application files")}));
    QCOMPARE(progress.mid(progress.size() - 4),
             (QStringList{QStringLiteral("Adding logs"), QStringLiteral("Adding local configuration files"),
                          QStringLiteral("Adding configuration files"), QStringLiteral("close")}));
    QCOMPARE(progress.size(), 4 + 18 + 4); // one "Adding" for every listed file that exists
    QVERIFY(h.events.turns >= 24);
}

void TestPackageBuilder::traceOfABuild()
{
    Harness h;
    FakeLogInstalled log;
    h.builder.Build_Package(QStringLiteral("C:\\OUT\\PKG.ZIP"), false);
    QCOMPARE(shortTrace(*log.record),
             (QStringList{
                 QStringLiteral("START Build_Package"),
                 QStringLiteral("LOG Build_Package Looking for folder Script: C:\\APP\\TSScript.TSX6"),
                 QStringLiteral("LOG Build_Package Folder Script found and added to package."),
                 QStringLiteral("LOG Build_Package Looking for folder Script: C:\\APP\\TSScript.TSX6"),
                 QStringLiteral("LOG Build_Package Looking for folder Script: C:\\APP\\TSScript.TSX"),
                 QStringLiteral("LOG Build_Package Folder Script found and added to package."),
                 QStringLiteral("LOG BuildPackage Zipping to: C:\\OUT\\PKG.ZIP"),
                 QStringLiteral("LOG BuildPackage Adding C:\\ProgramData\\Norvale\\TS6\\logs to satchel."),
                 QStringLiteral("LOG BuildPackage Adding C:\\ProgramData\\Norvale\\TS6 to satchel."),
                 QStringLiteral("LOG BuildPackage Adding Shared Path C:\\Shared to satchel."),
                 QStringLiteral("END Build_Package"),
             }));
    QVERIFY(h.messages.shown.isEmpty());
    QVERIFY(CheckArchive(h.out("PKG.ZIP")).valid());

    // Without the product's folders: the two "not found" entries, nothing for the shared path.
    QDir(h.env.driveC() + QStringLiteral("/ProgramData")).removeRecursively();
    QDir(h.env.driveC() + QStringLiteral("/Shared")).removeRecursively();
    log.record->entries.clear();
    h.builder.Build_Package(QStringLiteral("C:\\OUT\\PKG2.ZIP"), false);
    const QStringList trace = shortTrace(*log.record);
    QCOMPARE(
        trace.mid(trace.size() - 4),
        (QStringList{QStringLiteral("LOG BuildPackage Zipping to: C:\\OUT\\PKG2.ZIP"),
                     QStringLiteral("LOG BuildPackage C:\\ProgramData\\Norvale\\TS6\\logs folder not found."),
                     QStringLiteral("LOG BuildPackage C:\\ProgramData\\Norvale\\TS6 folder not found."),
                     QStringLiteral("END Build_Package")}));
}

void TestPackageBuilder::excludedAndPartlyIncludedRows()
{
    Harness h;
    h.setPicture("1-TEMPLATEFILE", 2);
    h.setPicture("1-TSD", 3);
    h.setPicture("2-VIEWFILES", 3); // a group row: never packed itself
    h.setPicture("2-TVM-STOCK.V1", 3);
    h.setPicture("1-V1-POPUP", 3); // the same popup stays included on the next row
    h.builder.Build_Package(QStringLiteral("C:\\OUT\\PKG.ZIP"), false);
    QCOMPARE(h.builder.PackageFiles(),
             (QStringList{QStringLiteral("C:\\APP\\TSScript.TSX6"), QStringLiteral("C:\\APP\\ORDERS.TST6"),
                          QStringLiteral("C:\\APP\\CUST.TPT"), QStringLiteral("C:\\APP\\CUST.TPI"),
                          QStringLiteral("C:\\APP\\ORDERS.TVM6.V3"), QStringLiteral("C:\\APP\\TSScript.TSX"),
                          QStringLiteral("C:\\APP\\STOCK.TST"), QStringLiteral("C:\\APP\\STOCK.TSD"),
                          QStringLiteral("C:\\APP\\STOCK.TSA"), QStringLiteral("C:\\APP\\STOCK.ADL6"),
                          QStringLiteral("C:\\APP\\STOCK.ADL"), QStringLiteral("C:\\APP\\ORDERS.TVM6")}));
    QVERIFY(CheckArchive(h.out("PKG.ZIP")).valid());
}

void TestPackageBuilder::everyRowExcluded()
{
    Harness h;
    for (int row = 1; row < h.grid.Rows(); ++row)
        h.grid.SetCellPicture(row, 0, 3);
    h.builder.Build_Package(QStringLiteral("C:\\OUT\\PKG.ZIP"), false);
    QVERIFY(h.builder.PackageFiles().isEmpty());
    const ArchiveReport report = CheckArchive(h.out("PKG.ZIP"));
    QVERIFY2(report.valid(), qPrintable(report.details));
    QCOMPARE(report.names, QStringList{QStringLiteral("TSVERSION.TXT")} + kProductEntries);
    const QString manifest = QString::fromUtf8(ReadEntry(h.out("PKG.ZIP"), QStringLiteral("TSVERSION.TXT")));
    QCOMPARE(manifest.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts).size(), 7);
    QVERIFY(manifest.endsWith(QLatin1String("\r\nFiles:  \r\n")));
}

void TestPackageBuilder::cancelledDialog()
{
    Harness h;
    FakeLogInstalled log;
    h.dialog.answer.clear();
    h.builder.cmdBuild_Click(QStringLiteral("C:\\OUT\\"));
    const QStringList trace = shortTrace(*log.record);
    QCOMPARE(trace.first(), QStringLiteral("START Build_Package"));
    QCOMPARE(trace.mid(trace.size() - 3),
             (QStringList{QStringLiteral("LOG ShowSave "), QStringLiteral("LOG BuildPackage Zipping to: "),
                          QStringLiteral("END Build_Package")}));
    QVERIFY(QDir(h.env.driveC() + QStringLiteral("/Out"))
                .isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    QVERIFY(h.progress->events.isEmpty());
    QVERIFY(h.messages.shown.isEmpty());
    QVERIFY(h.dialog.seen.first().file.startsWith(QLatin1String("C:\\OUT\\TSSatchelage")));
    // The manifest is written all the same.
    QFile manifest(h.env.driveC() + QStringLiteral("/Temp/TSVERSION.TXT"));
    QVERIFY(manifest.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(manifest.readAll()), manifestText(kAllFiles));
}

void TestPackageBuilder::failureInTheMiddle()
{
    Harness h;
    FakeLogInstalled log;
    const Registry::ScopedOverride zip(QString::fromLatin1(IZipWriter::ClassId),
                                       [] { return std::make_unique<FailingZipWriter>(); });
    h.dialog.answer = QStringLiteral("C:\\Out\\pkg.zip");
    h.builder.Build_Package(QStringLiteral("C:\\OUT\\X.ZIP"), true);
    const QStringList trace = shortTrace(*log.record);
    QCOMPARE(trace.mid(trace.size() - 2),
             (QStringList{
                 QStringLiteral("END Build_Package"),
                 QStringLiteral("ERROR Build_Package Runtime error occurred: -2147467259 : No space left on "
                                "device Source: Norvale.ZipWriter")}));
    QCOMPARE(h.pointer.calls, (QStringList{QStringLiteral("busy"), QStringLiteral("default")}));
    QCOMPARE(h.progress->events.first(), QStringLiteral("show"));
    QCOMPARE(h.progress->events.last(), QStringLiteral("close"));
    QVERIFY(h.messages.shown.isEmpty());
    QVERIFY(QDir(h.env.driveC() + QStringLiteral("/Out"))
                .isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));

    // A package folder that does not exist fails the same way, and no folder is made for it.
    log.record->entries.clear();
    h.builder.Build_Package(QStringLiteral("C:\\OUT\\NEW\\PKG.ZIP"), false);
    QVERIFY(shortTrace(*log.record).last().startsWith(QLatin1String("ERROR Build_Package")));
    QVERIFY(!QFileInfo::exists(h.env.driveC() + QStringLiteral("/Out/NEW")));
}

void TestPackageBuilder::nonInteractiveUsesThePathAsGiven()
{
    Harness h;
    h.builder.Build_Package(QStringLiteral("C:\\Out\\support-package"), false);
    QVERIFY(CheckArchive(h.out("support-package")).valid());
    QVERIFY(h.dialog.seen.isEmpty());
    QVERIFY(h.messages.shown.isEmpty());

    FakeLogInstalled log;
    h.builder.Build_Package(QStringLiteral("   "), false);
    QCOMPARE(shortTrace(*log.record).last(), QStringLiteral("END Build_Package"));
    QVERIFY(h.progress->events.count(QStringLiteral("show")) == 1);
}

void TestPackageBuilder::manifestWithoutProgramOrEnvironment()
{
    Harness h;
    QFile::remove(h.env.driveC() + QStringLiteral("/Tess/TS6.EXE"));
    const ScopedEnv noComputer("COMPUTERNAME", QString());
    qunsetenv("COMPUTERNAME");
    qunsetenv("USERNAME");
    h.builder.Build_Package(QStringLiteral("C:\\OUT\\PKG.ZIP"), false);
    const QString manifest = QString::fromUtf8(ReadEntry(h.out("PKG.ZIP"), QStringLiteral("TSVERSION.TXT")));
    QCOMPARE(manifest, manifestText(kAllFiles, QString(), QString(), QString()));
    QVERIFY(manifest.startsWith(QLatin1String("Version: \r\n")));
    QVERIFY(manifest.contains(QLatin1String("\r\n 10  C:\\APP\\ORDERS.TVM6.V3\r\n")));
}

QTEST_GUILESS_MAIN(TestPackageBuilder)
#include "tst_packagebuilder.moc"
