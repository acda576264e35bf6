#include "app/TextTableModel.h"

#include "base/ShownText.h"

#include <QTextDocument>

TextTableModel::TextTableModel(const QStringList& headers, std::vector<QStringList> rows, QObject* parent)
    : QAbstractTableModel(parent), m_headers(headers), m_rows(std::move(rows))
{
    for (QStringList& row : m_rows)
        for (QString& cell : row)
            cell = shownText(cell);
}

int TextTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int TextTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_headers.size());
}

QVariant TextTableModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const QString text = m_rows[size_t(index.row())].value(index.column());
    if (role == Qt::ToolTipRole) // escaped: a tool tip takes what looks like markup for markup
        return Qt::convertFromPlainText(text);
    return role == Qt::DisplayRole ? QVariant(text) : QVariant();
}

QVariant TextTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return m_headers.value(section);
}
