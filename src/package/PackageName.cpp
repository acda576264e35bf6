#include "package/PackageName.h"

#include "catalogue/PathHelpers.h"
#include "package/mDlg.h"

QString GetDefaultPackageName(const QString& folder, const QString& prefix, const QDateTime& now)
{
    const QString stem = RemoveExtension(prefix);
    const QString name = stem + now.toString(QStringLiteral("yyyy_MM_dd_HHmm")) + QStringLiteral(".zip");
    return JoinPath(QStringLiteral("\\"), {folder, name});
}

QString GetPackageFileName(ISaveDialog& dialog, WindowHandle owner, const QString& programFolder,
                           const QString& proposed)
{
    const SaveDialogResult result =
        mDlg::ShowSave(dialog, owner, proposed, QStringLiteral("Save Tessarine Package File As..."),
                       programFolder, QStringLiteral("Zip File(*.ZIP) |*.ZIP"), QString());
    if (result.cancelled)
        return {};
    if (result.path.right(4).toUpper() == QLatin1String(".ZIP"))
        return result.path;
    return result.path + QStringLiteral(".ZIP");
}
