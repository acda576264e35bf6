#include "support/Installation.h"

#include "components/OutlineGrid.h"

namespace {

QByteArray literal(const QString& text)
{
    return "'" + text.toUtf8() + "'";
}

QByteArray basic(const QString& text)
{
    QByteArray escaped = text.toUtf8();
    escaped.replace("\\", "\\\\").replace("\"", "\\\"");
    return "\"" + escaped + "\"";
}

void dump(const OutlineGrid& grid, GridNode node, QStringList& lines)
{
    const auto text = [&](int col) { return grid.CellOf(node, col).text; };
    QString line = QString::number(grid.NodeLevel(node)) + QLatin1Char('|') + text(0) + QLatin1Char('|') +
                   grid.NodeKey(node) + QLatin1Char('|') + text(1) + QLatin1Char('|') + text(2) +
                   QLatin1Char('|') + QString::number(grid.NodePicture(node));
    if (!grid.IsExpanded(node))
        line += QStringLiteral("|collapsed");
    lines.append(line);
    for (const GridNode child : grid.ChildrenOf(node))
        dump(grid, child, lines);
}

} // namespace

QByteArray TemplateToml(const TemplateSpec& content)
{
    QByteArray out = "[Template]\n";
    out += "Title = " + basic(content.title) + "\n";
    out += "PreProcessBatchFile = " + literal(content.preProcess) + "\n";
    out += "AuditLogFile = " + literal(content.auditLog) + "\n";
    out += "PostProcessBatchFile = " + literal(content.postProcess) + "\n";
    for (const FieldSpec& f : content.fields) {
        out += "\n[[Field]]\nName = " + basic(f.name) + "\nKindCode = " + basic(f.kindCode) + "\n";
        out += "PopupFile = " + literal(f.popupFile) + "\nInputFile = " + literal(f.inputFile) + "\n";
        out += "OutputFile = " + literal(f.outputFile) + "\nHelpFile = " + literal(f.helpFile) + "\n";
    }
    for (const ViewSpec& v : content.views) {
        out += "\n[[View]]\nName = " + basic(v.name) + "\nNumber = ";
        out += v.number.typeId() == QMetaType::QString ? basic(v.number.toString())
                                                       : v.number.toString().toUtf8();
        out += "\n";
    }
    return out;
}

QStringList GridDump(const OutlineGrid& grid)
{
    QStringList lines;
    for (const GridNode top : grid.TopRows())
        dump(grid, top, lines);
    return lines;
}
