// The windows as a person meets them, on Qt's offscreen platform: clicks and keys on the real
// grid view, whose model Qt's model tester watches in every test; the folder tree at start-up; a
// build through the save dialog; the options; the progress window and the About box in any theme;
// the layout on resizing.
#include "app/SatchelWindow.h"
#include "app/frmAbout.h"
#include "app/frmOptions.h"
#include "app/frmPacifier.h"
#include "app/frmUpload.h"
#include "app/frmViewer.h"
#include "desktop/GridView.h"
#include "desktop/QtFolderTree.h"
#include "desktop/RegisterDesktop.h"
#include "platform/HostName.h"
#include "settings/AppConfig.h"
#include "support/ArchiveCheck.h"
#include "support/FakeLogSink.h"
#include "support/HandMadeZip.h"
#include "support/Installation.h"
#include "support/TestEnvironment.h"
#include "support/TusServer.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int kPatience = 120000; // milliseconds: what a busy machine may need

struct Harness
{
    TestEnvironment env;
    FakeLogInstalled trace;
    Desktop desktop{false};
    std::unique_ptr<SatchelWindow> window;
    QStringList messages;

    // A start after the given preparation of settings and files; without one, the grid shows
    // C:\App, every row expanded: ORDERS.TST6 with a data file, two popup files and a view, and
    // STOCK.TST with a data file.
    explicit Harness(const std::function<void(AppConfig&, TestEnvironment&)>& before = {})
    {
        const TemplateSpec orders{.title = u"Orders"_s,
                                  .fields = {{u"A"_s, u"P"_s, u"C:\\App\\A.TPT"_s, {}, {}, {}},
                                             {u"B"_s, u"P"_s, u"C:\\App\\B.TPT"_s, {}, {}, {}}},
                                  .views = {{u"Summary"_s, 1}}};
        env.write(u"c/App/ORDERS.TST6"_s, templateToml(orders));
        env.write(u"c/App/STOCK.TST"_s, templateToml({.title = u"Stock"_s}));
        for (const char* f : {"ORDERS.TSD6", "A.TPT", "B.TPT", "ORDERS.TVM6.V1", "STOCK.TSD"})
            env.write(u"c/App/"_s + QLatin1String(f));
        env.makeFolder(u"c/Out"_s);
        registerDesktopComponents();
        window = std::make_unique<SatchelWindow>(desktop, env.components(), QString());
        new QAbstractItemModelTester(&view().gridModel(),
                                     QAbstractItemModelTester::FailureReportingMode::QtTest, window.get());
        window->messageBox().answerer = [this](QWidget* box) {
            messages.append(static_cast<QMessageBox*>(box)->text());
            QVERIFY(!box->windowHandle()->icon().isNull());
            static_cast<QMessageBox*>(box)->accept();
        };
        if (before)
            before(window->controller().Config(), env);
        window->controller().Form_Load();
        if (!before) {
            load("C:\\App");
            window->resize(1000, 700);
        }
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        view().gridModel().flush();
        if (!before)
            view().expandAll();
    }

    GridView& view() { return window->gridView(); }
    OutlineGrid& grid() { return window->grid(); }
    GridNode node(const char* key) { return grid().nodeByKey(QString::fromLatin1(key)); }
    int picture(const char* key) { return grid().nodePicture(node(key)); }

    // Selects the folder in the tree and waits for the view to show its rows.
    void load(const char* folder)
    {
        QSignalSpy reset(&view().gridModel(), &QAbstractItemModel::modelReset);
        window->folderTree().selectFolder(QString::fromLatin1(folder), 0, true);
        QTRY_VERIFY_WITH_TIMEOUT(reset.count() == 1, kPatience);
    }

    QRect cell(const char* key, int column = 0)
    {
        const QModelIndex index = view().gridModel().indexOf(node(key), column);
        view().scrollTo(index);
        return view().visualRect(index);
    }

    void click(const char* key, int column = 0, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mouseClick(view().viewport(), button, {}, cell(key, column).center());
    }

    // Space on the row, which the keyboard made current.
    void space(const char* key)
    {
        view().setCurrentIndex(view().gridModel().indexOf(node(key)));
        QTest::keyClick(&view(), Qt::Key_Space);
    }
};

// The controls that the keyboard's focus visits, from the first on, Tab after Tab.
QString focusChain(QWidget* first, int steps)
{
    first->window()->activateWindow();
    if (!QTest::qWaitForWindowActive(first->window()))
        return {};
    first->setFocus(Qt::TabFocusReason);
    QStringList names{QApplication::focusWidget()->objectName()};
    while (names.size() <= steps) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        names.append(QApplication::focusWidget()->objectName());
    }
    return names.join(u' ');
}

