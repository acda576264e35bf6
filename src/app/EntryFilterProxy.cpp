#include "app/EntryFilterProxy.h"

#include "app/EntryTreeModel.h"

EntryFilterProxy::EntryFilterProxy(QObject* parent) : QSortFilterProxyModel(parent)
{
    setSortRole(EntryTreeModel::SortRole);
    setSortCaseSensitivity(Qt::CaseInsensitive);
}

void EntryFilterProxy::setEntries(EntryTreeModel* model)
{
    m_entries = model;
    if (m_entries)
        m_entries->setNameFilter(m_text);
    setSourceModel(model);
}

void EntryFilterProxy::setNameFilter(const QString& text)
{
    m_text = text;
    if (m_entries)
        m_entries->setNameFilter(text);
    invalidateRowsFilter();
}

bool EntryFilterProxy::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    return !m_entries || m_entries->shownByFilter(m_entries->index(sourceRow, 0, sourceParent));
}
