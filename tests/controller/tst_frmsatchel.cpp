// The main window's controller without a display: start-up by command line, the unload step,
// the help command and the options that the window keeps.
#include "components/OutlineGrid.h"
#include "components/XmlHelpCatalog.h"
#include "controller/BatchStart.h"
#include "controller/ResizeForm.h"
#include "controller/frmSatchel.h"
#include "outside/IHelpCatalog.h"
#include "outside/IMainWindow.h"
#include "platform/CommandLine.h"
#include "platform/HostPath.h"
#include "settings/AppConfig.h"
#include "support/ArchiveCheck.h"
#include "support/FakeScreen.h"
#include "support/Fakes.h"
#include "support/Installation.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QScopeGuard>
#include <QSettings>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

struct FakeMainWindow final : IMainWindow
{
    QRect normalRectangle() const override { return normal; }
    void moveInTwips(double l, double t, double w, double h) override { moved = QRectF(l, t, w, h); }
    int windowStateCode() const override { return state; }
    void setWindowStateCode(int s) override { state = s; }
    void setTitleCaption(const QString&) override {}
    void setHelpFile(const QString& p) override { helpFile = p; }
    void destroyWindow() override { destroyed = true; }
    QMargins frameMargins() const override { return frame; }
    void showStatus(const QString& text) override { status = text; }

    QRect normal{10, 20, 1000, 700};
    QMargins frame{2, 30, 2, 2};
    QString status;
    QRectF moved;
    int state = 0;
    QString helpFile;
    bool destroyed = false;
};

// C:\App holds two templates, ORDERS.TST6 with its data file and STOCK.TST; C:\Empty none.
struct Harness
{
    TestEnvironment env;
    FakeMainWindow window;
    FakeFolderTree tree;
    OutlineGrid grid;
    FakeScreen screen{1366, 768};
    FakeMousePointer pointer;
    FakeEventLoop events;
    FakeMessageBox messages;
    FakeSaveDialog dialog;
    std::function<std::optional<SavedPackageOptions>(const SavedPackageOptions&)> editOptions;
    std::function<bool(const QString&)> openDocument;
    std::function<QString(const QString&)> pickPackage;
    std::function<UploadResult(const PackageUpload&)> sendPackage;
    ComponentMakers components = env.components();
    std::unique_ptr<frmSatchel> form;

    Harness()
    {
        const QByteArray content = templateToml({.title = u"Orders"_s});
        env.write(u"c/App/ORDERS.TST6"_s, content);
        env.write(u"c/App/ORDERS.TSD6"_s);
        env.write(u"c/App/STOCK.TST"_s, content);
        env.write(u"c/Empty/readme.txt"_s);
        env.makeFolder(u"c/Out"_s);
    }

    void start(const QString& commandLine)
    {
        const auto progress = [] {
            return std::make_unique<FakeProgressWindow>(std::make_shared<QStringList>());
        };
        const DesktopServices desktop{pointer, events, messages, dialog, progress, 0, u"C:\\PROGRAM"_s};
        form = std::make_unique<frmSatchel>(SatchelServices{window,
                                                            tree,
                                                            grid,
                                                            screen,
                                                            desktop,
                                                            components,
                                                            u"ts6satchel"_s,
                                                            {},
                                                            {},
                                                            editOptions,
                                                            openDocument,
                                                            pickPackage,
                                                            sendPackage},
                                            commandLine);
        form->Form_Load();
    }
};

} // namespace

class TestFrmSatchel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void noCommandLineOpensOnTheLastFolderAndUnloadStoresIt();
    void aSettingsFileOverTheLimitIsLeftAlone();
    void startsByCommandLine_data();
    void startsByCommandLine();
    void helpMenu();
    void windowBuildsWithTheOptionsItKeeps();
    void layout_data();
    void layout();
    void centredOnScreen();
    void aBuildThatWritesNothingSaysWhy();
    void placementKeptOnTheScreen_data();
    void placementKeptOnTheScreen();
};