// The viewer's package: text, UTF-16 and binary entries in folders, a damaged one, names that are
// not harmless, and texts of one page and one byte more.
QString viewerPackage(const QTemporaryDir& dir)
{
    QByteArray wide("\xff\xfe", 2);
    for (const QChar c : u"[Server]\r\nKey=Wert\r\n"_s)
        wide += QByteArray::fromRawData(reinterpret_cast<const char*>(&c), 2);
    QByteArray binary;
    for (int i = 0; i < 256; ++i)
        binary += char(i);
    const QByteArray page = QByteArray("0123456789abcde\n").repeated(65536); // 1 MiB
    const QString path = dir.filePath(u"viewer.zip"_s);
    writeFile(path, handMade({{"logs/app.log", "2026-12-04 08:00:00 started\n", false},
                              {"logs/archive/2026/12/04/ORDERS-SERVICE.LOG", page, false},
                              {"conf/broken.ini", "[Server]\nPort=8080\n", false, 0x0800, 1u},
                              {"conf/wide.ini", wide, false},
                              {"data/blob.bin", binary, false},
                              {"big/page.txt", page, false},
                              {"big/past.txt", page + "x", false},
                              {"evil\x1b[2J\xe2\x80\xae.txt", "x", false},
                              {"../escape.txt", "out", false}}));
    return path;
}

// The progress window, while it is shown.
QWidget* shownPacifier()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == u"frmPacifier"_s && w->isVisible())
            return w;
    return nullptr;
}

} // namespace

class TestWindows : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { Q_INIT_RESOURCE(resources); }
    void clicksKeysAndLoadsOnTheGrid();
    void startsOnTheLastFolder_data();
    void startsOnTheLastFolder();
    void buildThroughTheSaveDialog();
    void optionsThroughTheFileMenu();
    void uploadWindow_data();
    void uploadWindow();
    void smallWindowsInAnyTheme_data();
    void smallWindowsInAnyTheme();
    void layoutFollowsTheWindowFromTheStart();
    void everyFolderNameIsShownAndSelectable_data();
    void everyFolderNameIsShownAndSelectable();
    void dialogsOpenInsideTheScreen();
    void viewerShowsEachEntry_data();
    void viewerShowsEachEntry();
    void viewerFiltersAndTellsWhatThePackageLacks();
};

// The view hands the rules the row and column under the mouse, or the current row for Space; the
// rules themselves are tested without a display. Its model tells the view of every change.
void TestWindows::clicksKeysAndLoadsOnTheGrid()
{
    Harness h;
    GridItemModel& model = h.view().gridModel();
    QVERIFY(h.view().isColumnHidden(2));
    h.click("1-V1-POPUP", 0, Qt::RightButton); // any button acts
    QCOMPARE(h.picture("1-POPUPFILES"), 2);
    h.space("1-POPUPFILES"); // partly included: excludes the group and its rows
    QCOMPARE(h.picture("1-V2-POPUP"), 3);
    h.click("1-TSD", 1); // the file name column changes nothing
    QCOMPARE(h.picture("1-TSD"), 1);
    h.click("1-TVM-ORDERS.TVM6.V1");
    h.space("1-TVM-ORDERS.TVM6.V1");
    QCOMPARE(h.messages.size(), 2);              // views cannot be chosen one by one
    const QRect rect = h.cell("2-TEMPLATEFILE"); // its expand/collapse indicator only collapses
    QTest::mouseClick(h.view().viewport(), Qt::LeftButton, {},
                      QPoint(rect.left() - h.view().indentation() / 2, rect.center().y()));
    QVERIFY(!h.view().isExpanded(model.indexOf(h.node("2-TEMPLATEFILE"))));
    QCOMPARE(h.picture("2-TEMPLATEFILE"), 1);

    // The view shows the grid's pictures; assistive tools read each row's state; the keyboard
    // reaches every control.
    QVERIFY(!GridItemModel::picture(3).isNull());
    QCOMPARE(model.data(model.indexOf(h.node("1-V2-POPUP")), Qt::DecorationRole).value<QPixmap>().toImage(),
             GridItemModel::picture(3).toImage());
    QAccessibleInterface* grid = QAccessible::queryAccessibleInterface(&h.view());
    QVERIFY(!grid->text(QAccessible::Name).isEmpty());
    QStringList states;
    for (int r = 1; r <= 3; ++r) {
        QAccessibleInterface* cell = grid->tableInterface()->cellAt(r, 0);
        states << cell->text(QAccessible::Name) << QString::number(cell->state().checked)
               << cell->text(QAccessible::Description);
    }
    QCOMPARE(states.join(u'|'), QStringLiteral("Orders|0|partly included|Tessarine Data File|1|"
                                               "included|Popup Files|0|excluded"));
    QCOMPARE(focusChain(&h.window->folderTree(), 4), u"lstFolders grdfiles cmdBuild cmdClose lstFolders"_s);

    // The changed pictures reach the view; a reload replaces the rows, a folder without templates
    // clears them.
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    h.click("1-POPUPFILES"); // excluded: includes the group and its rows again
    QTRY_VERIFY_WITH_TIMEOUT(!changed.isEmpty(), kPatience);
    QCOMPARE(h.picture("1-V2-POPUP"), 1);
    const TemplateField help{u"A"_s, u"H"_s, {}, {}, {}, u"C:\\App\\A.HLP"_s};
    h.env.write(u"c/App/ORDERS.TST6"_s, templateToml({.title = u"Orders"_s, .fields = {help}}));
    h.load("C:\\App");
    QVERIFY(h.node("1-HELPFILES") != kNoNode && h.node("1-POPUPFILES") == kNoNode);
    h.view().expandAll();
    // In a narrow view the descriptions give way: the Filename column stays in sight.
    h.view().resize(200, 300);
    QTRY_VERIFY_WITH_TIMEOUT(
        h.view().header()->sectionViewportPosition(1) < h.view().viewport()->width() - 40, kPatience);
    h.load("C:\\Out");
    QCOMPARE(model.rowCount(), 0);
}

