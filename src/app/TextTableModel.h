#pragma once

#include <QAbstractTableModel>
#include <QStringList>

#include <vector>

// A read-only table of texts for the viewer's panes (manifest fields, files left out, log spans,
// hosts...): each cell shown through shownText, so no text of a package can reach a view as
// anything but harmless plain text. Light enough for a hundred thousand rows.
class TextTableModel final : public QAbstractTableModel
{
    Q_OBJECT

public:
    TextTableModel(const QStringList& headers, std::vector<QStringList> rows, QObject* parent);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QStringList m_headers;
    std::vector<QStringList> m_rows;
};