void TestFrmSatchel::noCommandLineOpensOnTheLastFolderAndUnloadStoresIt()
{
    Harness h;
    h.start(QString());
    QCOMPARE(h.tree.selected, HostPath::toWindows(QDir::currentPath()));
    QCOMPARE(h.window.helpFile, u"C:\\PROGRAM\\ts6satchel.chm"_s);

    // Minimised: the rectangle is stored, the state stays as it was.
    AppConfig& config = h.form->Config();
    h.window.state = 1;
    h.window.normal = QRect(5, 6, 700, 500);
    h.form->Form_Unload();
    QCOMPARE(QRect(config.WindowLeft(), config.WindowTop(), config.WindowWidth(), config.WindowHeight()),
             h.window.normal);
    QCOMPARE(config.WindowState(), 0);

    h.tree.selectFolder(u"C:\\App"_s, 0, true);
    h.window.state = 2;
    h.form->cmdClose_Click();
    QVERIFY(h.form->unloaded() && h.window.destroyed);
    QCOMPARE(config.WindowState(), 2);
    QCOMPARE(config.LastFolder(), u"C:\\App"_s);
}

// A settings file over 1 MB (left alone, as the settings' own tests show): the start says so in the
// trace.
void TestFrmSatchel::aSettingsFileOverTheLimitIsLeftAlone()
{
    Harness h;
    const QByteArray big = "[Settings]\n;" + QByteArray(1'000'000, 'x') + '\n';
    const QString ini = h.env.write(u"config/Norvale/TS6/ts6satchel.ini"_s, big);
    h.start(QString());
    QFile trace(h.env.logDir() + u"/TS6Satchel.log"_s);
    QVERIFY(trace.open(QIODevice::ReadOnly));
    QVERIFY(trace.readAll().contains("LOG: frmSatchel, Form_Load, The settings file " + ini.toUtf8() +
                                     " is larger than 1 MB: it was not read, and the settings of this run "
                                     "are not saved\n"));
}

void TestFrmSatchel::startsByCommandLine_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<bool>("batch");
    QTest::addColumn<int>("rows");     // a batch start's grid; else the grid once C:\App is selected
    QTest::addColumn<QString>("said"); // the start's last line on standard error, %1 drive C's host path
    const auto row = [](const char* commandLine, const char* filter, bool batch, int rows,
                        const QString& said) {
        QTest::newRow(commandLine) << QString::fromUtf8(commandLine) << QString::fromUtf8(filter) << batch
                                   << rows << said;
    };
    // A template that exists is built at once, through the dialog, named after the template.
    row("\"C:\\App\\orders.tst6\"", "orders.tst6", true, 4, u"wrote %1/Out/orders.ZIP ("_s);
    // Otherwise the start is interactive, and every later selection lists only files of that name.
    row("\"C:\\App\\NONE.TST6\"", "NONE.TST6", false, 1, u"template not found: %1/App/NONE.TST6"_s);
    row("\"C:\\App\\nothing\"", "nothing", false, 1, u"folder or template not found: %1/App/nothing"_s);
    // Relative: never found; unquoted: the whole line is the template.
    row("\"App\\ORDERS.TST6\"", "ORDERS.TST6", false, 4, u"template not found: App\\ORDERS.TST6"_s);
    row("C:\\App\\ C:\\Out\\p.zip", "p.zip", false, 1,
        u"folder or template not found: C:\\App\\ C:\\Out\\p.zip"_s);
    row("\"C:\\Empty\\\" \"C:\\Out\\none.zip\"", "", false, 5,
        u"no templates (*.TST6, *.TST) in the folder %1/Empty"_s);
}

// A start from the command line ends with one line on standard error that says what came of it,
// in host paths.
void TestFrmSatchel::startsByCommandLine()
{
    QFETCH(QString, commandLine);
    QFETCH(bool, batch);
    QFETCH(QString, said);
    Harness h;
    const QString previous = QDir::currentPath();
    const auto back = qScopeGuard([&] { QDir::setCurrent(previous); });
    QDir::setCurrent(h.env.driveC());
    h.dialog.answer = u"C:\\Out\\orders"_s;
    h.start(commandLine);
    QTEST(h.form->TemplateFilter(), "filter");
    QCOMPARE(h.form->unloaded(), batch);
    QCOMPARE(h.window.destroyed, batch);
    QCOMPARE(h.messages.shown.size(), batch ? 1 : 0);
    QCOMPARE(h.dialog.seen.size(), batch ? 1 : 0);
    QStringList lines;
    const BatchStart start([&](const QString& line) { lines.append(line); });
    if (batch)
        start.ending(*h.form, {}, CommandLineOptions{});
    else
        start.whyNoPackage(*h.form);
    QVERIFY2(lines.value(lines.size() - 1).startsWith(said.arg(h.env.driveC())),
             qPrintable(lines.join(u'|')));
    if (batch) {
        QVERIFY(h.dialog.seen.first().file.startsWith(u"C:\\APP\\orders20"_s));
        QVERIFY(checkArchive(h.env.driveC() + u"/Out/orders.ZIP"_s).valid());
    } else {
        QVERIFY(h.tree.selected.isEmpty());
        h.tree.selectFolder(u"C:\\App"_s, 0, true);
    }
    QTEST(h.grid.rows(), "rows");
}