void TestWindows::startsOnTheLastFolder_data()
{
    QTest::addColumn<QString>("lastFolder");
    QTest::addColumn<int>("windowState");
    QTest::addColumn<bool>("selected");
    QTest::newRow("LastFolder missing") << "C:\\Gone" << 0 << false;
    QTest::newRow("start-up error") << "C:\\Deep\\a\\b\\c\\d\\zz" << 5 << false;
    // Many folders sort before it in its own folder, and they load only after the start.
    QTest::newRow("deep in the tree") << "C:\\Deep\\a\\b\\c\\d\\zz" << 0 << true;
}

// The tree shows the last folder, or selects nothing; a folder selected by nobody is not stored.
void TestWindows::startsOnTheLastFolder()
{
    QFETCH(QString, lastFolder);
    QFETCH(int, windowState);
    QFETCH(bool, selected);
    Harness h([&](AppConfig& config, TestEnvironment& env) {
        config.setLastFolder(lastFolder);
        config.setWindowState(windowState);
        for (int i = 0; i < 60; ++i)
            env.makeFolder(u"c/Deep/a/b/c/d/f%1"_s.arg(i, 2, 10, QChar(u'0')));
        env.makeFolder(u"c/Deep/a/b/c/d/zz"_s);
    });
    QCOMPARE(h.window->helpFile().isEmpty(), windowState == 5); // the error skips the steps after it
    QtFolderTree& tree = h.window->folderTree();
    const QPersistentModelIndex folder = tree.currentIndex();
    if (selected)
        QTRY_VERIFY_WITH_TIMEOUT(
            folder.row() == 60 && tree.viewport()->rect().contains(tree.visualRect(folder)), kPatience);
    tree.setFocus(Qt::TabFocusReason); // Qt gives the tree a current row, which selects nothing
    QVERIFY(tree.hasFocus() && tree.currentIndex().isValid());
    QCoreApplication::processEvents();
    QCOMPARE(tree.selectedFolderPath(), selected ? lastFolder : QString());
    QCOMPARE(h.grid().rows(), 1);
    QTest::mouseClick(h.window->findChild<QPushButton*>(u"cmdClose"_s), Qt::LeftButton);
    QCOMPARE(h.window->controller().Config().LastFolder(), lastFolder);
}

// During a build the progress window is up, on top, with the program's icon, and gone at the end;
// the dialog and the final message speak of host paths.
void TestWindows::buildThroughTheSaveDialog()
{
    Harness h;
    bool seenOnTop = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (const QWidget* p = shownPacifier())
            seenOnTop = seenOnTop || ((p->windowFlags() & Qt::WindowStaysOnTopHint) &&
                                      !p->windowHandle()->icon().isNull());
    });
    watch.start(0);
    const QString chosen = h.env.driveC() + u"/Out/package"_s;
    h.window->saveDialog().answerer = [&](QWidget* w) {
        auto* dialog = static_cast<QFileDialog*>(w);
        QCOMPARE(dialog->windowTitle(), u"Save Tessarine Package File As..."_s);
        QVERIFY(dialog->selectedFiles().constFirst().startsWith(h.env.driveC() + u"/App/TSSatchelage"_s));
        QVERIFY(!dialog->windowHandle()->icon().isNull());
        dialog->selectFile(chosen);
        static_cast<QDialog*>(dialog)->accept();
    };
    QTest::mouseClick(h.window->findChild<QPushButton*>(u"cmdBuild"_s), Qt::LeftButton);
    watch.stop();
    QVERIFY(seenOnTop && !shownPacifier());
    const ArchiveReport report = checkArchive(chosen + u".ZIP"_s);
    QVERIFY2(report.valid(), qPrintable(report.details));
    QCOMPARE(h.messages.size(), 1);
    QVERIFY(h.messages.first().endsWith(u"\r\n"_s + chosen + u".ZIP"_s));
}

