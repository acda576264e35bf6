// The windows as a person meets them, on Qt's offscreen platform: clicks and keys on the real
// grid view, the folder tree at start-up, a build through the save dialog, the progress window,
// the About box, the layout on resizing, dark themes and large fonts.
#include "app/SatchelWindow.h"
#include "app/frmAbout.h"
#include "app/frmOptions.h"
#include "app/frmPacifier.h"
#include "controller/ResizeForm.h"
#include "platform/qt/GridView.h"
#include "platform/qt/QtFolderTree.h"
#include "platform/qt/RegisterDesktop.h"
#include "settings/AppConfig.h"
#include "support/ArchiveCheck.h"
#include "support/Installation.h"
#include "support/TestEnvironment.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

namespace {

struct Harness
{
    TestEnvironment env;
    Desktop desktop{false};
    std::unique_ptr<SatchelWindow> window;
    QStringList messages;

    // A start with that command line, after the given preparation of settings and files; an
    // interactive one opens the window. With neither, the grid shows C:\App, every row expanded.
    explicit Harness(const QString& commandLine = {},
                     const std::function<void(AppConfig&, TestEnvironment&)>& before = {})
    {
        TemplateSpec orders;
        orders.title = QStringLiteral("Orders");
        orders.fields = {
            {QStringLiteral("A"), QStringLiteral("P"), QStringLiteral("C:\\App\\A.TPT"), {}, {}, {}},
            {QStringLiteral("B"), QStringLiteral("P"), QStringLiteral("C:\\App\\B.TPT"), {}, {}, {}}};
        orders.views = {{QStringLiteral("Summary"), 1}};
        env.write(QStringLiteral("c/App/ORDERS.TST6"), TemplateToml(orders));
        for (const char* f : {"c/App/ORDERS.TSD6", "c/App/A.TPT", "c/App/B.TPT", "c/App/ORDERS.TVM6.V1"})
            env.write(QString::fromLatin1(f));
        TemplateSpec stock;
        stock.title = QStringLiteral("Stock");
        env.write(QStringLiteral("c/App/STOCK.TST"), TemplateToml(stock));
        env.write(QStringLiteral("c/App/STOCK.TSD"));
        env.makeFolder(QStringLiteral("c/Out"));
        env.makeFolder(QStringLiteral("c/Empty"));
        RegisterDesktopComponents();
        window = std::make_unique<SatchelWindow>(desktop, commandLine);
        window->messageBox().answerer = [this](QWidget* box) {
            messages.append(static_cast<QMessageBox*>(box)->text());
            QVERIFY(!box->windowHandle()->icon().isNull());
            static_cast<QMessageBox*>(box)->accept();
        };
        if (before)
            before(window->controller().Config(), env);
        window->controller().Form_Load();
        const bool openApp = commandLine.isEmpty() && !before;
        if (openApp) {
            window->folderTree().SelectFolder(QStringLiteral("C:\\App"), 0, true);
            window->resize(1000, 700);
        }
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        view().gridModel().flush();
        if (openApp)
            view().expandAll();
    }

    GridView& view() { return window->gridView(); }
    OutlineGrid& grid() { return window->grid(); }
    GridNode node(const char* key)
    {
        return key ? grid().NodeByKey(QString::fromLatin1(key)) : grid().NodeOfRow(1);
    }
    int picture(const char* key) { return grid().NodePicture(node(key)); }

    QRect cell(GridNode n, int column = 0)
    {
        const QModelIndex index = view().gridModel().indexOf(n, column);
        view().scrollTo(index);
        return view().visualRect(index);
    }

    void click(const char* key, int column = 0, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mouseClick(view().viewport(), button, {}, cell(node(key), column).center());
    }

    // Space on the row, which the keyboard made current.
    void space(const char* key)
    {
        view().setCurrentIndex(view().gridModel().indexOf(node(key)));
        QTest::keyClick(&view(), Qt::Key_Space);
    }
};

// The controls that the keyboard's focus visits, from the first on, Tab after Tab.
QStringList focusChain(QWidget* first, int steps)
{
    first->window()->activateWindow();
    if (!QTest::qWaitForWindowActive(first->window()))
        return {};
    first->setFocus(Qt::TabFocusReason);
    QStringList names{QApplication::focusWidget()->objectName()};
    for (int i = 0; i < steps; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        names.append(QApplication::focusWidget()->objectName());
    }
    return names;
}

} // namespace

