#include "app/SatchelWindow.h"

#include "app/frmAbout.h"
#include "app/frmOptions.h"
#include "app/frmPacifier.h"
#include "app/frmUpload.h"
#include "app/frmViewer.h"
#include "controller/ResizeForm.h"
#include "desktop/GridView.h"
#include "desktop/QtFolderTree.h"
#include "desktop/RegisterDesktop.h"
#include "diag/Debug.h"
#include "diag/ErrorTrap.h"
#include "platform/HostPath.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>

#include <algorithm>

namespace {

constexpr double kHeaderHeight = 975;
constexpr double kButtonsWidth = 2835;
constexpr double kButtonsHeight = 615;

} // namespace

SatchelWindow::SatchelWindow(Desktop& desktop, ComponentMakers components, const QString& commandLine,
                             const PackageOptions& batchOptions)
    : m_desktop(desktop), m_messages(desktop, [this] { return static_cast<QWidget*>(this); }),
      m_saveDialog(desktop)
{
    setObjectName(QStringLiteral("frmSatchel"));
    setWindowTitle(tr("TSSatchel"));
    // The program's icon on every window it opens: the progress window, message boxes and
    // dialogs of a batch start, whose main window is never shown, and Qt's own questions.
    QGuiApplication::setWindowIcon(programIcon());
    m_grid.setTextMatrix(0, 0, tr("Description"));
    m_grid.setTextMatrix(0, 1, tr("Filename"));
    buildParts();
    buildMenus();

    const QFileInfo program(QCoreApplication::applicationFilePath());
    SatchelServices services{*this,
                             *m_folders,
                             m_grid,
                             m_screen,
                             DesktopServices{m_pointer, m_events, m_messages, m_saveDialog,
                                             [this]() -> std::unique_ptr<IProgressWindow> {
                                                 auto window = std::make_unique<frmPacifier>();
                                                 if (m_controller && m_controller->batchStarted())
                                                     return std::make_unique<EchoingProgress>(
                                                         std::move(window));
                                                 return window;
                                             },
                                             handleOf(this), HostPath::toWindows(program.absolutePath())},
                             std::move(components),
                             program.fileName(),
                             [this] { Resize_Form(); },
                             [this] {
                                 frmAbout about(this);
                                 about.exec();
                             }};
    services.editOptions = [this](const SavedPackageOptions& current) -> std::optional<SavedPackageOptions> {
        frmOptions options(this, current);
        if (options.exec() != QDialog::Accepted)
            return std::nullopt;
        return options.options();
    };
    services.openDocument = openOnDesktop;
    services.pickPackage = [this](const QString& last) {
        return QFileDialog::getOpenFileName(this, tr("Upload Package"), last,
                                            tr("Packages (*.zip);;All files (*)"));
    };
    services.sendPackage = [this](const PackageUpload& upload) {
        return sendPackageWithProgress(this, upload);
    };
    m_controller = std::make_unique<frmSatchel>(std::move(services), commandLine, batchOptions);
    m_gridView->setMouseUpHandler(
        [this](int b, int s, double x, double y) { m_controller->grdFiles_Mouseup(b, s, x, y); });
}

SatchelWindow::~SatchelWindow()
{
    // The parts show the grid and call the controller: they go first, while both still exist.
    m_controller.reset();
    delete takeCentralWidget();
}

double SatchelWindow::twipsX(int pixels) const
{
    return pixels * m_screen.twipsPerPixelX();
}
double SatchelWindow::twipsY(int pixels) const
{
    return pixels * m_screen.twipsPerPixelY();
}
int SatchelWindow::pixelsX(double twips) const
{
    return qRound(twips / m_screen.twipsPerPixelX());
}
int SatchelWindow::pixelsY(double twips) const
{
    return qRound(twips / m_screen.twipsPerPixelY());
}

