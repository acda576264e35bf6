#include "components/OutlineGrid.h"
#include "components/XmlHelpCatalog.h"
#include "controller/frmSatchel.h"
#include "outside/IHelpCatalog.h"
#include "outside/IMainWindow.h"
#include "outside/Registry.h"
#include "platform/HostPath.h"
#include "settings/AppConfig.h"
#include "support/ArchiveCheck.h"
#include "support/FakeLogSink.h"
#include "support/FakeScreen.h"
#include "support/Fakes.h"
#include "support/Installation.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QScopeGuard>
#include <QSettings>
#include <QTest>

namespace {

class FakeMainWindow final : public IMainWindow
{
public:
    QRect NormalRectangle() const override { return normal; }
    void Move(double l, double t, double w, double h) override { moved = QRectF(l, t, w, h); }
    int WindowState() const override { return state; }
    void SetWindowState(int s) override
    {
        if (s < 0 || s > 2)
            Raise(380, QStringLiteral("Invalid property value"));
        state = s;
    }
    void SetTitleCaption(const QString& c) override { title = c; }
    void SetHelpFile(const QString& p) override { helpFile = p; }
    void Destroy() override { destroyed = true; }

    QRect normal{10, 20, 1000, 700};
    QRectF moved;
    int state = 0;
    QString title = QStringLiteral("Label1");
    QString helpFile;
    bool destroyed = false;
};

struct Harness
{
    TestEnvironment env;
    FakeLogInstalled log;
    FakeMainWindow window;
    FakeFolderTree tree;
    OutlineGrid grid;
    FakeScreen screen{1366, 768};
    FakeMousePointer pointer;
    FakeEventLoop events;
    FakeMessageBox messages;
    FakeSaveDialog dialog;
    std::shared_ptr<ProgressLog> progress = std::make_shared<ProgressLog>();
    std::function<std::optional<SavedPackageOptions>(const SavedPackageOptions&)> editOptions;
    std::unique_ptr<frmSatchel> form;

    Harness()
    {
        TemplateSpec content;
        content.title = QStringLiteral("Orders");
        env.write(QStringLiteral("c/App/ORDERS.TST6"), TemplateToml(content));
        env.write(QStringLiteral("c/App/ORDERS.TSD6"));
        content.title = QStringLiteral("Stock");
        env.write(QStringLiteral("c/App/STOCK.TST"), TemplateToml(content));
        env.write(QStringLiteral("c/Empty/readme.txt"));
        env.makeFolder(QStringLiteral("c/Out"));
    }

    void start(const QString& commandLine)
    {
        form = std::make_unique<frmSatchel>(
            SatchelServices{window,
                            tree,
                            grid,
                            screen,
                            DesktopServices{pointer, events, messages, dialog,
                                            [this] { return std::make_unique<FakeProgressWindow>(progress); },
                                            0, QStringLiteral("C:\\PROGRAM")},
                            QStringLiteral("ts6satchel"),
                            {},
                            {},
                            editOptions},
            commandLine);
        form->Form_Load();
    }

    QStringList formLoadLog() const
    {
        QStringList out;
        for (const QString& e : log.record->entries)
            if (e.section(QLatin1Char('|'), 3, 3) == QLatin1String("Form_Load"))
                out.append(e.section(QLatin1Char('|'), 1, 1).section(QLatin1Char(':'), 0, 0) +
                           QLatin1Char(' ') + e.section(QLatin1Char('|'), 4));
        return out;
    }
};

} // namespace

class TestFrmSatchel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void noCommandLineOpensOnTheLastFolderAndUnloadStoresIt();
    void existingTemplateBuildsAtOnce();
    void templateOrFolderNotFoundStartsInteractively_data();
    void templateOrFolderNotFoundStartsInteractively();
    void storedWindowStateOfFiveTakesTheErrorPath();
    void helpTopicAndItsFailure();
    void windowBuildsWithTheOptionsItKeeps();
};

void TestFrmSatchel::noCommandLineOpensOnTheLastFolderAndUnloadStoresIt()
{
    Harness h;
    h.start(QString());
    QCOMPARE(h.tree.selected, HostPath::ToWindows(QDir::currentPath()));
    QCOMPARE(h.window.moved, QRectF(283 * 15, 84 * 15, 800 * 15, 600 * 15));
    QCOMPARE(h.window.title, QStringLiteral("TS6Satchel"));
    QCOMPARE(h.window.helpFile, QStringLiteral("C:\\PROGRAM\\ts6satchel.chm"));
    QVERIFY(!h.form->Unloaded());
    QCOMPARE(h.formLoadLog().size(), 2); // START and END only

    h.tree.SelectFolder(QStringLiteral("C:\\App"), 0, true);
    h.window.state = 2;
    h.form->cmdClose_Click();
    QVERIFY(h.form->Unloaded());
    AppConfig& config = h.form->Config();
    QCOMPARE(QRect(config.WindowLeft(), config.WindowTop(), config.WindowWidth(), config.WindowHeight()),
             h.window.normal);
    QCOMPARE(config.WindowState(), 2);
    QCOMPARE(config.LastFolder(), QStringLiteral("C:\\App"));

    // Minimised: the rectangle is stored, the state stays as it was.
    Harness again;
    again.start(QString());
    again.window.state = 1;
    again.window.normal = QRect(5, 6, 700, 500);
    again.form->Form_Unload();
    QCOMPARE(again.form->Config().WindowState(), 0);
    QCOMPARE(again.form->Config().WindowWidth(), 700);
}

