// The windows as a person meets them, on Qt's offscreen platform: clicks on the real grid view,
// a build through the save dialog, the progress window, the About box, the layout on resizing.
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

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

struct Harness
{
    TestEnvironment env;
    Desktop desktop{false};
    std::unique_ptr<SatchelWindow> window;
    QStringList messages;

    Harness()
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
        RegisterDesktopComponents();
        window = std::make_unique<SatchelWindow>(desktop, QString());
        window->messageBox().answerer = [this](QWidget* box) {
            messages.append(static_cast<QMessageBox*>(box)->text());
            static_cast<QMessageBox*>(box)->accept();
        };
        window->controller().Form_Load();
        window->folderTree().SelectFolder(QStringLiteral("C:\\App"), 0, true);
        window->resize(1000, 700);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        view().gridModel().flush();
        view().expandAll();
    }

    GridView& view() { return window->gridView(); }
    OutlineGrid& grid() { return window->grid(); }
    GridNode node(const char* key) { return grid().NodeByKey(QString::fromLatin1(key)); }
    int picture(const char* key)
    {
        return key ? grid().NodePicture(node(key)) : grid().NodePicture(grid().NodeOfRow(1));
    }

    QRect cell(GridNode n, int column = 0)
    {
        const QModelIndex index = view().gridModel().indexOf(n, column);
        view().scrollTo(index);
        return view().visualRect(index);
    }

    void click(const char* key, int column = 0, Qt::MouseButton button = Qt::LeftButton)
    {
        const GridNode n = key ? node(key) : grid().NodeOfRow(1);
        QTest::mouseClick(view().viewport(), button, {}, cell(n, column).center());
    }
};

} // namespace

class TestWindows : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { Q_INIT_RESOURCE(resources); }
    void clicksOnTheGridFollowTheRules();
    void indicatorOnlyExpandsOrCollapses();
    void buildThroughTheSaveDialog();
    void cancelledSaveDialogWritesNothing();
    void progressWindowIsTopmostAndCentred();
    void aboutBoxShowsTheProjectVersion();
    void titleStaysAfterNarrowing();
};

void TestWindows::clicksOnTheGridFollowTheRules()
{
    Harness h;
    QCOMPARE(h.view().isColumnHidden(2), true);
    h.click("1-V1-POPUP");
    QCOMPARE(h.picture("1-V1-POPUP"), 3);
    QCOMPARE(h.picture("1-POPUPFILES"), 2);
    QCOMPARE(h.picture("1-TEMPLATEFILE"), 2);
    QCOMPARE(h.picture(nullptr), 1);
    h.click("1-POPUPFILES"); // partly included: excludes the group and its rows
    QCOMPARE(h.picture("1-V2-POPUP"), 3);
    h.click("2-TEMPLATEFILE", 0, Qt::RightButton); // any button acts
    QCOMPARE(h.picture("2-TSD"), 3);
    QCOMPARE(h.picture(nullptr), 2);
    h.click("1-TSD", 1); // the file name column changes nothing
    QCOMPARE(h.picture("1-TSD"), 1);
    h.click("1-TVM-ORDERS.TVM6.V1");
    QCOMPARE(h.messages, QStringList{QStringLiteral("You cannot select individual Views!")});
    QCOMPARE(h.picture("1-TVM-ORDERS.TVM6.V1"), 1);
    h.click(nullptr);
    QCOMPARE(h.picture("1-TSD"), 3);
    QCOMPARE(h.picture("2-TSD"), 3);
    // The view shows the pictures the grid holds.
    const QVariant shown =
        h.view().gridModel().data(h.view().gridModel().indexOf(h.node("1-TSD")), Qt::DecorationRole);
    QCOMPARE(shown.value<QPixmap>().toImage(), GridItemModel::picture(3).toImage());
    QVERIFY(!GridItemModel::picture(1).isNull() && GridItemModel::picture(1).size() == QSize(13, 13));
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

void TestWindows::buildThroughTheSaveDialog()
{
    Harness h;
    h.click("1-V2-POPUP");
    const QString chosen = h.env.driveC() + QStringLiteral("/Out/package");
    h.window->saveDialog().answerer = [&](QWidget* w) {
        auto* dialog = static_cast<QFileDialog*>(w);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Save Tessarine Package File As..."));
        QVERIFY(dialog->selectedFiles().constFirst().startsWith(h.env.driveC() +
                                                                QStringLiteral("/App/TSSatchelage")));
        dialog->selectFile(chosen);
        static_cast<QDialog*>(dialog)->accept();
    };
    QTest::mouseClick(h.window->findChild<QPushButton*>(QStringLiteral("cmdBuild")), Qt::LeftButton);
    const ArchiveReport report = CheckArchive(chosen + QStringLiteral(".ZIP"));
    QVERIFY2(report.valid(), qPrintable(report.details));
    QVERIFY(report.names.contains(QStringLiteral("C/App/A.TPT")));
    QVERIFY(!report.names.contains(QStringLiteral("C/App/B.TPT")));
    QCOMPARE(h.messages.size(), 1);
    QVERIFY(
        h.messages.first().endsWith(QStringLiteral("\r\n") + chosen + QStringLiteral(".ZIP"))); // a host path
}

void TestWindows::cancelledSaveDialogWritesNothing()
{
    Harness h;
    h.window->saveDialog().answerer = [](QWidget* w) { static_cast<QDialog*>(w)->reject(); };
    h.window->controller().cmdBuild_Click();
    QVERIFY(QDir(h.env.driveC() + QStringLiteral("/Out"))
                .isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    QVERIFY(h.messages.isEmpty());
}

void TestWindows::progressWindowIsTopmostAndCentred()
{
    frmPacifier pacifier;
    pacifier.Show();
    QVERIFY(pacifier.isVisible());
    QVERIFY(pacifier.windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(pacifier.windowTitle(), QStringLiteral("TS Satchel"));
    const QtScreen screen;
    const int left =
        CenterOnScreenCoordinate(screen.WidthTwips(), pacifier.width() * screen.TwipsPerPixelX());
    QCOMPARE(pacifier.pos().x(), qRound(left / screen.TwipsPerPixelX()));
    QVERIFY(!pacifier.findChild<QLabel*>(QStringLiteral("Image1"))->pixmap().isNull());
    pacifier.SetStatus(QStringLiteral("Adding logs"));
    QCOMPARE(pacifier.statusText(), QStringLiteral("Adding logs"));
    pacifier.Close();
    QVERIFY(!pacifier.isVisible());
    QVERIFY(!(pacifier.windowFlags() & Qt::WindowStaysOnTopHint));

    // During a real build the window is up, on top, and gone at the end.
    Harness h;
    bool seenOnTop = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == QLatin1String("frmPacifier") && w->isVisible())
                seenOnTop = seenOnTop || (w->windowFlags() & Qt::WindowStaysOnTopHint);
    });
    watch.start(0);
    h.window->saveDialog().answerer = [&](QWidget* w) {
        static_cast<QFileDialog*>(w)->selectFile(h.env.driveC() + QStringLiteral("/Out/p.zip"));
        static_cast<QDialog*>(w)->accept();
    };
    h.window->controller().cmdBuild_Click();
    watch.stop();
    QVERIFY(seenOnTop);
    for (QWidget* w : QApplication::topLevelWidgets())
        QVERIFY(!(w->objectName() == QLatin1String("frmPacifier") && w->isVisible()));
}