class TestWindows : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { Q_INIT_RESOURCE(resources); }
    void clicksAndKeysOnTheGridFollowTheRules();
    void startsThatSelectNoFolderKeepLastFolder_data();
    void startsThatSelectNoFolderKeepLastFolder();
    void lastFolderDeepInTheTreeIsShown();
    void buildThroughTheSaveDialog();
    void optionsThroughTheFileMenu();
    void smallWindowsInAnyTheme_data();
    void smallWindowsInAnyTheme();
    void layoutFollowsTheWindowFromTheStart();
    void centredOverTheOwner();
};

void TestWindows::clicksAndKeysOnTheGridFollowTheRules()
{
    // The view hands the rules the row and column under the mouse, or the current row for Space;
    // the rules themselves are tested without a display.
    Harness h;
    QCOMPARE(h.view().isColumnHidden(2), true);
    h.click("1-V1-POPUP");
    QCOMPARE(h.picture("1-POPUPFILES"), 2);
    h.space("1-POPUPFILES"); // partly included: excludes the group and its rows
    QCOMPARE(h.picture("1-V2-POPUP"), 3);
    h.click("2-TEMPLATEFILE", 0, Qt::RightButton); // any button acts
    QCOMPARE(h.picture("2-TSD"), 3);
    h.click("1-TSD", 1); // the file name column changes nothing
    QCOMPARE(h.picture("1-TSD"), 1);
    h.click("1-TVM-ORDERS.TVM6.V1");
    h.space("1-TVM-ORDERS.TVM6.V1");
    QCOMPARE(h.messages, QStringList(2, QStringLiteral("You cannot select individual Views!")));
    const QRect rect = h.cell(h.node("2-TEMPLATEFILE")); // its expand/collapse indicator only collapses
    QTest::mouseClick(h.view().viewport(), Qt::LeftButton, {},
                      QPoint(rect.left() - h.view().indentation() / 2, rect.center().y()));
    QVERIFY(!h.view().isExpanded(h.view().gridModel().indexOf(h.node("2-TEMPLATEFILE"))));
    QCOMPARE(h.picture("2-TEMPLATEFILE"), 3);

    // The view shows the grid's pictures; assistive tools read each row's state.
    GridItemModel& model = h.view().gridModel();
    const QVariant shown = model.data(model.indexOf(h.node("1-V2-POPUP")), Qt::DecorationRole);
    QCOMPARE(shown.value<QPixmap>().toImage(), GridItemModel::picture(3).toImage());
    QVERIFY(GridItemModel::picture(1).size() == QSize(13, 13));
    QAccessibleInterface* grid = QAccessible::queryAccessibleInterface(&h.view());
    QCOMPARE(grid->text(QAccessible::Name), QStringLiteral("Files"));
    QStringList states;
    for (int r = 0; r < grid->tableInterface()->rowCount(); ++r)
        if (QAccessibleInterface* cell = grid->tableInterface()->cellAt(r, 0))
            states.append(cell->text(QAccessible::Name) + QLatin1Char(' ') +
                          QString::number(cell->state().checked) + QLatin1Char(' ') +
                          cell->text(QAccessible::Description));
    QCOMPARE(states.mid(1, 3), (QStringList{QStringLiteral("Orders 0 partly included"),
                                            QStringLiteral("Tessarine Data File 1 included"),
                                            QStringLiteral("Popup Files 0 excluded")}));

    // The keyboard reaches every control.
    QCOMPARE(
        focusChain(&h.window->folderTree(), 4),
        (QStringList{QStringLiteral("lstFolders"), QStringLiteral("grdfiles"), QStringLiteral("cmdBuild"),
                     QStringLiteral("cmdClose"), QStringLiteral("lstFolders")}));
}