void SatchelWindow::buildParts()
{
    m_client = new QWidget(this);
    m_client->setObjectName(QStringLiteral("client"));
    setCentralWidget(m_client);
    m_client->installEventFilter(this);

    m_header = new QLabel(m_client);
    m_header->setObjectName(QStringLiteral("HeaderPicture"));
    m_header->setPixmap(QPixmap(QStringLiteral(":/pictures/banner.jpg")));
    m_header->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_header->setAutoFillBackground(true);
    QPalette strip = m_header->palette();
    strip.setColor(QPalette::Window, QColor(0x2f, 0x7f, 0xb8));
    m_header->setPalette(strip);
    m_header->setGeometry(0, 0, pixelsX(13050), pixelsY(kHeaderHeight));

    m_title = new QLabel(QStringLiteral("Label1"), m_header);
    m_title->setObjectName(QStringLiteral("AppTitleLabel"));
    QFont titleFont = m_title->font();
    titleFont.setPointSize(12);
    titleFont.setBold(true);
    m_title->setFont(titleFont);
    QPalette light = m_title->palette();
    light.setColor(QPalette::WindowText, Qt::white);
    m_title->setPalette(light);
    m_title->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_title->setContentsMargins(0, 0, 8, 0);
    m_title->setGeometry(pixelsX(4440), pixelsY(240), pixelsX(2775), pixelsY(375));

    m_splitter = new QSplitter(Qt::Horizontal, m_client);
    m_splitter->setObjectName(QStringLiteral("SplitContainer"));
    m_folders = new QtFolderTree(m_splitter);
    m_gridView = new GridView(m_grid, m_splitter);
    m_splitter->setSizes({pixelsX(5580), pixelsX(7050)});
    m_splitter->setGeometry(pixelsX(120), pixelsY(1080), pixelsX(12735), pixelsY(5535));

    m_buttons = new QWidget(m_client);
    m_buttons->setObjectName(QStringLiteral("ButtonContainer"));
    m_buttons->setGeometry(pixelsX(10080), pixelsY(6720), pixelsX(kButtonsWidth), pixelsY(kButtonsHeight));
    auto* build = new QPushButton(tr("&Build Package"), m_buttons);
    build->setObjectName(QStringLiteral("cmdBuild"));
    auto* close = new QPushButton(tr("&Close"), m_buttons);
    close->setObjectName(QStringLiteral("cmdClose"));
    sizeButtons();
    connect(build, &QPushButton::clicked, this, guarded([this] { m_controller->cmdBuild_Click(); }));
    connect(close, &QPushButton::clicked, this, guarded([this] { m_controller->cmdClose_Click(); }));
}

// The design places the buttons for the design font; a wider font widens them and their panel.
void SatchelWindow::sizeButtons()
{
    auto* build = m_buttons->findChild<QPushButton*>(QStringLiteral("cmdBuild"));
    auto* close = m_buttons->findChild<QPushButton*>(QStringLiteral("cmdClose"));
    const int buttonWidth = std::max({pixelsX(1215), build->sizeHint().width(), close->sizeHint().width()});
    const int gap = pixelsX(105);
    build->setGeometry(pixelsX(120), pixelsY(120), buttonWidth, pixelsY(375));
    close->setGeometry(pixelsX(120) + buttonWidth + gap, pixelsY(120), buttonWidth, pixelsY(375));
    m_buttons->resize(std::max(pixelsX(kButtonsWidth), 2 * buttonWidth + gap + pixelsX(300)),
                      m_buttons->height());
}

void SatchelWindow::changeEvent(QEvent* event)
{
    guarded([&] {
        QMainWindow::changeEvent(event);
        if (event->type() == QEvent::WindowStateChange && isMaximized() && m_normalBefore.isValid() &&
            m_normal.size() == size())
            m_normal = m_normalBefore; // the maximised size was taken before the state was heard of
        if (event->type() == QEvent::FontChange) { // the desktop's font changed while the window is open
            sizeButtons();
            if (m_controller)
                m_controller->Form_Resize();
        }
    })();
}