// File > Options: the dialog, with the program's icon and centred over the window, shows the options kept; a
// limit can be set once its box is checked, and its box is named for assistive tools; an upload URL
// that is not http or https keeps OK disabled; OK keeps what was chosen, and File > Upload
// Package... is offered once a URL is kept.
void TestWindows::optionsThroughTheFileMenu()
{
    Harness h;
    // The menus' items in order, "-" a separator: Video Tutorial first in Help, as it always was.
    const auto items = [&](const QString& menu) {
        QStringList texts;
        for (const QAction* action : h.window->findChild<QMenu*>(menu)->actions())
            texts.append(action->isSeparator() ? u"-"_s : action->text());
        return texts.join(u'|');
    };
    QCOMPARE(items(u"mnuFile"_s),
             u"&Options...|&Upload Package...|Open &Package...|Open &Case Folder...|-|E&xit"_s);
    QCOMPARE(items(u"mnuHelp"_s), u"Video Tutorial|&Handbook|-|&About"_s);
    QList<bool> seen;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<frmOptions*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        auto* days = dialog->findChild<QSpinBox*>(u"spnLogAge"_s);
        const QPoint off = dialog->frameGeometry().center() - h.window->frameGeometry().center();
        seen << dialog->windowHandle()->icon().isNull() << (off.manhattanLength() <= 8) << days->isEnabled();
        QTest::mouseClick(dialog->findChild<QCheckBox*>(u"chkMaskSecrets"_s), Qt::LeftButton);
        QTest::mouseClick(dialog->findChild<QCheckBox*>(u"chkLogAge"_s), Qt::LeftButton);
        seen << days->isEnabled() << days->accessibleName().isEmpty();
        days->setValue(7);
        auto* url = dialog->findChild<QLineEdit*>(u"txtUploadUrl"_s);
        const QPushButton* ok = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
        QTest::keyClicks(url, u"ftp://127.0.0.1/files/"_s);
        seen << ok->isEnabled();
        url->clear();
        QTest::keyClicks(url, u" http://127.0.0.1:1/files/ "_s);
        seen << ok->isEnabled();
        QTest::keyClicks(dialog->findChild<QLineEdit*>(u"txtUploadCaCert"_s), u"/etc/ssl/support-ca.pem"_s);
        QTest::keyClick(dialog, Qt::Key_Return);
    });
    auto* upload = h.window->findChild<QAction*>(u"mnuFileUploadPackage"_s);
    auto* file = h.window->findChild<QMenu*>(u"mnuFile"_s);
    Q_EMIT file->aboutToShow();
    QVERIFY(!upload->isEnabled());
    h.window->findChild<QAction*>(u"mnuFileOptions"_s)->trigger();
    QCOMPARE(seen, (QList<bool>{false, true, false, true, false, false, true}));
    QCOMPARE(readSavedOptions(h.window->controller().Config()),
             (SavedPackageOptions{true, 7, std::nullopt, u"http://127.0.0.1:1/files/"_s, QString(),
                                  u"/etc/ssl/support-ca.pem"_s}));
    Q_EMIT file->aboutToShow();
    QVERIFY(upload->isEnabled());
}

void TestWindows::uploadWindow_data()
{
    QTest::addColumn<QStringList>("proxy"); // its faults; none: no server at all
    QTest::addColumn<QString>("caCert");
    QTest::addColumn<QString>("said"); // the failed result's words start so; empty: cancelled, then sent
    QTest::newRow("cancelled, then sent on from where it stopped")
        << QStringList{u"--trickle"_s, u"2000000"_s} << QString() << QString();
    QTest::newRow("a CA file that cannot be read")
        << QStringList() << u"/nonexistent/ca.pem"_s
        << u"The package was not sent: cannot read the CA certificates file /nonexistent/ca.pem"_s;
    QTest::newRow("the token file's token echoed")
        << QStringList{u"--echo"_s, u"401-body"_s} << QString()
        << u"The package was not sent: creating the upload of %1: the server answered 401 Unauthorized: "
           "Unauthorized: the request said \"Authorization: Bearer ********\""_s;
}