void TestWindows::startsThatSelectNoFolderKeepLastFolder_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<QString>("lastFolder");
    QTest::addColumn<int>("windowState");
    QTest::newRow("template not found") << "\"C:\\App\\NONE.TST6\""
                                        << "C:\\App" << 0;
    QTest::newRow("folder without templates") << "\"C:\\Empty\\\""
                                              << "C:\\App" << 0;
    QTest::newRow("LastFolder missing") << ""
                                        << "C:\\Gone" << 0;
    QTest::newRow("start-up error") << ""
                                    << "C:\\App" << 5;
}

void TestWindows::startsThatSelectNoFolderKeepLastFolder()
{
    QFETCH(QString, commandLine);
    QFETCH(QString, lastFolder);
    QFETCH(int, windowState);
    Harness h(commandLine, [&](AppConfig& config, TestEnvironment&) {
        config.SetLastFolder(lastFolder);
        config.SetWindowState(windowState);
    });
    QtFolderTree& tree = h.window->folderTree();
    tree.setFocus(Qt::TabFocusReason); // Qt gives the tree a current row, which selects nothing
    QVERIFY(tree.hasFocus() && tree.currentIndex().isValid());
    QCoreApplication::processEvents();
    QVERIFY(tree.SelectedFolderPath().isEmpty());
    QCOMPARE(h.grid().Rows(), 1);
    QTest::mouseClick(h.window->findChild<QPushButton*>(QStringLiteral("cmdClose")), Qt::LeftButton);
    QCOMPARE(h.window->controller().Config().LastFolder(), lastFolder);
}

void TestWindows::lastFolderDeepInTheTreeIsShown()
{
    // Many folders sort before it in its own folder, and they load only after the start.
    Harness h({}, [](AppConfig& config, TestEnvironment& env) {
        config.SetLastFolder(QStringLiteral("C:\\Deep\\a\\b\\c\\d\\zz"));
        for (int i = 0; i < 60; ++i)
            env.makeFolder(QStringLiteral("c/Deep/a/b/c/d/f%1").arg(i, 2, 10, QLatin1Char('0')));
        env.makeFolder(QStringLiteral("c/Deep/a/b/c/d/zz"));
    });
    QtFolderTree& tree = h.window->folderTree();
    QCOMPARE(tree.SelectedFolderPath(), QStringLiteral("C:\\Deep\\a\\b\\c\\d\\zz"));
    const QPersistentModelIndex folder = tree.currentIndex();
    QVERIFY(folder.isValid());
    QTRY_VERIFY_WITH_TIMEOUT(folder.row() == 60 && tree.viewport()->rect().contains(tree.visualRect(folder)),
                             30000);
}

void TestWindows::buildThroughTheSaveDialog()
{
    Harness h;
    // During a build the progress window is up, on top, with the program's icon, and gone at the end.
    bool seenOnTop = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == QLatin1String("frmPacifier") && w->isVisible())
                seenOnTop = seenOnTop || ((w->windowFlags() & Qt::WindowStaysOnTopHint) &&
                                          !w->windowHandle()->icon().isNull());
    });
    watch.start(0);
    h.click("1-V2-POPUP");
    const QString chosen = h.env.driveC() + QStringLiteral("/Out/package");
    h.window->saveDialog().answerer = [&](QWidget* w) {
        auto* dialog = static_cast<QFileDialog*>(w);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Save Tessarine Package File As..."));
        QVERIFY(dialog->selectedFiles().constFirst().startsWith(h.env.driveC() +
                                                                QStringLiteral("/App/TSSatchelage")));
        QVERIFY(!dialog->windowHandle()->icon().isNull());
        dialog->selectFile(chosen);
        static_cast<QDialog*>(dialog)->accept();
    };
    QTest::mouseClick(h.window->findChild<QPushButton*>(QStringLiteral("cmdBuild")), Qt::LeftButton);
    watch.stop();
    QVERIFY(seenOnTop);
    for (QWidget* w : QApplication::topLevelWidgets())
        QVERIFY(!(w->objectName() == QLatin1String("frmPacifier") && w->isVisible()));
    const ArchiveReport report = CheckArchive(chosen + QStringLiteral(".ZIP"));
    QVERIFY2(report.valid(), qPrintable(report.details));
    QVERIFY(report.names.contains(QStringLiteral("C/App/A.TPT")));
    QVERIFY(!report.names.contains(QStringLiteral("C/App/B.TPT")));
    QCOMPARE(h.messages.size(), 1);
    QVERIFY(
        h.messages.first().endsWith(QStringLiteral("\r\n") + chosen + QStringLiteral(".ZIP"))); // host path
}

