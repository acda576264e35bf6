#pragma once

#include <QString>
#include <QStringList>

// The check pictures of the image list imgCheck; a row's state is the picture in its column 0.
namespace CheckPicture {
inline constexpr int Included = 1;
inline constexpr int PartlyIncluded = 2;
inline constexpr int Excluded = 3;
} // namespace CheckPicture

// Row texts and key suffixes of the catalogue. A key is the template number followed by a suffix.
namespace RowText {
inline const QString Root = QStringLiteral("Found Templates");
inline const QString DataFile = QStringLiteral("Tessarine Data File");
inline const QString ApplicationFiles = QStringLiteral("Application Files");
inline const QString PreProcess = QStringLiteral("Add Screen Options - Batch Filename to Execute");
inline const QString LogFile = QStringLiteral("Transaction Audit Trail - Log Filename to Update");
inline const QString PostProcess = QStringLiteral("Transaction Audit Trail - Batch Filename to Execute");
inline const QString ScriptFile = QStringLiteral("Tessarine Script File");
inline const QString PopupFiles = QStringLiteral("Popup Files");
inline const QString InputFiles = QStringLiteral("Input Files");
inline const QString OutputFiles = QStringLiteral("Output Files");
inline const QString HelpFiles = QStringLiteral("Help Files");
inline const QString Views = QStringLiteral("Views");
inline const QString Corrupted = QStringLiteral(" - Corrupted");
} // namespace RowText

namespace RowKey {
inline QString of(int n, const QString& suffix)
{
    return QString::number(n) + suffix;
}
// "n-Vj-KIND" for the rows of field j.
inline QString ofField(int n, int j, const char* kind)
{
    return QString::number(n) + QStringLiteral("-V") + QString::number(j) + QLatin1Char('-') +
           QLatin1String(kind);
}
inline QString fieldText(int j, const QString& name)
{
    return QStringLiteral("V") + QString::number(j) + QLatin1Char('-') + name;
}
} // namespace RowKey

// The folder state that the main window shares with loading and building.
struct ControllerState
{
    QString CurrentFolder;  // upper case, ending in "\" once the tree has selected it
    QString TemplateFilter; // the template name from the command line, empty otherwise
    QStringList templateList;
    int templateCount = 0;
};