// Video Tutorial opens the help index's topic, read anew at each command (the product's paths only the
// first time); one that cannot be read says so. F1 opens the handbook installed beside the program
// (share/doc), else the one of a build tree; one that is missing, or that nothing can show, is said in
// a message naming the file.
void TestFrmSatchel::helpMenu()
{
    Harness h;
    const auto install = [&](const char* folder, const QByteArray& target) {
        h.env.write(u"config/Norvale/TS6/product.ini"_s,
                    "[TS6]\nInstallPath=" + (h.env.driveC() + QLatin1String(folder)).toUtf8() + '\n');
        h.env.write(u"c/Tess/TS6SatchelHelp.xml"_s,
                    "<HelpIndex><Topic name=\"Video Tutorials\" target=\"" + target + "\"/></HelpIndex>");
    };
    QStringList opened;
    h.components.helpCatalog = [&opened] {
        return std::make_unique<XmlHelpCatalog>([&opened](const QString& target) {
            opened.append(target);
            return true;
        });
    };
    bool opens = true;
    h.openDocument = [&](const QString& path) {
        opened.append(path);
        return opens;
    };
    install("/Tess", "https://a.example/");
    h.start(QString());
    h.form->mnuHelpVideoTutorial_Click();
    install("/Elsewhere", "https://b.example/");
    h.form->mnuHelpVideoTutorial_Click();
    h.form->ShowHelpTopic(u"No Such Topic"_s); // nothing happens, no message
    QCOMPARE(opened, (QStringList{u"https://a.example/"_s, u"https://b.example/"_s}));
    QVERIFY(h.messages.shown.isEmpty());
    h.env.write(u"c/Tess/TS6SatchelHelp.xml"_s, "<HelpIndex>");
    h.form->mnuHelpVideoTutorial_Click();
    QCOMPARE(h.messages.shown.size(), 1);
    QVERIFY2(h.messages.shown.first().startsWith(u"Help is not available: The help index "_s),
             qPrintable(h.messages.shown.first()));

    opened.clear();
    h.form->mnuHelpHandbook_Click();
    QCOMPARE(opened, QStringList());
    QCOMPARE(h.messages.shown.size(), 2);
    QVERIFY(h.messages.shown.last().startsWith(u"The handbook is not installed: there is no "_s +
                                               h.env.driveC() + u"/share/doc/ts6satchel/ts6satchel.html"_s));
    const QString built = h.env.write(u"c/PROGRAM/data/ts6satchel.html"_s, "<html>");
    const QString installed = h.env.write(u"c/share/doc/ts6satchel/ts6satchel.html"_s, "<html>");
    h.form->mnuHelpHandbook_Click();
    QFile::remove(installed);
    opens = false;
    h.form->mnuHelpHandbook_Click();
    QCOMPARE(opened, (QStringList{installed, built}));
    QCOMPARE(h.messages.shown.size(), 3);
    QVERIFY(h.messages.shown.last().contains(built + u" could not be opened"_s));
}

