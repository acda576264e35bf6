#include "desktop/QtDesktop.h"

#include "base/ByteSize.h"
#include "base/Geometry.h"

#include "base/Rounding.h"
#include "diag/ErrorTrap.h"
#include "platform/HostPath.h"
#include "platform/TerminalLine.h"

#include <QApplication>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QStyle>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

QIcon programIcon()
{
    return QIcon(QStringLiteral(":/pictures/ts6satchel.png"));
}

QPalette whitePalette(QPalette palette)
{
    for (const QPalette::ColorRole role : {QPalette::Window, QPalette::Base})
        palette.setColor(role, Qt::white);
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text})
        palette.setColor(role, Qt::black);
    palette.setColor(QPalette::Link, Qt::blue);
    return palette;
}

QWidget* widgetOf(WindowHandle handle)
{
    return reinterpret_cast<QWidget*>(handle);
}

WindowHandle handleOf(QWidget* widget)
{
    return reinterpret_cast<WindowHandle>(widget);
}

QtMousePointer::~QtMousePointer()
{
    while (m_depth-- > 0)
        QApplication::restoreOverrideCursor();
}

void QtMousePointer::setBusy()
{
    if (m_depth > 0)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ++m_depth;
}

void QtMousePointer::setDefault()
{
    while (m_depth > 0) {
        QApplication::restoreOverrideCursor();
        --m_depth;
    }
}

void QtEventLoop::doEvents()
{
    QCoreApplication::processEvents();
}

namespace {

// Qt wraps a message's line at half the screen's width, and a path in it breaks at a hyphen or a
// slash: a message whose lines fit the screen asks for the width of its widest line.
void keepLinesWhole(QMessageBox& box)
{
    auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    if (label == nullptr)
        return;
    int widest = 0;
    for (const QString& line : box.text().split(QLatin1Char('\n')))
        widest = std::max(widest, label->fontMetrics().horizontalAdvance(line) + 2);
    const QWidget* owner = box.parentWidget();
    const QRect screen = QtScreen().availableArea(owner ? owner->frameGeometry() : QRect());
    // As wide as Qt lets a message box be, its icon and margins aside.
    const int most = (screen.width() <= 1024 ? screen.width() : std::min(screen.width() - 480, 1000)) - 120;
    if (widest <= most)
        label->setMinimumWidth(widest);
}

} // namespace

void QtMessageBox::showMessage(const QString& text, MessageIcon icon, const QString& caption)
{
    if (m_desktop.headless()) {
        m_desktop.notePersonNeeded(QStringLiteral("a message for the user: ") +
                                   QString(text).replace(QLatin1String("\r\n"), QLatin1String(" ")));
        return;
    }
    QMessageBox box(icon == MessageIcon::Information ? QMessageBox::Information : QMessageBox::Warning,
                    caption, text, QMessageBox::Ok, m_owner ? m_owner() : nullptr);
    box.setTextFormat(Qt::PlainText); // a path or a reason is never taken for markup
    keepLinesWhole(box);
    if (answerer)
        QTimer::singleShot(0, &box, [this, &box] { answerer(&box); });
    box.exec();
}

namespace {

QScreen* primary()
{
    return QGuiApplication::primaryScreen();
}

} // namespace

double QtScreen::twipsPerPixelX() const
{
    const QScreen* s = primary();
    return s && s->logicalDotsPerInchX() > 0 ? 1440.0 / s->logicalDotsPerInchX() : 15.0;
}

double QtScreen::twipsPerPixelY() const
{
    const QScreen* s = primary();
    return s && s->logicalDotsPerInchY() > 0 ? 1440.0 / s->logicalDotsPerInchY() : 15.0;
}

double QtScreen::widthTwips() const
{
    const QScreen* s = primary();
    return (s ? s->size().width() : 1024) * twipsPerPixelX();
}

double QtScreen::heightTwips() const
{
    const QScreen* s = primary();
    return (s ? s->size().height() : 768) * twipsPerPixelY();
}

QRect QtScreen::availableArea(const QRect& near) const
{
    const QScreen* best = nullptr;
    qint64 most = 0;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect common = screen->geometry().intersected(near);
        const qint64 area = qint64(common.width()) * common.height();
        if (area > most) {
            most = area;
            best = screen;
        }
    }
    if (best == nullptr)
        best = primary();
    return best ? best->availableGeometry() : QRect();
}

QMargins frameMarginsOf(const QWidget& window)
{
    const QRect frame = window.frameGeometry();
    const QRect inner = window.geometry();
    if (frame != inner)
        return {inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
                frame.bottom() - inner.bottom()};
    const int title = std::max(window.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &window),
                               2 * window.fontMetrics().height());
    return {4, title, 4, 4};
}

ScreenKeeper::ScreenKeeper()
{
    qApp->installEventFilter(this);
}

ScreenKeeper::~ScreenKeeper()
{
    qApp->removeEventFilter(this);
}