void TestWindows::aboutBoxShowsTheProjectVersion()
{
    QStringList opened;
    frmAbout about(nullptr, [&](const QString& what) {
        opened.append(what);
        return true;
    });
    QCOMPARE(about.findChild<QLabel*>(QStringLiteral("lblVersion"))->text(), QStringLiteral("6.1 Build 400"));
    QCOMPARE(frmAbout::VersionText(TS6_VERSION_MAJOR, TS6_VERSION_MINOR, TS6_VERSION_TWEAK),
             QStringLiteral("6.1 Build 400"));
    QCOMPARE(about.findChild<QLabel*>(QStringLiteral("lblAppTitle"))->text(), QStringLiteral("TS6Satchel"));
    QVERIFY(about.findChild<QLabel*>(QStringLiteral("lblCompanyInfo"))
                ->text()
                .startsWith(QLatin1String("Norvale \r\n")));
    QCOMPARE(about.windowTitle(), QStringLiteral("About"));
    about.show();
    QTest::mouseClick(about.findChild<QLabel*>(QStringLiteral("lblWebsite")), Qt::LeftButton);
    QTest::mouseClick(about.findChild<QLabel*>(QStringLiteral("lblEmail")), Qt::LeftButton);
    QCOMPARE(opened, (QStringList{frmAbout::Website, QStringLiteral("mailto:") + frmAbout::Email +
                                                         QStringLiteral("?Subject=TS6Satchel&Body=")}));
    QCOMPARE(frmAbout::MailtoText(QStringLiteral("a@b"), QStringLiteral("Two Words")),
             QStringLiteral("mailto:a@b?Subject=Two Words&Body="));
    QTest::mouseClick(about.findChild<QPushButton*>(QStringLiteral("cmdOk")), Qt::LeftButton);
    QVERIFY(!about.isVisible());
}

void TestWindows::titleStaysAfterNarrowing()
{
    Harness h;
    auto* title = h.window->findChild<QLabel*>(QStringLiteral("AppTitleLabel"));
    QCOMPARE(title->text(), QStringLiteral("TS6Satchel"));
    h.window->resize(1200, 700);
    QCoreApplication::processEvents();
    auto* header = h.window->findChild<QLabel*>(QStringLiteral("HeaderPicture"));
    QCOMPARE(title->geometry().right() + 1, header->contentsRect().right() + 1);
    const QPoint wide = title->pos();
    h.window->resize(400, 700); // 6000 twips: not wider than 8400
    QCoreApplication::processEvents();
    QCOMPARE(title->pos(), wide);
    auto* buttons = h.window->findChild<QWidget*>(QStringLiteral("ButtonContainer"));
    QCOMPARE(buttons->geometry().right() + 1, h.window->centralWidget()->width());
}

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
