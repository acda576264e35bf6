#pragma once

#include <QSortFilterProxyModel>

class EntryTreeModel;

// The viewer's entry tree as a filter by name leaves it, and sorted as the person asks. The tree
// model finds once which nodes the filter leaves in view (EntryTree::shownFor), so a row is
// accepted in constant time: a name thousands of folders deep costs the filter what its length
// costs, not its depth times itself, as asking each row about its parents and children would.
class EntryFilterProxy final : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    explicit EntryFilterProxy(QObject* parent);

    // Shows the entries of model; the filter given last applies to it.
    void setEntries(EntryTreeModel* model);
    // Leaves in view the names that hold text (case blind), the folders on their way and what
    // they hold; an empty text leaves everything.
    void setNameFilter(const QString& text);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    EntryTreeModel* m_entries = nullptr;
    QString m_text;
};