// File > Options: the dialog, with the program's icon, shows the options kept; a limit can be set
// once its box is checked; OK keeps what was chosen.
void TestWindows::optionsThroughTheFileMenu()
{
    Harness h;
    QStringList seen;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<frmOptions*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        auto* days = dialog->findChild<QSpinBox*>(QStringLiteral("spnLogAge"));
        seen << QString::number(dialog->windowHandle()->icon().isNull())
             << QString::number(days->isEnabled());
        QTest::mouseClick(dialog->findChild<QCheckBox*>(QStringLiteral("chkMaskSecrets")), Qt::LeftButton);
        QTest::mouseClick(dialog->findChild<QCheckBox*>(QStringLiteral("chkLogAge")), Qt::LeftButton);
        seen << QString::number(days->isEnabled()) << days->accessibleName();
        days->setValue(7);
        QTest::keyClick(dialog, Qt::Key_Return);
    });
    h.window->findChild<QAction*>(QStringLiteral("mnuFileOptions"))->trigger();
    QCOMPARE(seen, (QStringList{QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("1"),
                                QStringLiteral("Oldest log files to pack, in days")}));
    QCOMPARE(ReadSavedOptions(h.window->controller().Config()), (SavedPackageOptions{true, 7, std::nullopt}));
}

void TestWindows::smallWindowsInAnyTheme_data()
{
    QTest::addColumn<bool>("dark");
    QTest::addColumn<int>("pointSize"); // 0: the desktop's
    QTest::newRow("desktop's theme") << false << 0;
    QTest::newRow("dark palette") << true << 0;
    QTest::newRow("11 pt font") << false << 11;
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
        QPalette night = palette;
        for (const auto role : {QPalette::Window, QPalette::Base, QPalette::Button})
            night.setColor(role, QColor(0x35, 0x35, 0x35));
        for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            night.setColor(role, QColor(0xee, 0xee, 0xee));
        night.setColor(QPalette::Link, QColor(0x8a, 0xc4, 0xff));
        QApplication::setPalette(night);
    }
    if (pointSize > 0) {
        QFont large = font;
        large.setPointSize(pointSize);
        QApplication::setFont(large);
    }

    // The progress window: on top, centred with its frame (the offscreen platform frames windows
    // too), closed by the build alone.
    frmPacifier pacifier;
    pacifier.Show();
    pacifier.SetStatus(QStringLiteral("Adding C:\\TESSARINE\\DATA\\ORDERS.LOG"));
    QVERIFY(pacifier.windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(!pacifier.findChild<QLabel*>(QStringLiteral("Image1"))->pixmap().isNull());
    const QtScreen screen;
    const QRect frame = pacifier.frameGeometry();
    QVERIFY(frame.size() != pacifier.size());
    const auto centred = [](double screenTwips, int pixels, double perPixel) {
        return qRound(CenterOnScreenCoordinate(screenTwips, pixels * perPixel) / perPixel);
    };
    QCOMPARE(frame.left(), centred(screen.WidthTwips(), frame.width(), screen.TwipsPerPixelX()));
    QCOMPARE(frame.top(), centred(screen.HeightTwips(), frame.height(), screen.TwipsPerPixelY()));
    QTest::keyClick(&pacifier, Qt::Key_Escape);
    pacifier.close();
    QVERIFY(pacifier.isVisible());

    // The About box: a fixed frame, no minimise or maximise button; links by mouse and keyboard.
    QStringList opened;
    frmAbout about(nullptr, [&](const QString& what) {
        opened.append(what);
        return true;
    });
    QVERIFY(about.windowFlags() & Qt::CustomizeWindowHint);
    QVERIFY(!(about.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    about.show();
    QVERIFY(QTest::qWaitForWindowActive(&about));
    QCOMPARE(about.minimumSize(), about.maximumSize());
    QCOMPARE(about.findChild<QLabel*>(QStringLiteral("lblVersion"))->text(), QStringLiteral("6.1 Build 400"));
    auto* website = about.findChild<QLabel*>(QStringLiteral("lblWebsite"));
    QTest::mouseClick(website, Qt::LeftButton, {}, QPoint(website->width() - 8, website->height() / 2));
    QCOMPARE(
        focusChain(about.findChild<QPushButton*>(QStringLiteral("cmdOk")), 2),
        (QStringList{QStringLiteral("cmdOk"), QStringLiteral("lblWebsite"), QStringLiteral("lblEmail")}));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); // opens the link, not the OK button
    QCOMPARE(opened, (QStringList{frmAbout::Website, QStringLiteral("mailto:") + frmAbout::Email +
                                                         QStringLiteral("?Subject=TS6Satchel&Body=")}));

    // Every text can be read on the white of both windows, and has the room it needs.
    for (QWidget* window : std::initializer_list<QWidget*>{&pacifier, &about})
        for (QLabel* label : window->findChildren<QLabel*>()) {
            if (label->text().isEmpty())
                continue;
            const QImage image = label->grab().toImage();
            int contrast = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    contrast = std::max(contrast, 255 - QColor(image.pixel(x, y)).lightness());
            QVERIFY2(contrast > 100, qPrintable(label->objectName()));
            const int needed =
                label->wordWrap() ? label->heightForWidth(label->width()) : label->sizeHint().height();
            QVERIFY2(needed <= label->height(), qPrintable(label->objectName()));
            QVERIFY2(label->wordWrap() || label->sizeHint().width() <= label->width(),
                     qPrintable(label->objectName()));
        }
    QTest::mouseClick(about.findChild<QPushButton*>(QStringLiteral("cmdOk")), Qt::LeftButton);
    QVERIFY(!about.isVisible());
    pacifier.Close();
    QVERIFY(!pacifier.isVisible() && !(pacifier.windowFlags() & Qt::WindowStaysOnTopHint));
}

void TestWindows::layoutFollowsTheWindowFromTheStart()
{
    // The default placement, 800 by 600.
    Harness h({},
              [](AppConfig& config, TestEnvironment&) { config.SetLastFolder(QStringLiteral("C:\\App")); });
    // The restored placement is laid out inside the start-up, before the window shows.
    const QStringList trace = h.env.traceEntries();
    const auto at = [&](const char* what) { return trace.indexOf(QRegularExpression(QLatin1String(what))); };
    QVERIFY(at("START: frmSatchel, Form_Load .*") < at("LOG: frmSatchel, Resize_Form, Start"));
    QVERIFY(at("LOG: frmSatchel, Resize_Form, Start") < at("END: frmSatchel, Form_Load .*"));
    auto* title = h.window->findChild<QLabel*>(QStringLiteral("AppTitleLabel"));
    auto* header = h.window->findChild<QLabel*>(QStringLiteral("HeaderPicture"));
    QCOMPARE(title->text(), QStringLiteral("TS6Satchel"));
    QCOMPARE(title->geometry().right(), header->contentsRect().right());
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
    auto* buttons = h.window->findChild<QWidget*>(QStringLiteral("ButtonContainer"));
    QCOMPARE(buttons->geometry().right() + 1, h.window->centralWidget()->width());
}

void TestWindows::centredOverTheOwner()
{
    QCOMPARE(CenterOver(QRect(100, 50, 800, 600), QRect(0, 0, 400, 300)), QPoint(300, 200));
    QCOMPARE(CenterOver(QRect(0, 0, 801, 601), QRect(0, 0, 400, 300)),
             QPoint(200, 150)); // 200.5, 150.5 to even
    QCOMPARE(CenterOver(QRect(0, 0, 803, 603), QRect(0, 0, 400, 300)),
             QPoint(202, 152)); // 201.5, 151.5 to even
    QCOMPARE(CenterOver(QRect(0, 0, 100, 100), QRect(0, 0, 400, 300)), QPoint(-150, -100));
}

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
