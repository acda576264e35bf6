// The windows as a person meets them, on Qt's offscreen platform: clicks and keys on the real
// grid view, the folder tree at start-up, a build through the save dialog, the progress window,
// the About box, the layout on resizing, dark themes and large fonts.
#include "app/ResizeForm.h"
#include "app/SatchelWindow.h"
#include "app/frmAbout.h"
#include "app/frmPacifier.h"
#include "components/RegisterDesktop.h"
#include "platform/qt/GridView.h"
#include "platform/qt/QtFolderTree.h"
#include "support/ArchiveCheck.h"
#include "support/Installation.h"
#include "support/TestEnvironment.h"

#include <QAccessible>
#include <QApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QTest>
#include <QTimer>

namespace {

using Settings = QList<std::pair<const char*, QString>>;

struct Harness
{
    TestEnvironment env;
    Desktop desktop{false};
    std::unique_ptr<SatchelWindow> window;
    QStringList messages;

    // A start with that command line and those stored settings; an interactive one opens the
    // window, and with no command line and no settings the grid shows the templates of C:\App.
    explicit Harness(const QString& commandLine = {}, const Settings& settings = {},
                     const std::function<void(TestEnvironment&)>& prepare = {})
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
        if (prepare)
            prepare(env);
        {
            QSettings ini(iniPath(), QSettings::IniFormat);
            for (const auto& [key, value] : settings)
                ini.setValue(QStringLiteral("Settings/") + QLatin1String(key), value);
        }
        RegisterDesktopComponents();
        window = std::make_unique<SatchelWindow>(desktop, commandLine);
        window->messageBox().answerer = [this](QWidget* box) {
            messages.append(static_cast<QMessageBox*>(box)->text());
            QVERIFY(!box->windowHandle()->icon().isNull());
            static_cast<QMessageBox*>(box)->accept();
        };
        window->controller().Form_Load();
        if (window->controller().Unloaded())
            return;
        const bool openApp = commandLine.isEmpty() && settings.isEmpty();
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