// File > Options keeps the options in a section of their own, and the builds of the window take
// them; a batch start takes those of its command line (here none).
// The options are kept across runs, the upload server's address among them, and File > Upload
// Package... offers the package the window built last.
void TestFrmSatchel::windowBuildsWithTheOptionsItKeeps()
{
    Harness h;
    h.env.write(u"programdata/Norvale/TS6/logs/today.log"_s, "password=Hunter2\n");
    QList<SavedPackageOptions> shown;
    // A URL with the characters a settings file might take for a comment or a separator.
    const SavedPackageOptions wanted{true,
                                     7,
                                     200,
                                     u"http://127.0.0.1:9/files/?a=1;b=2#x"_s,
                                     u"/home/ann/token"_s,
                                     u"/home/ann/support-ca.pem"_s};
    std::optional<SavedPackageOptions> chosen = wanted;
    h.editOptions = [&](const SavedPackageOptions& current) {
        shown.append(current);
        return chosen;
    };
    QStringList proposed;
    QList<PackageUpload> sent;
    h.pickPackage = [&](const QString& last) {
        proposed << last;
        return last;
    };
    h.sendPackage = [&](const PackageUpload& upload) {
        sent << upload;
        return UploadResult{UploadResult::End::Failed, u"The package was not sent: no server"_s};
    };
    h.start(QString());
    QVERIFY(!h.form->canUpload());
    h.form->mnuFileOptions_Click();
    chosen.reset(); // cancelled: the options stay
    h.form->mnuFileOptions_Click();
    QCOMPARE(shown, (QList<SavedPackageOptions>{{}, wanted}));
    QVERIFY(h.form->canUpload());
    QSettings ini(h.env.configHome() + u"/Norvale/TS6/ts6satchel.ini"_s, QSettings::IniFormat);
    QCOMPARE(ini.childGroups(), (QStringList{u"PackageOptions"_s, u"Upload"_s}));
    QCOMPARE(ini.value(u"PackageOptions/MaxLogDays"_s).toString(), u"7"_s);

    h.tree.selectFolder(u"C:\\App"_s, 0, true);
    h.dialog.answer = u"C:\\Out\\window"_s;
    h.form->cmdBuild_Click();
    h.form->mnuFileUploadPackage_Click();
    const QString built = h.env.driveC() + u"/Out/window.ZIP"_s;
    QCOMPARE(proposed, QStringList{built});
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0].package, built);
    QCOMPARE(sent[0].url, wanted.uploadUrl);
    QCOMPARE(sent[0].tokenFile, wanted.uploadTokenFile);
    QCOMPARE(sent[0].caCert, wanted.uploadCaCert);
    QCOMPARE(h.messages.shown.constLast(), u"The package was not sent: no server"_s);
    QCOMPARE(h.messages.lastIcon, MessageIcon::Exclamation);

    h.start(u"\"C:\\App\\\" \"C:\\Out\\batch.ZIP\""_s);
    for (const QString& name : {u"window"_s, u"batch"_s}) {
        const QString package = h.env.driveC() + u"/Out/"_s + name + u".ZIP"_s;
        QVERIFY(checkArchive(package).valid());
        QCOMPARE(readEntry(package, u"REDACTED.TXT"_s).contains("Values masked: 1"), name == u"window"_s);
    }
}