// The window sends through the command line's own steps, with the options' token file and CA file:
// its progress shows the bytes the server holds; Cancel stops it at once and keeps its state, and
// the next upload goes on from there; what the server says is shown with the token masked.
void TestWindows::uploadWindow()
{
    QFETCH(QStringList, proxy);
    QFETCH(QString, caCert);
    QFETCH(QString, said);
    // The quick loop runs without the network that installing the server needs; the test command
    // installs it first (the CTest test tus_server_install).
    QString why;
    if (!proxy.isEmpty() && !TusServer::installed(&why))
        QSKIP(qPrintable(why));
    const QByteArray token = "T0ken-of-the-window";
    TusServer server(said.isEmpty() ? QString() : QString::fromLatin1(token));
    QVERIFY2(proxy.isEmpty() || server.startProxy(proxy), qPrintable(server.error()));
    QTemporaryDir dir;
    const QString package = dir.filePath(u"package.zip"_s);
    QVERIFY(writeFile(package, QByteArray(3 << 20, 'p')));
    QVERIFY(writeFile(dir.filePath(u"token"_s), token + '\n', QFile::ReadOwner | QFile::WriteOwner));
    QWidget owner;
    owner.show();
    const PackageUpload upload{package, proxy.isEmpty() ? u"https://127.0.0.1:1/files/"_s : server.proxyUrl(),
                               said.isEmpty() ? QString() : dir.filePath(u"token"_s), caCert};
    if (!said.isEmpty()) {
        const UploadResult result = sendPackageWithProgress(&owner, upload);
        QCOMPARE(result.end, UploadResult::End::Failed);
        QVERIFY2(result.text.startsWith(QString(said).replace(u"%1"_s, package)), qPrintable(result.text));
        QVERIFY2(!result.text.contains(QString::fromLatin1(token)), qPrintable(result.text));
        QVERIFY(proxy.isEmpty() || server.uploadIds().isEmpty());
        return;
    }
    QStringList bytesSeen;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto* window = qobject_cast<frmUpload*>(QApplication::activeModalWidget());
        if (!window)
            return;
        const QString bytes = window->findChild<QLabel*>(u"lblBytes"_s)->text();
        if (!bytes.isEmpty() && !bytes.startsWith(u"0 bytes"_s) && !window->cancelling()) {
            bytesSeen << bytes;
            QTest::mouseClick(window->findChild<QPushButton*>(u"cmdCancel"_s), Qt::LeftButton);
        }
    });
    watch.start(10);
    const UploadResult cancelled = sendPackageWithProgress(&owner, upload);
    QCOMPARE(cancelled.end, UploadResult::End::Cancelled);
    QVERIFY2(bytesSeen.value(0).contains(u" of 3.00 MiB"_s), qPrintable(bytesSeen.join(u'|')));
    QVERIFY(QFile::exists(package + u".upload"_s));
    watch.stop();

    const UploadResult sent = sendPackageWithProgress(&owner, upload);
    QVERIFY2(sent.end == UploadResult::End::Sent, qPrintable(sent.text));
    QVERIFY2(sent.text.startsWith(u"The package was sent to support:\n"_s + package), qPrintable(sent.text));
    QCOMPARE(server.uploadIds().size(), 1);
    QVERIFY(!QFile::exists(package + u".upload"_s));
}

void TestWindows::smallWindowsInAnyTheme_data()
{
    QTest::addColumn<bool>("dark");
    QTest::addColumn<int>("pointSize"); // 0: the desktop's
    QTest::newRow("desktop's theme") << false << 0;
    QTest::newRow("dark palette, 14 pt font") << true << 14;
}

void TestWindows::smallWindowsInAnyTheme()
{
    QFETCH(bool, dark);
    QFETCH(int, pointSize);
    const QPalette palette = QApplication::palette();
    const QFont font = QApplication::font();
    const auto restore = qScopeGuard([&] {
        QApplication::setPalette(palette);
        QApplication::setFont(font);
    });
    if (dark) {
        QPalette night(QColor(0x35, 0x35, 0x35)); // light texts on dark grey
        night.setColor(QPalette::Link, QColor(0x8a, 0xc4, 0xff));
        QApplication::setPalette(night);
    }
    if (pointSize > 0) {
        QFont large = font;
        large.setPointSize(pointSize);
        QApplication::setFont(large);
    }

    // The progress window: centred with its frame (the offscreen platform frames windows too),
    // closed by the build alone.
    frmPacifier pacifier;
    pacifier.Show();
    pacifier.setStatus(u"Adding C:\\TESSARINE\\DATA\\ORDERS.LOG"_s);
    QVERIFY(!pacifier.findChild<QLabel*>(u"Image1"_s)->pixmap().isNull());
    const QRect frame = pacifier.frameGeometry();
    QVERIFY(frame.size() != pacifier.size());
    QVERIFY((frame.center() - pacifier.screen()->geometry().center()).manhattanLength() <= 2);
    // A long step shows its bytes on a line of its own: the window grows by it and stays centred.
    const int before = pacifier.height();
    pacifier.setBytes(5 * 1024 * 1024, 450 * 1024 * 1024);
    const auto* bytes = pacifier.findChild<QLabel*>(u"bytesDone"_s);
    QVERIFY(bytes->isVisible() && bytes->text().contains(u"450"_s));
    QVERIFY(pacifier.height() > before && bytes->geometry().bottom() < pacifier.height());
    QVERIFY((pacifier.frameGeometry().center() - pacifier.screen()->geometry().center()).manhattanLength() <=
            2);
    QTest::keyClick(&pacifier, Qt::Key_Escape);
    pacifier.close();
    QVERIFY(pacifier.isVisible());

    // The About box: its version, and links by mouse and keyboard.
    QStringList opened;
    frmAbout about(nullptr, [&](const QString& what) {
        opened.append(what);
        return true;
    });
    about.show();
    QVERIFY(QTest::qWaitForWindowActive(&about));
    QCOMPARE(about.findChild<QLabel*>(u"lblVersion"_s)->text(), u"6.1 Build 400"_s);
    auto* website = about.findChild<QLabel*>(u"lblWebsite"_s);
    QTest::mouseClick(website, Qt::LeftButton, {}, QPoint(website->width() - 8, website->height() / 2));
    QCOMPARE(focusChain(about.findChild<QPushButton*>(u"cmdOk"_s), 2), u"cmdOk lblWebsite lblEmail"_s);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); // opens the link, not the OK button
    QCOMPARE(opened, (QStringList{frmAbout::Website,
                                  u"mailto:"_s + frmAbout::Email + u"?Subject=TS6Satchel&Body="_s}));

    // Every text can be read on the white of both windows, and has the room it needs.
    for (QWidget* window : std::initializer_list<QWidget*>{&pacifier, &about})
        for (QLabel* label : window->findChildren<QLabel*>()) {
            if (label->text().isEmpty())
                continue;
            const QImage image = label->grab().toImage();
            int darkest = 255;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    darkest = std::min(darkest, QColor(image.pixel(x, y)).lightness());
            const int needed =
                label->wordWrap() ? label->heightForWidth(label->width()) : label->sizeHint().height();
            QVERIFY2(darkest < 155 && needed <= label->height() &&
                         (label->wordWrap() || label->sizeHint().width() <= label->width()),
                     qPrintable(label->objectName()));
        }
    QTest::mouseClick(about.findChild<QPushButton*>(u"cmdOk"_s), Qt::LeftButton);
    QVERIFY(!about.isVisible());
}