void TestFrmSatchel::existingTemplateBuildsAtOnce()
{
    Harness h;
    h.dialog.answer = QStringLiteral("C:\\Out\\orders");
    h.start(QStringLiteral("\"C:\\App\\orders.tst6\""));
    QCOMPARE(h.form->CurrentFolder(), QStringLiteral("C:\\APP\\"));
    QCOMPARE(h.form->TemplateFilter(), QStringLiteral("orders.tst6"));
    QCOMPARE(GridDump(h.grid).size(), 3); // root, the one template, its data file
    QVERIFY(h.dialog.seen.first().file.startsWith(QLatin1String("C:\\APP\\orders20")));
    QVERIFY(CheckArchive(h.env.driveC() + QStringLiteral("/Out/orders.ZIP")).valid());
    QCOMPARE(h.messages.shown.size(), 1);
    QVERIFY(h.form->Unloaded());
    QVERIFY(h.window.destroyed);
    QCOMPARE(h.formLoadLog().mid(1, 4), (QStringList{QStringLiteral("LOG Folder: C:\\App\\"),
                                                     QStringLiteral("LOG Template: orders.tst6"),
                                                     QStringLiteral("LOG Current Path: C:\\App\\orders.tst6"),
                                                     QStringLiteral("LOG Template found.")}));
    QCOMPARE(h.pointer.calls.first(), QStringLiteral("busy"));
    QCOMPARE(h.pointer.calls.last(), QStringLiteral("default"));
}

void TestFrmSatchel::templateOrFolderNotFoundStartsInteractively_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<int>("rowsLater"); // when C:\App is selected afterwards
    QTest::newRow("missing template") << "\"C:\\App\\NONE.TST6\""
                                      << "NONE.TST6" << 1;
    QTest::newRow("relative template") << "\"App\\ORDERS.TST6\""
                                       << "ORDERS.TST6" << 4;
    QTest::newRow("unquoted folder and package") << "C:\\App\\ C:\\Out\\p.zip"
                                                 << "p.zip" << 1;
    QTest::newRow("folder without templates, package path") << "\"C:\\Empty\\\" \"C:\\Out\\none.zip\""
                                                            << "" << 5;
}

void TestFrmSatchel::templateOrFolderNotFoundStartsInteractively()
{
    QFETCH(QString, commandLine);
    QFETCH(QString, filter);
    QFETCH(int, rowsLater);
    Harness h;
    const QString previous = QDir::currentPath();
    const auto back = qScopeGuard([&] { QDir::setCurrent(previous); });
    QDir::setCurrent(h.env.driveC());
    h.start(commandLine);
    QVERIFY(!h.form->Unloaded());
    QCOMPARE(h.form->TemplateFilter(), filter);
    QVERIFY(h.formLoadLog().contains(filter.isEmpty() ? QStringLiteral("LOG Folder not found.")
                                                      : QStringLiteral("LOG Template not found.")));
    QVERIFY(h.tree.selected.isEmpty());
    QVERIFY(QDir(h.env.driveC() + QStringLiteral("/Out")).isEmpty());
    // Every later selection lists only files of that name.
    h.tree.SelectFolder(QStringLiteral("C:\\App"), 0, true);
    QCOMPARE(h.grid.Rows(), rowsLater);
}

void TestFrmSatchel::storedWindowStateOfFiveTakesTheErrorPath()
{
    Harness h;
    {
        QDir().mkpath(h.env.configHome() + QStringLiteral("/Norvale/TS6"));
        QSettings ini(h.env.configHome() + QStringLiteral("/Norvale/TS6/ts6satchel.ini"),
                      QSettings::IniFormat);
        ini.setValue(QStringLiteral("Settings/WindowState"), QStringLiteral("5"));
    }
    h.start(QStringLiteral("\"C:\\App\\\" \"C:\\Out\\x.zip\""));
    const QStringList log = h.formLoadLog();
    QCOMPARE(log.size(), 3);
    QCOMPARE(log.at(1), QStringLiteral("END ") + h.log.record->entries.first().section(QLatin1Char('|'), 4));
    QCOMPARE(log.at(2), QStringLiteral("ERROR Runtime error occurred: 380 : Invalid property value"));
    QCOMPARE(h.window.title, QStringLiteral("Label1"));
    QVERIFY(h.window.helpFile.isEmpty());
    QVERIFY(h.tree.selected.isEmpty());
    QVERIFY(!h.form->Unloaded());
}

