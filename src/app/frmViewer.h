#pragma once

#include <QMainWindow>

#include <memory>
#include <vector>

class EntryFilterProxy;
class EntryPager;
class EntryTreeModel;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTableView;
class QTreeView;

// The viewer of a package or a case folder, as support receives them: the path and whether it is
// intact (every problem in the Damage pane); the entries in a tree, with a filter by name; the
// Entry pane, which streams the selected entry a page at a time; the manifest, the files left
// out, the masking report and the logs' time spans. A case folder shows its hosts and the versions
// that differ between them, and the package of the host chosen. It only shows: reading is the
// viewer layer's; every text of the package is shown as harmless plain text.
class frmViewer final : public QMainWindow
{
    Q_OBJECT

public:
    // Reads the package or case folder at the host path and makes its window (not shown yet);
    // none, with the reason, when it cannot be read at all.
    static std::unique_ptr<frmViewer> open(const QString& path, QString* error, QWidget* owner = nullptr);
    ~frmViewer() override;

    // Makes the first entry of that name current in the tree, as a click would; false when the
    // package shown holds none.
    bool selectEntry(const QString& name);
    // Shows the package of the case's host in that row of Hosts.
    void selectHost(int row);

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Content;
    frmViewer(std::unique_ptr<Content> content, QWidget* owner);

    QWidget* buildEntriesSide();
    QWidget* buildEntryPane();
    QWidget* buildHostsPane();
    QWidget* buildPane(const QString& name, const QString& title);
    void showStatus();
    void showPackage(int host);
    void showEntry(const QModelIndex& current);
    void showPage();
    void filterEntries(const QString& text);
    void fillPackagePanes();
    void sizeColumns();
    void sizeColumnsSoon();
    int deepestIndentInView() const;
    int leastNameWidth() const;

    std::unique_ptr<Content> m_content;
    std::unique_ptr<EntryPager> m_pager;
    QLabel* m_path = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_damageButton = nullptr;
    QLineEdit* m_filter = nullptr;
    QTreeView* m_tree = nullptr;
    QObject* m_treeViewport = nullptr; // whose resizing sizes the tree's columns
    EntryFilterProxy* m_proxy = nullptr;
    EntryTreeModel* m_model = nullptr; // owned by this window, replaced with the package shown
    QTabWidget* m_tabs = nullptr;
    QLabel* m_entryName = nullptr;
    QPlainTextEdit* m_entryText = nullptr;
    QPushButton* m_previous = nullptr;
    QPushButton* m_next = nullptr;
    QLabel* m_pageLabel = nullptr;
    QLabel* m_shownPackage = nullptr;
    QLabel* m_damageNote = nullptr;
    QPlainTextEdit* m_damageText = nullptr;
    QTableView* m_hosts = nullptr;
    bool m_columnsSized = false;
    bool m_sizingColumns = false;   // a sizing waits for the event loop
    bool m_applyingWidths = false;  // the sizing is setting the columns' widths
    bool m_nameSizedByHand = false; // the person dragged the name column's edge
    int m_nameWanted = 0;           // what the names in view need, as last measured

    // A pane's note over its table; the table shows only when it has rows.
    struct TablePane
    {
        QLabel* note = nullptr;
        QTableView* table = nullptr;
    };
    TablePane addTable(QWidget* pane, const QString& name);
    static void fill(TablePane& pane, const QString& note, const QStringList& headers,
                     std::vector<QStringList>&& rows);

    TablePane m_manifestFields;
    TablePane m_manifestFiles;
    TablePane m_leftOut;
    TablePane m_masked;
    TablePane m_notChecked;
    TablePane m_logs;
    TablePane m_differences;
};