void SatchelWindow::buildMenus()
{
    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    QAction* options = file->addAction(tr("&Options..."));
    options->setObjectName(QStringLiteral("mnuFileOptions"));
    connect(options, &QAction::triggered, this, guarded([this] { m_controller->mnuFileOptions_Click(); }));
    QAction* upload = file->addAction(tr("&Upload Package..."));
    upload->setObjectName(QStringLiteral("mnuFileUploadPackage"));
    connect(upload, &QAction::triggered, this,
            guarded([this] { m_controller->mnuFileUploadPackage_Click(); }));
    QAction* openPackage = file->addAction(tr("Open &Package..."));
    openPackage->setObjectName(QStringLiteral("mnuFileOpenPackage"));
    connect(openPackage, &QAction::triggered, this, guarded([this] {
                const QString path = QFileDialog::getOpenFileName(this, tr("Open Package"), QString(),
                                                                  tr("Packages (*.zip);;All files (*)"));
                if (!path.isEmpty())
                    openViewer(path);
            }));
    QAction* openCase = file->addAction(tr("Open &Case Folder..."));
    openCase->setObjectName(QStringLiteral("mnuFileOpenCase"));
    connect(openCase, &QAction::triggered, this, guarded([this] {
                const QString folder = QFileDialog::getExistingDirectory(this, tr("Open Case Folder"));
                if (!folder.isEmpty())
                    openViewer(folder);
            }));
    // Offered while the options name an upload server: asked each time the menu opens.
    connect(file, &QMenu::aboutToShow, this,
            guarded([this, upload] { upload->setEnabled(m_controller && m_controller->canUpload()); }));
    file->addSeparator()->setObjectName(QStringLiteral("mnuFileSep0"));
    QAction* exit = file->addAction(tr("E&xit"));
    exit->setObjectName(QStringLiteral("mnuFileExit"));
    connect(exit, &QAction::triggered, this, guarded([this] { m_controller->mnuFileExit_Click(); }));
    QMenu* help = menuBar()->addMenu(tr("&Help"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    // Video Tutorial comes first, as it always has; the handbook follows it.
    QAction* tutorial = help->addAction(tr("Video Tutorial"));
    tutorial->setObjectName(QStringLiteral("mnuHelpVideoTutorial"));
    connect(tutorial, &QAction::triggered, this,
            guarded([this] { m_controller->mnuHelpVideoTutorial_Click(); }));
    QAction* handbook = help->addAction(tr("&Handbook"));
    handbook->setObjectName(QStringLiteral("mnuHelpHandbook"));
    handbook->setShortcut(QKeySequence::HelpContents);
    handbook->setShortcutContext(Qt::ApplicationShortcut);
    connect(handbook, &QAction::triggered, this, guarded([this] { m_controller->mnuHelpHandbook_Click(); }));
    help->addSeparator()->setObjectName(QStringLiteral("mnuHelpSep0"));
    QAction* about = help->addAction(tr("&About"));
    about->setObjectName(QStringLiteral("mnuHelpAbout"));
    connect(about, &QAction::triggered, this, guarded([this] { m_controller->mnuHelpAbout_Click(); }));
}

// The viewer on a package or case folder, beside this window: it lives until it is closed, or
// until this window goes. Reading takes well under a second for a large package.
void SatchelWindow::openViewer(const QString& path)
{
    QString error;
    std::unique_ptr<frmViewer> viewer = [&] {
        m_pointer.setBusy();
        const auto normal = qScopeGuard([this] { m_pointer.setDefault(); });
        return frmViewer::open(path, &error, this);
    }();
    if (!viewer) {
        m_messages.showMessage(error, MessageIcon::Exclamation, tr("Open Package"));
        return;
    }
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    viewer->show();
    viewer.release(); // this window owns it as its parent; it frees itself when closed
}

bool SatchelWindow::eventFilter(QObject* watched, QEvent* event)
{
    return guarded([&] {
        if (watched == m_client && event->type() == QEvent::Resize)
            clientResized();
        return QMainWindow::eventFilter(watched, event);
    })();
}

void SatchelWindow::clientResized()
{
    m_header->setGeometry(0, 0, m_client->width(), m_header->height()); // docked to the top edge
    if (m_controller)
        m_controller->Form_Resize();
}

void SatchelWindow::Resize_Form()
{
    Debug::LogMessage(QStringLiteral("frmSatchel"), QStringLiteral("Resize_Form"), QStringLiteral("Start"));
    FormMetrics m;
    m.clientLeft = 0;
    m.clientWidth = twipsX(m_client->width());
    m.clientHeight = twipsY(m_client->height());
    m.headerWidth = twipsX(m_header->width());
    m.headerHeight = twipsY(m_header->height());
    m.headerInnerWidth = twipsX(m_header->contentsRect().width());
    m.headerInnerHeight = twipsY(m_header->contentsRect().height());
    m.buttonsWidth = twipsX(m_buttons->width());
    m.buttonsHeight = twipsY(m_buttons->height());
    m.titleWidth = twipsX(m_title->width());
    m.titleHeight = twipsY(m_title->height());
    const FormLayout layout = computeFormLayout(m);
    // Each step stands alone: one that fails leaves its part where it was.
    runQuietly([&] {
        if (layout.splitter)
            m_splitter->setGeometry(pixelsX(layout.splitter->left()), pixelsY(layout.splitter->top()),
                                    pixelsX(layout.splitter->width()), pixelsY(layout.splitter->height()));
    });
    runQuietly([&] { m_buttons->move(pixelsX(layout.buttons.left()), pixelsY(layout.buttons.top())); });
    runQuietly([&] {
        if (layout.title)
            m_title->move(pixelsX(layout.title->x()), pixelsY(layout.title->y()));
    });
}

QRect SatchelWindow::normalRectangle() const
{
    if (!(windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen)))
        return geometry();
    if (m_normal.isValid())
        return m_normal;
    return normalGeometry().isValid() ? normalGeometry() : geometry();
}

QMargins SatchelWindow::frameMargins() const
{
    return frameMarginsOf(*this);
}

void SatchelWindow::noteNormalRectangle()
{
    if (windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen))
        return;
    if (geometry() != m_normal) {
        m_normalBefore = m_normal;
        m_normal = geometry();
    }
}