void TestFrmSatchel::helpTopicAndItsFailure()
{
    Harness h;
    const auto setInstallFolder = [&](const char* folder) {
        h.env.write(QStringLiteral("config/Norvale/TS6/product.ini"),
                    "[TS6]\nInstallPath=" + (h.env.driveC() + QLatin1String(folder)).toUtf8() + '\n');
    };
    const auto writeIndex = [&](const QByteArray& target) {
        h.env.write(QStringLiteral("c/Tess/TS6SatchelHelp.xml"),
                    "<HelpIndex><Topic name=\"Video Tutorials\" target=\"" + target + "\"/></HelpIndex>");
    };
    QStringList opened;
    const Registry::ScopedOverride help(QString::fromLatin1(IHelpCatalog::ClassId), [&opened] {
        return std::make_unique<XmlHelpCatalog>([&opened](const QString& target) {
            opened.append(target);
            return true;
        });
    });
    setInstallFolder("/Tess");
    writeIndex("https://a.example/");
    h.start(QString());
    h.form->mnuHelpVideoTutorial_Click();
    // The second command reads the index again, but the product's paths only the first time.
    setInstallFolder("/Elsewhere");
    writeIndex("https://b.example/");
    h.form->mnuHelpVideoTutorial_Click();
    QCOMPARE(opened,
             (QStringList{QStringLiteral("https://a.example/"), QStringLiteral("https://b.example/")}));
    h.form->ShowHelpTopic(QStringLiteral("No Such Topic")); // nothing happens, no message
    QCOMPARE(opened.size(), 2);
    QVERIFY(h.messages.shown.isEmpty());

    h.env.write(QStringLiteral("c/Tess/TS6SatchelHelp.xml"), "<HelpIndex>");
    h.form->mnuHelpVideoTutorial_Click();
    QCOMPARE(h.messages.shown.size(), 1);
    QVERIFY2(h.messages.shown.first().startsWith(QStringLiteral("Help is not available: The help index ") +
                                                 h.env.driveC() +
                                                 QStringLiteral("/Tess/TS6SatchelHelp.xml is not readable")),
             qPrintable(h.messages.shown.first()));
}

// File > Options keeps the options in a section of their own, and the builds of the window take
// them; a batch start takes those of its command line (here none).
void TestFrmSatchel::windowBuildsWithTheOptionsItKeeps()
{
    Harness h;
    h.env.write(QStringLiteral("programdata/Norvale/TS6/logs/today.log"), "password=Hunter2\n");
    QList<SavedPackageOptions> shown;
    std::optional<SavedPackageOptions> chosen = SavedPackageOptions{true, 7, 200};
    h.editOptions = [&](const SavedPackageOptions& current) {
        shown.append(current);
        return chosen;
    };
    h.start(QString());
    h.form->mnuFileOptions_Click();
    chosen.reset(); // cancelled: the options stay
    h.form->mnuFileOptions_Click();
    QCOMPARE(shown, (QList<SavedPackageOptions>{{}, {true, 7, 200}}));
    QSettings ini(h.env.configHome() + QStringLiteral("/Norvale/TS6/ts6satchel.ini"), QSettings::IniFormat);
    QCOMPARE(ini.childGroups(), QStringList{QStringLiteral("PackageOptions")});
    QCOMPARE(ini.value(QStringLiteral("PackageOptions/MaxLogDays")).toString(), QStringLiteral("7"));

    h.tree.SelectFolder(QStringLiteral("C:\\App"), 0, true);
    for (const char* start : {"window", "batch"}) {
        const bool window = QLatin1String(start) == QLatin1String("window");
        h.dialog.answer = QStringLiteral("C:\\Out\\") + QLatin1String(start);
        if (window)
            h.form->cmdBuild_Click();
        else
            h.start(QStringLiteral("\"C:\\App\\\" \"C:\\Out\\batch.ZIP\""));
        const QString package =
            h.env.driveC() + QStringLiteral("/Out/") + QLatin1String(start) + QStringLiteral(".ZIP");
        QVERIFY(CheckArchive(package).valid());
        QCOMPARE(ReadEntry(package, QStringLiteral("REDACTED.TXT")).contains("Values masked: 1"), window);
    }
}

QTEST_GUILESS_MAIN(TestFrmSatchel)
#include "tst_frmsatchel.moc"
