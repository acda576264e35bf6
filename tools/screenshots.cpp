// Opens the program's windows on the sample installation, as a person would see them, and saves
// screenshots: the main window with the grid expanded, the progress window during a build, the
// About box. Run by scripts/screenshots.sh under Xvfb, with the sample's environment.
#include "app/SatchelWindow.h"
#include "app/frmAbout.h"
#include "components/RegisterDesktop.h"
#include "components/Registration.h"
#include "platform/qt/GridView.h"
#include "platform/qt/QtFolderTree.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include <cstdio>

namespace {

void settle(int ms = 300)
{
    const QDeadlineTimer until(ms);
    while (!until.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool shoot(const QString& file)
{
    const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
    const bool saved = screen.save(file);
    std::printf("%s %s\n", saved ? "saved" : "could not save", qPrintable(file));
    return saved;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(resources);
    if (argc != 3) {
        std::fprintf(stderr, "usage: screenshots FOLDER OUTPUT-FOLDER\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QString out = QString::fromLocal8Bit(argv[2]);
    RegisterCoreComponents();
    RegisterDesktopComponents();
    Desktop desktop(false);
    SatchelWindow window(desktop, QString());
    window.controller().Form_Load();
    window.folderTree().SelectFolder(folder, 0, true);
    window.setGeometry(40, 40, 1100, 680);
    window.show();
    settle();
    window.gridView().gridModel().flush();
    window.gridView().expandAll();
    window.grid().SetNodePicture(window.grid().NodeByKey(QStringLiteral("2-V2-POPUP")), 3);
    window.controller().grdFiles_Mouseup(1, 0, 0, 0); // nothing under the pointer: no change
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
    window.saveDialog().answerer = [&](QWidget* dialog) {
        settle(200);
        ok = shoot(out + QStringLiteral("/save-dialog.png")) && ok;
        static_cast<QFileDialog*>(dialog)->selectFile(out + QStringLiteral("/screenshot-package.zip"));
        static_cast<QDialog*>(dialog)->accept();
    };
    window.messageBox().answerer = [&](QWidget* box) {
        settle(200);
        ok = shoot(out + QStringLiteral("/final-message.png")) && ok;
        static_cast<QDialog*>(box)->accept();
    };
    window.controller().cmdBuild_Click();
    watch.stop();

    frmAbout about(&window, [](const QString&) { return true; });
    about.show();
    settle();
    ok = shoot(out + QStringLiteral("/about-box.png")) && ok;
    about.accept();
    return ok && caught ? 0 : 1;
}
