// Times the catalogue load of a folder of 120 templates with 60 fields and 5 views each (about
// 30,000 rows) and prints rows per second and peak memory; then times a click on a group of
// 30,000 rows in the grid on screen (offscreen), until the event loop is idle again.
#include "catalogue/CatalogueLoader.h"
#include "catalogue/SelectionRules.h"
#include "components/OutlineGrid.h"
#include "components/Registration.h"
#include "desktop/GridView.h"
#include "diag/Debug.h"
#include "outside/IDesktop.h"
#include "outside/IFolderTree.h"
#include "outside/Registry.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/resource.h>
#include <time.h>

namespace {

class Tree final : public IFolderTree
{
public:
    void selectFolder(const QString& path, int, bool) override
    {
        m_path = path;
        m_handler();
    }
    QString selectedFolderPath() const override { return m_path; }
    void setAfterSelectHandler(std::function<void()> handler) override { m_handler = std::move(handler); }

private:
    QString m_path;
    std::function<void()> m_handler;
};

class Pointer final : public IMousePointer
{
public:
    void setBusy() override {}
    void setDefault() override {}
};

class NoMessages final : public IMessageBox
{
public:
    void showMessage(const QString&, MessageIcon, const QString&) override {}
};

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void touch(const QString& path)
{
    QFile(path).open(QIODevice::WriteOnly);
}

void writeFolder(const QString& folder)
{
    for (int t = 1; t <= 120; ++t) {
        const QString stem = QStringLiteral("T%1").arg(t, 3, 10, QLatin1Char('0'));
        QByteArray toml = "[Template]\nTitle = \"Template " + QByteArray::number(t) + "\"\n";
        toml += "PreProcessBatchFile = 'C:\\APP\\" + stem.toUtf8() + ".PRE'\n";
        toml += "AuditLogFile = 'C:\\LOGS\\" + stem.toUtf8() + ".LOG'\n";
        toml += "PostProcessBatchFile = 'C:\\APP\\" + stem.toUtf8() + ".PST'\n";
        for (int f = 1; f <= 60; ++f) {
            const QByteArray name = "F" + QByteArray::number(f);
            toml += "\n[[Field]]\nName = \"" + name + "\"\nKindCode = \"P\"\n";
            toml += "PopupFile = 'C:\\APP\\POP" + name + ".TPX'\nInputFile = 'C:\\IN\\" + name + ".CSV'\n";
            toml += "OutputFile = 'C:\\OUT\\" + name + ".CSV'\nHelpFile = '" + name + ".HLP'\n";
        }
        for (int v = 1; v <= 5; ++v) {
            toml += "\n[[View]]\nName = \"View " + QByteArray::number(v) +
                    "\"\nNumber = " + QByteArray::number(v) + "\n";
            touch(folder + QLatin1Char('/') + stem.toLower() + QStringLiteral(".tvm6.v%1").arg(v));
        }
        QFile file(folder + QLatin1Char('/') + stem.toLower() + QStringLiteral(".tst6"));
        file.open(QIODevice::WriteOnly);
        file.write(toml);
        for (const char* ext : {".tsd6", ".tsx6", ".pre", ".pst"})
            touch(folder + QLatin1Char('/') + stem.toLower() + QLatin1String(ext));
    }
}

// One template whose popup files group holds the given number of rows.
void writeLargeGroup(const QString& folder, int rows)
{
    QByteArray toml = "[Template]\nTitle = \"Large\"\n";
    for (int f = 1; f <= rows; ++f)
        toml += "[[Field]]\nName = \"F" + QByteArray::number(f) + "\"\nKindCode = \"P\"\nPopupFile = 'C:\\P" +
                QByteArray::number(f) + ".TPT'\n";
    QFile file(folder + QStringLiteral("/large.tst6"));
    file.open(QIODevice::WriteOnly);
    file.write(toml);
}

long peakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir root;
    qputenv("TS6_DRIVES", ("C=" + root.path()).toUtf8());
    qputenv("TS6_LOG_DIR", (root.path() + QStringLiteral("/trace")).toUtf8());
    registerCoreComponents();
    const ComponentMakers components = Registry::makers();
    Debug::useLogSinks(components.logSink);
    QDir().mkpath(root.path() + QStringLiteral("/app"));
    writeFolder(root.path() + QStringLiteral("/app"));
    const long before = peakKilobytes();

    ControllerState state;
    OutlineGrid grid;
    Tree tree;
    Pointer pointer;
    CatalogueLoader loader(state, grid, tree, pointer, components.pathUtility, components.templateReader);
    tree.setAfterSelectHandler([&] { loader.lstFolders_OnAfterNodeSelect(); });
    std::printf("%-6s %10s %12s %14s\n", "load", "rows", "seconds", "rows/second");
    for (int run = 1; run <= 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        tree.selectFolder(QStringLiteral("C:\\APP"), 0, true);
        const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
        const int rows = grid.rows() - 1;
        std::printf("%-6d %10d %12.3f %14.0f\n", run, rows, seconds, rows / seconds);
    }
    std::printf("peak memory: %.1f MB (%.1f MB before the first load)\n", peakKilobytes() / 1024.0,
                before / 1024.0);

    // A click on the check picture of a 30,000-row group, shown expanded in the grid.
    constexpr int kGroupRows = 30000;
    QDir().mkpath(root.path() + QStringLiteral("/large"));
    writeLargeGroup(root.path() + QStringLiteral("/large"), kGroupRows);
    GridView view(grid);
    view.resize(800, 600);
    view.show();
    tree.selectFolder(QStringLiteral("C:\\LARGE"), 0, true);
    const GridNode group = grid.nodeByKey(QStringLiteral("1-POPUPFILES"));
    grid.setExpanded(grid.nodeByKey(QStringLiteral("1-TEMPLATEFILE")), true);
    view.gridModel().flush();
    view.expandAll();
    QCoreApplication::processEvents();
    NoMessages messages;
    SelectionRules rules(grid, messages, QStringLiteral("ts6satchel"));
    std::printf("\nclick on a group of %d rows   %12s %12s\n", grid.nodeChildren(group), "CPU ms", "wall ms");
    for (int click = 1; click <= 4; ++click) {
        grid.setMouseCell(grid.nodeRow(group), 0);
        QElapsedTimer timer;
        const double cpu = processCpuSeconds();
        timer.start();
        rules.grdFiles_Mouseup(1, 0, 0, 0);
        QCoreApplication::processEvents();
        std::printf("  %-27s %12.2f %12.2f\n", click % 2 ? "exclude" : "include",
                    (processCpuSeconds() - cpu) * 1e3, static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    return 0;
}
