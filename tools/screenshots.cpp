// Opens the program's windows on the sample installation, as a person would see them, and saves
// screenshots: the main window with the grid expanded, the save dialog, the progress window during
// a build, the final message, the viewer on the package built, the Help menu, the About box, the
// Options dialog; then the progress window, the About box, the upload's progress window and the Options
// dialog with a dark palette and with an 11 pt font; last, the main window of a fresh start on a LastFolder
// deep in the tree; a build that could not write its package and F1. With --start, only a start on the screen
// and settings the caller set up (the placement pictures). Run by scripts/screenshots.sh under Xvfb, with the
// sample's environment.
#include "app/Assembly.h"
#include "app/SatchelWindow.h"
#include "app/frmAbout.h"
#include "app/frmOptions.h"
#include "app/frmPacifier.h"
#include "app/frmUpload.h"
#include "app/frmViewer.h"
#include "desktop/GridView.h"
#include "desktop/QtFolderTree.h"
#include "platform/HostPath.h"
#include "settings/AppConfig.h"

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {

void settle(int ms = 300)
{
    const QDeadlineTimer until(ms);
    while (!until.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// Lets the event loop run until the condition holds, for at most the time given.
bool settleUntil(const std::function<bool()>& condition, int ms = 10000)
{
    const QDeadlineTimer until(ms);
    while (!condition() && !until.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return condition();
}

bool shoot(const QString& file)
{
    const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
    const bool saved = screen.save(file);
    std::printf("%s %s\n", saved ? "saved" : "could not save", qPrintable(file));
    return saved;
}

QPalette darkPalette()
{
    QPalette dark;
    for (const auto role : {QPalette::Window, QPalette::Button, QPalette::AlternateBase})
        dark.setColor(role, QColor(0x35, 0x35, 0x35));
    dark.setColor(QPalette::Base, QColor(0x2a, 0x2a, 0x2a));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::BrightText})
        dark.setColor(role, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Highlight, QColor(0x2a, 0x82, 0xda));
    dark.setColor(QPalette::Link, QColor(0x8a, 0xc4, 0xff));
    return dark;
}

// The Options dialog, one limit set.
bool shootOptions(QWidget* owner, const QString& out, const QString& suffix)
{
    frmOptions options(
        owner, SavedPackageOptions{.maskSecrets = true,
                                   .maxLogDays = 7,
                                   .uploadUrl = QStringLiteral("https://upload.support.example/files/")});
    options.show();
    settle();
    const bool ok = shoot(out + QStringLiteral("/options-dialog") + suffix + QStringLiteral(".png"));
    options.reject();
    return ok;
}

// The progress window, the About box and the Options dialog in the theme that is set.
bool shootSmallWindows(QWidget* owner, const QString& out, const QString& suffix)
{
    frmPacifier pacifier;
    pacifier.Show();
    pacifier.setStatus(QStringLiteral("Adding C:\\TESSARINE\\DATA\\ORDERS.LOG"));
    pacifier.setBytes(qint64(93) << 20, qint64(450) << 20); // a large log folder under way
    settle();
    bool ok = shoot(out + QStringLiteral("/progress-window") + suffix + QStringLiteral(".png"));
    pacifier.Close();
    frmAbout about(owner, [](const QString&) { return true; });
    about.show();
    settle();
    ok = shoot(out + QStringLiteral("/about-box") + suffix + QStringLiteral(".png")) && ok;
    about.accept();
    frmUpload upload(owner, QStringLiteral("orders-support.zip"));
    upload.show();
    upload.setBytes(qint64(180) << 20, qint64(512) << 20, 42e6);
    settle();
    ok = shoot(out + QStringLiteral("/upload-window") + suffix + QStringLiteral(".png")) && ok;
    upload.done(0);
    return shootOptions(owner, out, suffix) && ok;
}

// The viewer on the package the build wrote: the entry tree and a log's text in the Entry pane.
bool shootViewer(QWidget* owner, const QString& package, const QString& out)
{
    QString error;
    const std::unique_ptr<frmViewer> viewer = frmViewer::open(package, &error, owner);
    if (!viewer) {
        std::printf("no viewer: %s\n", qPrintable(error));
        return false;
    }
    viewer->setGeometry(60, 60, 1140, 700);
    viewer->show();
    settle(); // shown with its top level, as it opens; then a log deep in the tree is opened
    if (!viewer->selectEntry(QStringLiteral("C/ProgramData/Norvale/TS6/logs/TS6-2026-12-04.log")))
        viewer->selectEntry(QStringLiteral("TSVERSION.TXT"));
    settle();
    return shoot(out + QStringLiteral("/viewer.png"));
}

} // namespace

// A start as a person makes it, with the placement the settings hold (none: the first start),
// on whatever screen the caller set up.
int shootStart(const QString& picture)
{
    const ComponentMakers components = assembleComponents();
    Desktop desktop(false);
    const ScreenKeeper keeper;
    SatchelWindow window(desktop, components, QString());
    window.controller().Form_Load();
    window.show();
    settle(1500);
    const QRect frame = window.frameGeometry();
    std::printf("frame %d,%d %dx%d on %dx%d available\n", frame.x(), frame.y(), frame.width(), frame.height(),
                window.screen()->availableGeometry().width(), window.screen()->availableGeometry().height());
    return shoot(picture) ? 0 : 1;
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(resources);
    if (argc == 3 && QByteArray(argv[1]) == "--start")
        return shootStart(QString::fromLocal8Bit(argv[2]));
    if (argc != 3) {
        std::fprintf(stderr, "usage: screenshots FOLDER OUTPUT-FOLDER | screenshots --start PICTURE\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QString out = QString::fromLocal8Bit(argv[2]);
    const ComponentMakers components = assembleComponents();
    Desktop desktop(false);
    const ScreenKeeper keeper;
    auto window = std::make_unique<SatchelWindow>(desktop, components, QString());
    window->controller().Form_Load();
    window->folderTree().selectFolder(folder, 0, true);
    window->setGeometry(40, 40, 1100, 680);
    window->show();
    settle();
    window->gridView().gridModel().flush();
    window->gridView().expandAll();
    window->grid().setNodePicture(window->grid().nodeByKey(QStringLiteral("2-V2-POPUP")), 3);
    window->controller().grdFiles_Mouseup(1, 0, 0, 0); // nothing under the pointer: no change
    settle();
    bool ok = shoot(out + QStringLiteral("/main-window.png"));

    // A build: the save dialog is answered, the progress window is caught while it shows.
    bool caught = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (!caught && w->objectName() == QLatin1String("frmPacifier") && w->isVisible()) {
                caught = true;
                settle(200);
                ok = shoot(out + QStringLiteral("/progress-window.png")) && ok;
            }
    });
    watch.start(0);
    window->saveDialog().answerer = [&](QWidget* dialog) {
        settle(200);
        ok = shoot(out + QStringLiteral("/save-dialog.png")) && ok;
        static_cast<QFileDialog*>(dialog)->selectFile(out + QStringLiteral("/screenshot-package.zip"));
        static_cast<QDialog*>(dialog)->accept();
    };
    window->messageBox().answerer = [&](QWidget* box) {
        settle(200);
        ok = shoot(out + QStringLiteral("/final-message.png")) && ok;
        static_cast<QDialog*>(box)->accept();
    };
    window->controller().cmdBuild_Click();
    watch.stop();
    const QString built = QDir(out).entryList({QStringLiteral("*.zip")}, QDir::Files, QDir::Time).value(0);
    ok = shootViewer(window.get(), out + QLatin1Char('/') + built, out) && ok;

    // A build that cannot write its package: the reason stays in the status line.
    QFile blocker(out + QStringLiteral("/not-a-folder"));
    blocker.open(QIODevice::WriteOnly);
    blocker.close();
    window->saveDialog().answerer = [&](QWidget* dialog) {
        static_cast<QFileDialog*>(dialog)->selectFile(out + QStringLiteral("/not-a-folder/package.zip"));
        static_cast<QDialog*>(dialog)->accept();
    };
    window->controller().cmdBuild_Click();
    settle();
    ok = shoot(out + QStringLiteral("/main-window-failed-build.png")) && ok;

    // The Help menu, open.
    auto* help = window->findChild<QMenu*>(QStringLiteral("mnuHelp"));
    help->popup(
        window->menuBar()->mapToGlobal(window->menuBar()->actionGeometry(help->menuAction()).bottomLeft()));
    settle();
    ok = shoot(out + QStringLiteral("/help-menu.png")) && ok;
    help->close();

    // F1: the handbook, or, with no browser on the machine, a message that says so.
    window->messageBox().answerer = [&](QWidget* box) {
        settle(200);
        ok = shoot(out + QStringLiteral("/help-handbook.png")) && ok;
        static_cast<QDialog*>(box)->accept();
    };
    window->findChild<QAction*>(QStringLiteral("mnuHelpHandbook"))->trigger();
    settle(1500);

    {
        frmAbout about(window.get(), [](const QString&) { return true; });
        about.show();
        settle();
        ok = shoot(out + QStringLiteral("/about-box.png")) && ok;
        about.accept();
    }
    ok = shootOptions(window.get(), out, QString()) && ok;

    // The small windows in a dark theme, then with a larger desktop font.
    const QPalette palette = QApplication::palette();
    const QFont font = QApplication::font();
    QApplication::setPalette(darkPalette());
    ok = shootSmallWindows(window.get(), out, QStringLiteral("-dark")) && ok;
    QApplication::setPalette(palette);
    QFont large = font;
    large.setPointSize(11);
    QApplication::setFont(large);
    ok = shootSmallWindows(window.get(), out, QStringLiteral("-11pt")) && ok;
    QApplication::setFont(font);

    // A fresh start on a folder deep in the tree, stored as LastFolder: the tree shows it once the
    // folders around it have loaded.
    window->controller().Config().setLastFolder(HostPath::toWindows(folder));
    window.reset();
    window = std::make_unique<SatchelWindow>(desktop, components, QString());
    window->controller().Form_Load();
    window->show();
    QtFolderTree& tree = window->folderTree();
    const bool shown = settleUntil([&] {
        const QModelIndex current = tree.currentIndex();
        return current.isValid() && tree.viewport()->rect().contains(tree.visualRect(current));
    });
    settle(1000); // the folders above it load in the background; they must not push it out of view
    std::printf("LastFolder %s in view\n", shown ? "is" : "is not");
    ok = shoot(out + QStringLiteral("/main-window-lastfolder.png")) && ok;
    return ok && caught ? 0 : 1;
}