void SatchelWindow::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    noteNormalRectangle();
}

void SatchelWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    noteNormalRectangle();
}

void SatchelWindow::moveInTwips(double left, double top, double width, double height)
{
    setGeometry(pixelsX(left), pixelsY(top), pixelsX(width), pixelsY(height));
    m_normal = geometry();
    if (isVisible())
        return;
    // A hidden window hears of its new size only when it is shown. The placement restored at
    // start-up is laid out now, in the order of the start-up's steps, and not again at the show.
    const QSize before = m_client->size();
    layout()->invalidate();
    layout()->activate();
    if (m_client->size() != before) {
        m_client->setAttribute(Qt::WA_PendingResizeEvent, false);
        clientResized();
    }
}

int SatchelWindow::windowStateCode() const
{
    if (windowState() & Qt::WindowMinimized)
        return 1;
    if (windowState() & Qt::WindowMaximized)
        return 2;
    return 0;
}

void SatchelWindow::setWindowStateCode(int state)
{
    switch (state) {
    case 0:
        setWindowState(Qt::WindowNoState);
        break;
    case 1:
        setWindowState(Qt::WindowMinimized);
        break;
    case 2:
        setWindowState(Qt::WindowMaximized);
        break;
    default:
        raiseError(380, QStringLiteral("Invalid property value"), QStringLiteral("frmSatchel"));
    }
}

void SatchelWindow::setTitleCaption(const QString& caption)
{
    m_title->setText(caption);
}

void SatchelWindow::setHelpFile(const QString& path)
{
    m_helpFile = path;
}

void SatchelWindow::showStatus(const QString& text)
{
    if (text.isEmpty()) {
        statusBar()->clearMessage();
        statusBar()->hide();
        return;
    }
    statusBar()->show();
    statusBar()->showMessage(text);
}

void SatchelWindow::destroyWindow()
{
    m_destroyed = true;
    if (isVisible())
        QTimer::singleShot(0, this, &QWidget::close);
}

void SatchelWindow::closeEvent(QCloseEvent* event)
{
    guarded([&] {
        if (m_destroyed) {
            event->accept();
            return;
        }
        event->ignore();
        m_controller->closeRequested(); // during a build: when it ends
    })();
}
