#pragma once

#include "components/OutlineGrid.h"
#include "controller/frmSatchel.h"
#include "desktop/QtDesktop.h"
#include "outside/IMainWindow.h"

#include <QMainWindow>

#include <memory>

class GridView;
class QLabel;
class QPushButton;
class QSplitter;
class QtFolderTree;

// The main window: banner strip with the title, the splitter with folder tree and file grid, the
// button panel, the menus. It is thin: its controller, frmSatchel, does the work.
class SatchelWindow final : public QMainWindow, public IMainWindow
{
    Q_OBJECT

public:
    SatchelWindow(Desktop& desktop, ComponentMakers components, const QString& commandLine,
                  const PackageOptions& batchOptions = {});
    ~SatchelWindow() override;

    frmSatchel& controller() { return *m_controller; }
    OutlineGrid& grid() { return m_grid; }
    GridView& gridView() { return *m_gridView; }
    QtSaveDialog& saveDialog() { return m_saveDialog; }
    QtMessageBox& messageBox() { return m_messages; }
    QtFolderTree& folderTree() { return *m_folders; }

    // The layout step of every resize: splitter, button panel and title follow the client area.
    void Resize_Form();

    // IMainWindow
    QRect normalRectangle() const override;
    void moveInTwips(double left, double top, double width, double height) override;
    QMargins frameMargins() const override;
    int windowStateCode() const override;
    void setWindowStateCode(int state) override;
    void setTitleCaption(const QString& caption) override;
    void setHelpFile(const QString& path) override;
    void showStatus(const QString& text) override;
    void destroyWindow() override;

    QString helpFile() const { return m_helpFile; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildParts();
    void buildMenus();
    void openViewer(const QString& path);
    void clientResized();
    void noteNormalRectangle();
    void sizeButtons();
    double twipsX(int pixels) const;
    double twipsY(int pixels) const;
    int pixelsX(double twips) const;
    int pixelsY(double twips) const;

    Desktop& m_desktop;
    OutlineGrid m_grid;
    QtScreen m_screen;
    QtMousePointer m_pointer;
    QtEventLoop m_events;
    QtMessageBox m_messages;
    QtSaveDialog m_saveDialog;
    QWidget* m_client = nullptr;
    QLabel* m_header = nullptr;
    QLabel* m_title = nullptr;
    QSplitter* m_splitter = nullptr;
    QtFolderTree* m_folders = nullptr;
    GridView* m_gridView = nullptr;
    QWidget* m_buttons = nullptr;
    std::unique_ptr<frmSatchel> m_controller;
    QString m_helpFile;
    // The last two rectangles the window had in its normal state: a maximise may be heard of after
    // the window has already taken the screen's size.
    QRect m_normal;
    QRect m_normalBefore;
    bool m_destroyed = false;
};