void TestWindows::layoutFollowsTheWindowFromTheStart()
{
    // The default placement, 800 by 600, laid out inside the start-up, before the window shows.
    Harness h([](AppConfig& config, TestEnvironment&) { config.setLastFolder(u"C:\\App"_s); });
    QVERIFY(h.trace.record->lines().join(u'\n').contains(
        QRegularExpression(u"START: frmSatchel, Form_Load\n.*LOG: frmSatchel, Resize_Form, Start\n.*"
                           "END: frmSatchel, Form_Load"_s,
                           QRegularExpression::DotMatchesEverythingOption)));
    auto* title = h.window->findChild<QLabel*>(u"AppTitleLabel"_s);
    QCOMPARE(title->geometry().right(),
             h.window->findChild<QLabel*>(u"HeaderPicture"_s)->contentsRect().right());
    // At the default size the columns of a fresh load fit side by side; the outline column widens
    // as rows expand, the file names are never cut, and the last column reaches the view's edge.
    QHeaderView& columns = *h.view().header();
    QVERIFY(columns.length() <= h.view().viewport()->width());
    const int outline = h.view().columnWidth(0);
    h.view().expand(h.view().gridModel().indexOf(h.node("1-TEMPLATEFILE")));
    QVERIFY(h.view().columnWidth(0) > outline);
    const int names = h.view().columnWidth(1);
    h.view().resizeColumnToContents(1); // what the view itself measures
    QVERIFY(h.view().columnWidth(1) <= names);
    h.window->resize(1200, 700);
    QCoreApplication::processEvents();
    QCOMPARE(columns.sectionViewportPosition(1) + h.view().columnWidth(1), h.view().viewport()->width());
    const QPoint wide = title->pos();
    h.window->resize(400, 700); // 6000 twips: not wider than 8400
    QCoreApplication::processEvents();
    QCOMPARE(title->pos(), wide);
    auto* buttons = h.window->findChild<QWidget*>(u"ButtonContainer"_s);
    QCOMPARE(buttons->geometry().right() + 1, h.window->centralWidget()->width());
}

// The folder tree on real folders whose names are not all UTF-8, as a Windows copy holds them.

void TestWindows::everyFolderNameIsShownAndSelectable_data()
{
    QTest::addColumn<QByteArray>("name"); // the folder's name on disk, in bytes
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("listed"); // the subfolders shown when the parent is opened
    QTest::newRow("UTF-8") << QByteArray("Überwachung") << u"Überwachung"_s << u"Other Überwachung"_s;
    QTest::newRow("cp1252") << QByteArray("caf\xe9") << u"caf\uFFFD"_s << u"caf\uFFFD Other"_s;
    QTest::newRow("hidden: shown once asked for") << QByteArray(".cache") << u".cache"_s << u"Other"_s;
}