void ScreenKeeper::fit(QWidget& window)
{
    const QRect inner = window.geometry();
    const QMargins frame = frameMarginsOf(window);
    const QRect placed = fitOnScreen(inner, frame, QtScreen().availableArea(inner.marginsAdded(frame)));
    if (placed == inner)
        return;
    if (window.minimumSize() == window.maximumSize())
        window.setFixedSize(placed.size());
    window.setGeometry(placed);
}

bool ScreenKeeper::eventFilter(QObject* watched, QEvent* event)
{
    // Set from a window's show until the window manager has framed it.
    static constexpr char kUnframed[] = "ts6Unframed";
    const QEvent::Type type = event->type();
    const bool framing = type == QEvent::Move || type == QEvent::Resize || type == QEvent::WindowActivate ||
                         type == QEvent::Paint;
    if ((type != QEvent::Show && !framing) || !watched->isWidgetType())
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (!widget->isWindow() || (widget->windowType() != Qt::Dialog && widget->windowType() != Qt::Window))
        return false;
    const auto fitSoon = [widget] { QTimer::singleShot(0, widget, guarded([widget] { fit(*widget); })); };
    if (type == QEvent::Show) {
        // Fitted once Qt has placed it: a dialog is centred over its owner after this event.
        widget->setProperty(kUnframed, widget->frameGeometry() == widget->geometry());
        fitSoon();
    } else if (widget->property(kUnframed).toBool() && widget->frameGeometry() != widget->geometry()) {
        // Fitted again with the frame the window manager drew, not a guess of it; only this once,
        // so a window the person moves is left where it is put.
        widget->setProperty(kUnframed, false);
        fitSoon();
    }
    return false;
}

int toPixelsX(double twips)
{
    return qRound(twips / QtScreen().twipsPerPixelX());
}

int toPixelsY(double twips)
{
    return qRound(twips / QtScreen().twipsPerPixelY());
}

QPoint centerOver(const QRect& owner, const QRect& dialog)
{
    const double x = owner.left() + owner.width() / 2.0 - dialog.width() / 2.0;
    const double y = owner.top() + owner.height() / 2.0 - dialog.height() / 2.0;
    return {roundHalfEven(x), roundHalfEven(y)};
}

bool QtSaveDialog::getSaveFileName(SaveFileRecord& record)
{
    if (m_desktop.headless()) {
        m_desktop.notePersonNeeded(QStringLiteral("the save dialog, to choose where the package goes"));
        return false;
    }
    QWidget* owner = widgetOf(record.owner);
    const qsizetype end = record.file.indexOf(QChar(u'\0'));
    const QString proposed = (end >= 0 ? record.file.left(end) : record.file).trimmed();
    const std::optional<QString> hostProposed = HostPath::forWriting(proposed);
    const QStringList parts = record.filter.split(QChar(u'\0'), Qt::SkipEmptyParts);
    // "Zip File(*.ZIP) " already names its pattern in parentheses, as Qt wants it.
    QString filter = parts.value(0).trimmed();
    if (!filter.contains(QLatin1Char('(')) && parts.size() >= 2)
        filter += QStringLiteral(" (") + parts.at(1) + QLatin1Char(')');

    QFileDialog dialog(owner, record.title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !(record.flags & SaveFlags::OverwritePrompt));
    dialog.setNameFilter(filter);
    if (hostProposed)
        dialog.selectFile(*hostProposed);
    else if (const auto initial = HostPath::resolve(record.initialDir))
        dialog.setDirectory(initial->hostPath());
    if (!record.defaultExtension.isEmpty())
        dialog.setDefaultSuffix(record.defaultExtension);
    if (owner) {
        dialog.adjustSize();
        const QPoint at = centerOver(owner->frameGeometry(), QRect(QPoint(), dialog.size()));
        dialog.move(at);
    }
    if (answerer)
        QTimer::singleShot(0, &dialog, [this, &dialog] { answerer(&dialog); });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    const QString chosen = HostPath::toWindows(dialog.selectedFiles().constFirst());
    record.file = chosen + QChar(u'\0');
    return true;
}

EchoingProgress::EchoingProgress(std::unique_ptr<IProgressWindow> window)
    : m_window(std::move(window)),
      m_line(std::make_unique<TerminalLine>(stderr, ::isatty(STDERR_FILENO) == 1))
{}

EchoingProgress::~EchoingProgress() = default;

void EchoingProgress::Show()
{
    m_window->Show();
}

void EchoingProgress::setStatus(const QString& text)
{
    m_status = text;
    if (m_line->isTerminal())
        m_line->show(text);
    else
        std::fprintf(stderr, "%s\n", qPrintable(text));
    std::fflush(stderr);
    m_window->setStatus(text);
}

void EchoingProgress::setBytes(qint64 done, qint64 total)
{
    m_window->setBytes(done, total);
    if (total > 0)
        m_line->show(m_status, QStringLiteral("  %1 of %2").arg(byteSizeText(done), byteSizeText(total)));
}

void EchoingProgress::Close()
{
    m_line->clear();
    m_window->Close();
}