    QString iniPath() const
    {
        return env.configHome() + QStringLiteral("/Norvale/TS6/") +
               QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName() + QStringLiteral(".ini");
    }
    QString stored(const char* key) const
    {
        return QSettings(iniPath(), QSettings::IniFormat)
            .value(QStringLiteral("Settings/") + QLatin1String(key))
            .toString();
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
        return {QStringLiteral("window not active")};
    first->setFocus(Qt::TabFocusReason);
    QStringList names{QApplication::focusWidget()->objectName()};
    for (int i = 0; i < steps && QApplication::focusWidget(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        names.append(QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString());
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
    void indicatorOnlyExpandsOrCollapses();
    void startsThatSelectNoFolderKeepLastFolder_data();
    void startsThatSelectNoFolderKeepLastFolder();
    void lastFolderDeepInTheTreeIsShown();
    void buildThroughTheSaveDialog();
    void progressWindowIsCentredAndOnlyTheBuildClosesIt();
    void aboutBoxWorksWithMouseAndKeyboard();
    void windowsReadInAnyTheme_data();
    void windowsReadInAnyTheme();
    void layoutFollowsTheWindowFromTheStart();
};

void TestWindows::clicksAndKeysOnTheGridFollowTheRules()
{
    Harness h;
    QCOMPARE(h.view().isColumnHidden(2), true);
    h.click("1-V1-POPUP");
    QCOMPARE(h.picture("1-V1-POPUP"), 3);
    QCOMPARE(h.picture("1-POPUPFILES"), 2);
    QCOMPARE(h.picture("1-TEMPLATEFILE"), 2);
    QCOMPARE(h.picture(nullptr), 1);
    h.space("1-POPUPFILES"); // partly included: excludes the group and its rows
    QCOMPARE(h.picture("1-V2-POPUP"), 3);
    h.click("2-TEMPLATEFILE", 0, Qt::RightButton); // any button acts
    QCOMPARE(h.picture("2-TSD"), 3);
    QCOMPARE(h.picture(nullptr), 2);
    h.click("1-TSD", 1); // the file name column changes nothing
    QCOMPARE(h.picture("1-TSD"), 1);
    h.click("1-TVM-ORDERS.TVM6.V1");
    h.space("1-TVM-ORDERS.TVM6.V1");
    QCOMPARE(h.messages, QStringList(2, QStringLiteral("You cannot select individual Views!")));
    QCOMPARE(h.picture("1-TVM-ORDERS.TVM6.V1"), 1);
    h.space("2-TEMPLATEFILE");
    QCOMPARE(h.picture("2-TSD"), 1);
    h.click(nullptr);
    QCOMPARE(h.picture("1-TSD"), 3);
    QCOMPARE(h.picture("2-TSD"), 3);

    // The view shows the grid's pictures; assistive tools read the same state as a check state.
    GridItemModel& model = h.view().gridModel();
    const QVariant shown = model.data(model.indexOf(h.node("1-TSD")), Qt::DecorationRole);
    QCOMPARE(shown.value<QPixmap>().toImage(), GridItemModel::picture(3).toImage());
    QVERIFY(!GridItemModel::picture(1).isNull() && GridItemModel::picture(1).size() == QSize(13, 13));
    h.click("1-V1-POPUP");
    QAccessibleInterface* grid = QAccessible::queryAccessibleInterface(&h.view());
    QVERIFY(grid && grid->tableInterface());
    const auto cell = [&](const QString& text) {
        QAccessibleTableInterface* table = grid->tableInterface();
        for (int r = 0; r < table->rowCount(); ++r)
            if (QAccessibleInterface* c = table->cellAt(r, 0); c && c->text(QAccessible::Name) == text)
                return c;
        return static_cast<QAccessibleInterface*>(nullptr);
    };
    const auto state = [&](const QString& text) { return cell(text)->state(); };
    const auto description = [&](const QString& text) { return cell(text)->text(QAccessible::Description); };
    QVERIFY(state(QStringLiteral("V1-A")).checkable && state(QStringLiteral("V1-A")).checked);
    QCOMPARE(description(QStringLiteral("Orders")), QStringLiteral("partly included"));
    QVERIFY(state(QStringLiteral("Stock")).checkable && !state(QStringLiteral("Stock")).checked);

    // The keyboard reaches every control.
    QCOMPARE(
        focusChain(&h.window->folderTree(), 4),
        (QStringList{QStringLiteral("lstFolders"), QStringLiteral("grdfiles"), QStringLiteral("cmdBuild"),
                     QStringLiteral("cmdClose"), QStringLiteral("lstFolders")}));
}

void TestWindows::indicatorOnlyExpandsOrCollapses()
{
    Harness h;
    const GridNode templateRow = h.node("1-TEMPLATEFILE");
    const QModelIndex index = h.view().gridModel().indexOf(templateRow);
    QVERIFY(h.view().isExpanded(index));
    const QRect rect = h.cell(templateRow);
    QTest::mouseClick(h.view().viewport(), Qt::LeftButton, {},
                      QPoint(rect.left() - h.view().indentation() / 2, rect.center().y()));
    QVERIFY(!h.view().isExpanded(index));
    QCOMPARE(h.picture("1-TEMPLATEFILE"), 1);
}

void TestWindows::startsThatSelectNoFolderKeepLastFolder_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<QString>("lastFolder");
    QTest::addColumn<QString>("windowState");
    QTest::newRow("template not found") << "\"C:\\App\\NONE.TST6\""
                                        << "C:\\App"
                                        << "0";
    QTest::newRow("folder without templates") << "\"C:\\Empty\\\""
                                              << "C:\\App"
                                              << "0";
    QTest::newRow("LastFolder missing") << ""
                                        << "C:\\Gone"
                                        << "0";
    QTest::newRow("start-up error") << ""
                                    << "C:\\App"
                                    << "5";
}

void TestWindows::startsThatSelectNoFolderKeepLastFolder()
{
    QFETCH(QString, commandLine);
    QFETCH(QString, lastFolder);
    QFETCH(QString, windowState);
    Harness h(commandLine, {{"LastFolder", lastFolder}, {"WindowState", windowState}});
    QtFolderTree& tree = h.window->folderTree();
    tree.setFocus(Qt::TabFocusReason); // Qt gives the tree a current row, which selects nothing
    QVERIFY(tree.hasFocus() && tree.currentIndex().isValid());
    QCoreApplication::processEvents();
    QVERIFY(tree.SelectedFolderPath().isEmpty());
    QCOMPARE(h.grid().Rows(), 1);
    for (const QString& entry : h.env.traceEntries())
        QVERIFY2(!entry.contains(QLatin1String("Clicked on folder")), qPrintable(entry));
    QTest::mouseClick(h.window->findChild<QPushButton*>(QStringLiteral("cmdClose")), Qt::LeftButton);
    QCOMPARE(h.stored("LastFolder"), lastFolder);
}

void TestWindows::lastFolderDeepInTheTreeIsShown()
{
    // Many folders sort before it in its own folder, and they load only after the start.
    Harness h({}, {{"LastFolder", QStringLiteral("C:\\Deep\\a\\b\\c\\d\\zz")}}, [](TestEnvironment& env) {
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
    h.window->saveDialog().answerer = [](QWidget* w) { static_cast<QDialog*>(w)->reject(); };
    h.window->controller().cmdBuild_Click();
    QVERIFY(QDir(h.env.driveC() + QStringLiteral("/Out"))
                .isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    QVERIFY(h.messages.isEmpty());

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

void TestWindows::progressWindowIsCentredAndOnlyTheBuildClosesIt()
{
    frmPacifier pacifier;
    pacifier.Show();
    QVERIFY(pacifier.isVisible());
    QVERIFY(pacifier.windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(pacifier.windowTitle(), QStringLiteral("TS Satchel"));
    QVERIFY(!pacifier.findChild<QLabel*>(QStringLiteral("Image1"))->pixmap().isNull());
    // The whole window is centred, its frame included (the offscreen platform frames windows too).
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
    pacifier.SetStatus(QStringLiteral("Adding logs"));
    QCOMPARE(pacifier.statusText(), QStringLiteral("Adding logs"));
    pacifier.Close();
    QVERIFY(!pacifier.isVisible());
    QVERIFY(!(pacifier.windowFlags() & Qt::WindowStaysOnTopHint));
}

void TestWindows::aboutBoxWorksWithMouseAndKeyboard()
{
    QStringList opened;
    frmAbout about(nullptr, [&](const QString& what) {
        opened.append(what);
        return true;
    });
    QCOMPARE(about.windowTitle(), QStringLiteral("About"));
    QCOMPARE(about.findChild<QLabel*>(QStringLiteral("lblVersion"))->text(), QStringLiteral("6.1 Build 400"));
    QCOMPARE(about.findChild<QLabel*>(QStringLiteral("lblAppTitle"))->text(), QStringLiteral("TS6Satchel"));
    QVERIFY(about.findChild<QLabel*>(QStringLiteral("lblCompanyInfo"))
                ->text()
                .startsWith(QLatin1String("Norvale \r\n")));
    // A fixed dialog frame: no minimise or maximise button, no resizing.
    QVERIFY(about.windowFlags() & Qt::CustomizeWindowHint);
    QVERIFY(!(about.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    about.show();
    QVERIFY(QTest::qWaitForWindowActive(&about));
    QCOMPARE(about.minimumSize(), about.maximumSize());

    auto* website = about.findChild<QLabel*>(QStringLiteral("lblWebsite"));
    QTest::mouseClick(website, Qt::LeftButton, {}, QPoint(website->width() - 8, website->height() / 2));
    QCOMPARE(
        focusChain(about.findChild<QPushButton*>(QStringLiteral("cmdOk")), 2),
        (QStringList{QStringLiteral("cmdOk"), QStringLiteral("lblWebsite"), QStringLiteral("lblEmail")}));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QVERIFY(about.isVisible()); // Enter on a link opens the link, not the OK button
    const QString mailto =
        QStringLiteral("mailto:") + frmAbout::Email + QStringLiteral("?Subject=TS6Satchel&Body=");
    QCOMPARE(opened, (QStringList{frmAbout::Website, mailto}));
    QCOMPARE(frmAbout::MailtoText(QStringLiteral("a@b"), QStringLiteral("Two Words")),
             QStringLiteral("mailto:a@b?Subject=Two Words&Body="));
    QTest::mouseClick(about.findChild<QPushButton*>(QStringLiteral("cmdOk")), Qt::LeftButton);
    QVERIFY(!about.isVisible());
}

void TestWindows::windowsReadInAnyTheme_data()
{
    QTest::addColumn<bool>("dark");
    QTest::addColumn<int>("pointSize"); // 0: the desktop's
    QTest::newRow("desktop's theme") << false << 0;
    QTest::newRow("dark palette") << true << 0;
    QTest::newRow("11 pt font") << false << 11;
    QTest::newRow("dark palette, 14 pt font") << true << 14;
}

void TestWindows::windowsReadInAnyTheme()
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
    frmPacifier pacifier;
    pacifier.Show();
    pacifier.SetStatus(QStringLiteral("Adding C:\\TESSARINE\\DATA\\ORDERS.LOG"));
    frmAbout about(nullptr);
    about.show();
    for (QWidget* window : std::initializer_list<QWidget*>{&pacifier, &about})
        for (QLabel* label : window->findChildren<QLabel*>()) {
            if (label->text().isEmpty())
                continue;
            // Its text shows: some of it stands out from the window's white.
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
}

void TestWindows::layoutFollowsTheWindowFromTheStart()
{
    Harness h({}, {{"LastFolder", QStringLiteral("C:\\App")}}); // the default placement, 800 by 600
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
    h.view().expandAll();
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

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
