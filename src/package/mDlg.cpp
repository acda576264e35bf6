#include "package/mDlg.h"

#include "diag/Debug.h"

namespace {

constexpr int kBufferLength = 2048;
constexpr std::uint32_t kDefaultFlags =
    SaveFlags::OverwritePrompt | SaveFlags::HideReadOnly | SaveFlags::Explorer | SaveFlags::LongNames;

// The dialog record of the module: kept from one dialog to the next.
SaveFileRecord g_record;

} // namespace

namespace mDlg {

SaveDialogResult ShowSave(ISaveDialog& dialog, WindowHandle owner, const QString& proposed,
                          const QString& title, const QString& initialFolder, const QString& filter,
                          const QString& defaultExtension)
{
    Debug::LogMessage(QStringLiteral("mComdlg"), QStringLiteral("ShowSave"), QString());
    g_record.structSize = 76;
    g_record.owner = owner;
    g_record.fileTitle = QString(kBufferLength, QLatin1Char(' '));
    g_record.maxFileTitle = kBufferLength;
    QString buffer = QString(kBufferLength - 1, QLatin1Char(' ')) + QChar(u'\0');
    buffer.replace(0, std::min<qsizetype>(proposed.size(), kBufferLength), proposed.left(kBufferLength));
    g_record.file = buffer;
    g_record.maxFile = kBufferLength;
    g_record.title = title;
    g_record.initialDir = initialFolder;
    g_record.defaultExtension = defaultExtension;
    g_record.filter = QString(filter).replace(QLatin1Char('|'), QChar(u'\0')) + QChar(u'\0') + QChar(u'\0');
    if (g_record.flags == 0)
        g_record.flags = kDefaultFlags;

    SaveFileRecord shown = g_record;
    const bool chosen = dialog.getSaveFileName(shown);
    g_record = shown;
    if (!chosen)
        return {};
    const qsizetype end = g_record.file.indexOf(QChar(u'\0'));
    return {false, end >= 0 ? g_record.file.left(end) : g_record.file};
}

} // namespace mDlg