void TestWindows::everyFolderNameIsShownAndSelectable()
{
    TestEnvironment env;
    QFETCH(QByteArray, name);
    const QString hostName = HostName::decode(name.constData(), name.size());
    const QByteArray onDisk = QFile::encodeName(env.makeFolder(u"c/App"_s)) + '/' + name;
    QCOMPARE(mkdir(onDisk.constData(), 0700), 0);
    QCOMPARE(mkdir((onDisk + "/Orders").constData(), 0700), 0);
    env.makeFolder(u"c/App/Other"_s);
    QtFolderTree tree;
    QString selected;
    tree.setAfterSelectHandler([&] { selected = tree.selectedFolderPath(); });
    tree.selectFolder(u"C:\\APP\\OTHER"_s, 0, true);
    const QModelIndex app = tree.currentIndex().parent();
    QStringList names;
    for (int row = 0; row < tree.model()->rowCount(app); ++row)
        names.append(tree.model()->index(row, 0, app).data().toString());
    QTEST(names.join(u' '), "listed");

    tree.selectFolder(u"C:\\APP\\"_s + hostName + u"\\ORDERS"_s, 0, true);
    QCOMPARE(selected, u"C:\\App\\"_s + hostName + u"\\Orders"_s);
    const QModelIndex folder = tree.currentIndex().parent();
    QTEST(folder.data().toString(), "shown");

    // A person choosing it in the tree gets the same byte-exact path.
    selected.clear();
    tree.setCurrentIndex(folder.parent());
    tree.setCurrentIndex(folder);
    QCOMPARE(selected, u"C:\\App\\"_s + hostName);
}

// A dialog larger than the screen, or placed past its edge, opens moved and shrunk into the
// available area, its frame included; one that fits stays where it was put.
void TestWindows::dialogsOpenInsideTheScreen()
{
    const ScreenKeeper keeper;
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    QDialog large;
    large.setFixedSize(available.width() + 300, available.height() + 200);
    large.move(-50, -50);
    large.show();
    QVERIFY(QTest::qWaitForWindowExposed(&large));
    QTRY_VERIFY2(
        available.contains(large.frameGeometry()),
        qPrintable(u"%1 %2"_s.arg(large.frameGeometry().width()).arg(large.frameGeometry().height())));
    // One that Qt places itself stays centred over its owner.
    QWidget owner;
    owner.setGeometry(available.left() + 100, available.top() + 150, 400, 300);
    owner.show();
    QDialog owned(&owner);
    owned.resize(200, 100);
    owned.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owned));
    QTest::qWait(0); // the fit that follows the show
    QVERIFY((owned.frameGeometry().center() - owner.frameGeometry().center()).manhattanLength() <= 8);
    QDialog small;
    small.resize(200, 100);
    small.move(available.topLeft() + QPoint(100, 120));
    const QPoint placed = small.pos();
    small.show();
    QVERIFY(QTest::qWaitForWindowExposed(&small));
    QCOMPARE(small.pos(), placed);

    // A message with a path that fits the screen keeps it on one line, hyphens and all.
    Desktop desktop(false);
    QtMessageBox messages(desktop, [] { return nullptr; });
    bool whole = false;
    messages.answerer = [&](QWidget* box) {
        const auto* label = box->findChild<QLabel*>(u"qt_msgbox_label"_s);
        whole = label && label->height() < 2 * label->fontMetrics().height();
        static_cast<QDialog*>(box)->accept();
    };
    messages.showMessage(u"Help is not available: no index /srv/tess-sample/TS6/TS6SatchelHelp.xml"_s,
                         MessageIcon::Exclamation, u"TS Satchel"_s);
    QVERIFY(whole);
}

void TestWindows::viewerShowsEachEntry_data()
{
    QTest::addColumn<QString>("entry"); // as the archive names it
    QTest::addColumn<QString>("shown"); // in the tree
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("text"); // in the Entry pane
    QTest::addColumn<QString>("page"); // in the line under it
    QTest::addColumn<bool>("more");    // Next Page offered
    const auto row = [](const char* name, const QString& entry, const QString& shown, const QString& state,
                        const QString& text, const QString& page, bool more = false) {
        QTest::newRow(name) << entry << shown << state << text << page << more;
    };
    const QString mib = QLocale().toString(1 << 20);
    const QString intact = u"intact"_s;
    row("text in a folder", u"logs/app.log"_s, u"app.log"_s, intact, u"2026-12-04 08:00:00 started\n"_s,
        u"UTF-8 text, bytes 1–28 of 28"_s);
    row("damaged: shown as far as it reads", u"conf/broken.ini"_s, u"broken.ini"_s,
        u"damaged: CRC mismatch"_s, u"[Server]\nPort=8080\n"_s, u"read as far as it goes: CRC mismatch"_s);
    row("deep in folders, exactly one page", u"logs/archive/2026/12/04/ORDERS-SERVICE.LOG"_s,
        u"ORDERS-SERVICE.LOG"_s, intact, u"0123456789abcde"_s, u"bytes 1–%1 of %1"_s.arg(mib));
    row("UTF-16 after its BOM", u"conf/wide.ini"_s, u"wide.ini"_s, intact, u"[Server]\nKey=Wert\n"_s,
        u"UTF-16 LE text"_s);
    row("binary, in hex", u"data/blob.bin"_s, u"blob.bin"_s, intact,
        u"00000000  00 01 02 03 04 05 06 07  08 09"_s, u"binary, 256 bytes"_s);
    row("one byte past a page", u"big/past.txt"_s, u"past.txt"_s, intact, u"0123456789abcde"_s,
        u"bytes 1–%1 of "_s.arg(mib), true);
    row("control characters shown harmless", u"evil\x1b[2J\u202e.txt"_s, u"evil\u241b[2J\ufffd.txt"_s, intact,
        u"x"_s, u"1–1 of 1"_s);
    row("a name that steps out: whole, never followed", u"../escape.txt"_s, u"../escape.txt"_s,
        u"intact; unsafe name: \"..\" in its path"_s, u"out"_s, u"1–3 of 3"_s);
}