void TestFrmSatchel::layout_data()
{
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("height");
    QTest::addColumn<double>("headerInnerHeight");
    QTest::addColumn<QRectF>("splitter"); // null when not moved
    QTest::addColumn<QRectF>("buttons");
    QTest::addColumn<QPointF>("title"); // (-1, -1) when not moved
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

void TestFrmSatchel::layout()
{
    QFETCH(double, width);
    QFETCH(double, height);
    QFETCH(double, headerInnerHeight);
    QFETCH(QRectF, splitter);
    QFETCH(QRectF, buttons);
    QFETCH(QPointF, title);
    const FormLayout l =
        computeFormLayout({0, width, height, width, 975, width, headerInnerHeight, 2835, 615, 2775, 375});
    QCOMPARE(l.splitter.value_or(QRectF()), splitter);
    QCOMPARE(l.buttons, buttons);
    QCOMPARE(l.title.value_or(QPointF(-1, -1)), title);
}

void TestFrmSatchel::centredOnScreen()
{
    QCOMPARE(centerOnScreenCoordinate(3001 + 9015, 9015), 1500);
    QCOMPARE(centerOnScreenCoordinate(9015 - 3001, 9015), -1500); // toward zero
    QCOMPARE(centerOnScreenCoordinate(10000.5, 0), 5000);         // 10000.5 rounds to even first
    QCOMPARE(centerOnScreenCoordinate(10001.5, 0), 5001);
}

// A build that writes no package says why in the status line until the next build or folder; a
// cancelled one says nothing; closing the window during a build waits for its end, and says so.
void TestFrmSatchel::aBuildThatWritesNothingSaysWhy()
{
    Harness h;
    h.start(QString());
    h.tree.selectFolder(u"C:\\App"_s, 0, true);
    h.dialog.answer = u"C:\\App\\ORDERS.TST6\\package"_s; // in a "folder" that is a file
    h.form->cmdBuild_Click();
    QVERIFY2(h.window.status.startsWith(u"No package was written: "_s), qPrintable(h.window.status));
    QVERIFY(h.window.status.contains(h.env.driveC() + u"/App/ORDERS.TST6/package.ZIP"_s));
    QVERIFY(!h.window.status.contains(u'\n'));
    h.tree.selectFolder(u"C:\\Empty"_s, 0, true);
    QCOMPARE(h.window.status, QString());

    h.tree.selectFolder(u"C:\\App"_s, 0, true);
    h.dialog.answer.clear(); // cancelled
    h.form->cmdBuild_Click();
    QCOMPARE(h.window.status, QString());

    h.dialog.answer = u"C:\\Out\\closing"_s;
    QString said;
    h.events.during = [&] {
        if (said.isEmpty()) {
            h.form->closeRequested();
            said = h.window.status;
            QVERIFY(!h.window.destroyed);
        }
    };
    h.form->cmdBuild_Click();
    QCOMPARE(said, u"The window closes when the build ends."_s);
    QVERIFY(h.window.destroyed);
    QVERIFY(QFile::exists(h.env.driveC() + u"/Out/closing.ZIP"_s));
}

void TestFrmSatchel::placementKeptOnTheScreen_data()
{
    QTest::addColumn<QRect>("stored"); // null: none stored, the first start
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QRect>("placed");
    // The frame is 2 pixels wide with a title bar of 30: the whole frame counts.
    QTest::newRow("a placement that fits is restored exactly, also touching every edge")
        << QRect(2, 30, 1362, 736) << QRect(0, 0, 1366, 768) << QRect(2, 30, 1362, 736);
    QTest::newRow("one pixel past the right edge: moved, not shrunk")
        << QRect(3, 30, 1362, 736) << QRect(0, 0, 1366, 768) << QRect(2, 30, 1362, 736);
    QTest::newRow("a title bar above the screen or under a top panel is moved down")
        << QRect(100, 10, 800, 600) << QRect(0, 32, 1366, 736) << QRect(100, 62, 800, 600);
    QTest::newRow("on a monitor that is gone: moved onto the screen")
        << QRect(2500, 1200, 800, 600) << QRect(0, 0, 1366, 768) << QRect(564, 166, 800, 600);
    QTest::newRow("first start on 960 by 540 (1920 by 1080 at scale 2): moved, then shrunk")
        << QRect() << QRect(0, 0, 960, 540) << QRect(80, 30, 800, 508);
    QTest::newRow("larger than the screen each way: as large as it")
        << QRect(-50, -50, 3000, 2000) << QRect(0, 0, 1024, 600) << QRect(2, 30, 1020, 568);
}

// The stored placement, or the first start's, is restored only as far as the screen's available
// area holds the whole window.
void TestFrmSatchel::placementKeptOnTheScreen()
{
    QFETCH(QRect, stored);
    QFETCH(QRect, available);
    QFETCH(QRect, placed);
    Harness h;
    h.screen.available = available;
    h.screen.width = available.width();
    h.screen.height = available.height();
    if (!stored.isNull())
        h.env.write(
            u"config/Norvale/TS6/ts6satchel.ini"_s,
            QStringLiteral("[Settings]\nWindowLeft=%1\nWindowTop=%2\nWindowWidth=%3\nWindowHeight=%4\n")
                .arg(stored.left())
                .arg(stored.top())
                .arg(stored.width())
                .arg(stored.height())
                .toUtf8());
    h.start(QString());
    QCOMPARE(h.window.moved,
             QRectF(placed.left() * 15, placed.top() * 15, placed.width() * 15, placed.height() * 15));
    // Closed where it was put, the window keeps the placement stored, and a first start stores the
    // defaults; moved, it stores its own.
    AppConfig& config = h.form->Config();
    const auto storedNow = [&] {
        return QRect(config.WindowLeft(), config.WindowTop(), config.WindowWidth(), config.WindowHeight());
    };
    const QRect before = storedNow();
    h.window.normal = placed;
    h.form->Form_Unload();
    const QSettings file(h.env.path(u"config/Norvale/TS6/ts6satchel.ini"_s), QSettings::IniFormat);
    QCOMPARE(QRect(file.value(u"Settings/WindowLeft"_s, -1).toInt(),
                   file.value(u"Settings/WindowTop"_s, -1).toInt(),
                   file.value(u"Settings/WindowWidth"_s).toInt(),
                   file.value(u"Settings/WindowHeight"_s).toInt()),
             before);
    h.window.normal = placed.translated(1, 0);
    h.form->Form_Unload();
    QCOMPARE(storedNow(), placed.translated(1, 0));
}

QTEST_GUILESS_MAIN(TestFrmSatchel)
#include "tst_frmsatchel.moc"
