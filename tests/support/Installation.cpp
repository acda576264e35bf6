#include "support/Installation.h"

#include "components/OutlineGrid.h"

namespace {

QByteArray literal(const QString& text)
{
    return "'" + text.toUtf8() + "'";
}

QByteArray basic(const QString& text)
{
    return "\"" + text.toUtf8().replace("\\", "\\\\").replace("\"", "\\\"") + "\"";
}

void dump(const OutlineGrid& grid, GridNode node, QStringList& lines)
{
    const auto text = [&](int col) { return grid.cellOf(node, col).text; };
    lines.append(QStringList{QString::number(grid.nodeLevel(node)), text(0), grid.nodeKey(node), text(1),
                             text(2), QString::number(grid.nodePicture(node))}
                     .join('|') +
                 (grid.isExpanded(node) ? "" : "|collapsed"));
    for (const GridNode child : grid.childrenOf(node))
        dump(grid, child, lines);
}

} // namespace

QByteArray templateToml(const TemplateSpec& content)
{
    QByteArray out = "[Template]\nTitle = " + basic(content.title) + "\n";
    out += "PreProcessBatchFile = " + literal(content.preProcess) + "\n";
    out += "AuditLogFile = " + literal(content.auditLog) + "\n";
    out += "PostProcessBatchFile = " + literal(content.postProcess) + "\n";
    for (const TemplateField& f : content.fields) {
        out += "\n[[Field]]\nName = " + basic(f.name) + "\nKindCode = " + basic(f.kindCode) + "\n";
        out += "PopupFile = " + literal(f.popupFile) + "\nInputFile = " + literal(f.inputFile) + "\n";
        out += "OutputFile = " + literal(f.outputFile) + "\nHelpFile = " + literal(f.helpFile) + "\n";
    }
    for (const TemplateView& v : content.views) {
        out += "\n[[View]]\nName = " + basic(v.name) + "\nNumber = ";
        out += (v.number.typeId() == QMetaType::QString ? basic(v.number.toString())
                                                        : v.number.toString().toUtf8()) +
               "\n";
    }
    return out;
}

QStringList gridDump(const OutlineGrid& grid)
{
    QStringList lines;
    for (const GridNode top : grid.topRows())
        dump(grid, top, lines);
    return lines;
}