// The viewer streams the entry chosen into its Entry pane a page at a time, in its encoding or in
// hex, and says how far a damaged one reads.
void TestWindows::viewerShowsEachEntry()
{
    QFETCH(QString, entry);
    QFETCH(QString, state);
    QFETCH(QString, text);
    QFETCH(QString, page);
    QTemporaryDir dir;
    QString error;
    const std::unique_ptr<frmViewer> viewer = frmViewer::open(viewerPackage(dir), &error);
    QVERIFY2(viewer, qPrintable(error));
    viewer->resize(1100, 720); // as it opens on a screen of 1920 by 1080
    viewer->show();
    QVERIFY(QTest::qWaitForWindowExposed(viewer.get())); // laid out with the top level in view
    QVERIFY(viewer->selectEntry(entry));
    const auto* tree = viewer->findChild<QTreeView*>(u"treEntries"_s);
    const QModelIndex current = tree->currentIndex();
    QTEST(current.data().toString(), "shown");
    // Its name and size are shown whole: the columns fit the rows in view, once the tree is laid out.
    for (const int column : {0, 1}) {
        const QModelIndex cell = current.siblingAtColumn(column);
        QTRY_VERIFY2(tree->sizeHintForIndex(cell).width() <= tree->visualRect(cell).width(),
                     qPrintable(u"column %1: %2 of %3 pixels"_s.arg(column)
                                    .arg(tree->visualRect(cell).width())
                                    .arg(tree->sizeHintForIndex(cell).width())));
    }
    const QString stateShown = current.siblingAtColumn(3).data().toString();
    QVERIFY2(stateShown.startsWith(state), qPrintable(stateShown));
    const auto* view = viewer->findChild<QPlainTextEdit*>(u"txtEntry"_s);
    QVERIFY2(view->toPlainText().startsWith(text), qPrintable(view->toPlainText().left(80)));
    const QString pageShown = viewer->findChild<QLabel*>(u"lblPage"_s)->text();
    QVERIFY2(pageShown.contains(page), qPrintable(pageShown));
    auto* next = viewer->findChild<QPushButton*>(u"cmdNextPage"_s);
    QTEST(next->isEnabled(), "more");
    if (!next->isEnabled())
        return;
    QTest::mouseClick(next, Qt::LeftButton); // the byte past the page, which the page before left waiting
    QCOMPARE(view->toPlainText(), u"x"_s);
    QVERIFY(!next->isEnabled() && viewer->findChild<QPushButton*>(u"cmdPreviousPage"_s)->isEnabled());
}

// The tree holds every entry under its folders, and the filter narrows it to the names that match
// and the folders they are in; the package's damage is counted, and what it lacks is said.
void TestWindows::viewerFiltersAndTellsWhatThePackageLacks()
{
    QTemporaryDir dir;
    QString error;
    const std::unique_ptr<frmViewer> viewer = frmViewer::open(viewerPackage(dir), &error);
    QVERIFY2(viewer, qPrintable(error));
    const QAbstractItemModel* tree = viewer->findChild<QTreeView*>(u"treEntries"_s)->model();
    const auto names = [&](const QModelIndex& parent) {
        QStringList shown;
        for (int row = 0; row < tree->rowCount(parent); ++row)
            shown.append(tree->index(row, 0, parent).data().toString());
        return shown.join(u' ');
    };
    QCOMPARE(names({}), u"logs conf data big evil\u241b[2J\ufffd.txt ../escape.txt"_s);
    QCOMPARE(names(tree->index(3, 0)), u"page.txt past.txt"_s);
    QTest::keyClicks(viewer->findChild<QLineEdit*>(u"txtFilter"_s), u"PAST"_s);
    QCOMPARE(names({}), u"big"_s);
    QCOMPARE(names(tree->index(0, 0)), u"past.txt"_s);
    QCOMPARE(viewer->findChild<QLabel*>(u"lblStatus"_s)->text(),
             u"Damaged: 2 problems"_s); // the CRC, the name
    QCOMPARE(viewer->findChild<QLabel*>(u"lblMasking"_s)->text(), u"This package was not masked"_s);
    QVERIFY(!viewer->findChild<QTableView*>(u"tblMasking"_s)->isVisibleTo(viewer.get()));
    QCOMPARE(viewer->findChild<QLabel*>(u"lblManifestFields"_s)->text(),
             u"This package has no version manifest (TSVERSION.TXT)."_s);
}

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
