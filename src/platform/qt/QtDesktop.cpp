#include "platform/qt/QtDesktop.h"

#include "package/mDlg.h"
#include "platform/HostPath.h"

#include <QApplication>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QTimer>

#include <cstdio>

QIcon ProgramIcon()
{
    return QIcon(QStringLiteral(":/pictures/ts6satchel.png"));
}

QPalette WhitePalette(QPalette palette)
{
    for (const QPalette::ColorRole role : {QPalette::Window, QPalette::Base})
        palette.setColor(role, Qt::white);
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text})
        palette.setColor(role, Qt::black);
    palette.setColor(QPalette::Link, Qt::blue);
    return palette;
}

QWidget* WidgetOf(WindowHandle handle)
{
    return reinterpret_cast<QWidget*>(handle);
}

WindowHandle HandleOf(QWidget* widget)
{
    return reinterpret_cast<WindowHandle>(widget);
}

QtMousePointer::~QtMousePointer()
{
    while (m_depth-- > 0)
        QApplication::restoreOverrideCursor();
}

void QtMousePointer::SetBusy()
{
    if (m_depth > 0)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ++m_depth;
}

void QtMousePointer::SetDefault()
{
    while (m_depth > 0) {
        QApplication::restoreOverrideCursor();
        --m_depth;
    }
}

void QtEventLoop::DoEvents()
{
    QCoreApplication::processEvents();
}

void QtMessageBox::Show(const QString& text, MessageIcon icon, const QString& caption)
{
    if (m_desktop.headless()) {
        m_desktop.notePersonNeeded(QStringLiteral("a message for the user: ") +
                                   QString(text).replace(QLatin1String("\r\n"), QLatin1String(" ")));
        return;
    }
    QMessageBox box(icon == MessageIcon::Information ? QMessageBox::Information : QMessageBox::Warning,
                    caption, text, QMessageBox::Ok, m_owner ? m_owner() : nullptr);
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

double QtScreen::TwipsPerPixelX() const
{
    const QScreen* s = primary();
    return s && s->logicalDotsPerInchX() > 0 ? 1440.0 / s->logicalDotsPerInchX() : 15.0;
}

double QtScreen::TwipsPerPixelY() const
{
    const QScreen* s = primary();
    return s && s->logicalDotsPerInchY() > 0 ? 1440.0 / s->logicalDotsPerInchY() : 15.0;
}

double QtScreen::WidthTwips() const
{
    const QScreen* s = primary();
    return (s ? s->size().width() : 1024) * TwipsPerPixelX();
}

double QtScreen::HeightTwips() const
{
    const QScreen* s = primary();
    return (s ? s->size().height() : 768) * TwipsPerPixelY();
}

bool QtSaveDialog::GetSaveFileName(SaveFileRecord& record)
{
    if (m_desktop.headless()) {
        m_desktop.notePersonNeeded(QStringLiteral("the save dialog, to choose where the package goes"));
        return false;
    }
    QWidget* owner = WidgetOf(record.owner);
    const qsizetype end = record.file.indexOf(QChar(u'\0'));
    const QString proposed = (end >= 0 ? record.file.left(end) : record.file).trimmed();
    const std::optional<QString> hostProposed = HostPath::ForWriting(proposed);
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
    else if (const auto initial = HostPath::Resolve(record.initialDir))
        dialog.setDirectory(initial->hostPath());
    if (!record.defaultExtension.isEmpty())
        dialog.setDefaultSuffix(record.defaultExtension);
    if (owner) {
        dialog.adjustSize();
        const QPoint at = mDlg::CenterOver(owner->frameGeometry(), QRect(QPoint(), dialog.size()));
        dialog.move(at);
    }
    if (answerer)
        QTimer::singleShot(0, &dialog, [this, &dialog] { answerer(&dialog); });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    const QString chosen = HostPath::ToWindows(dialog.selectedFiles().constFirst());
    record.file = chosen + QChar(u'\0');
    return true;
}

void EchoingProgress::Show()
{
    m_window->Show();
}

void EchoingProgress::SetStatus(const QString& text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
    std::fflush(stderr);
    m_window->SetStatus(text);
}

void EchoingProgress::Close()
{
    m_window->Close();
}
