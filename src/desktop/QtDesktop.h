#pragma once

#include "outside/IDesktop.h"
#include "outside/IProgressWindow.h"
#include "outside/ISaveDialog.h"
#include "outside/IScreen.h"

#include <QIcon>
#include <QMargins>
#include <QObject>
#include <QPalette>
#include <QPoint>
#include <QRect>
#include <QStringList>

#include <functional>

#include <memory>

class QWidget;
class TerminalLine;

// How the program meets the person in front of it. Without a display nothing that needs a
// person is shown; what was left out is noted, so the program can say why it ends with status 2.
class Desktop
{
public:
    explicit Desktop(bool headless) : m_headless(headless) {}
    bool headless() const { return m_headless; }
    void notePersonNeeded(const QString& what) { m_needed.append(what); }
    const QStringList& personNeeded() const { return m_needed; }

private:
    bool m_headless;
    QStringList m_needed;
};

class QtMousePointer final : public IMousePointer
{
public:
    ~QtMousePointer() override;
    void setBusy() override;
    void setDefault() override;

private:
    int m_depth = 0;
};

class QtEventLoop final : public IEventLoop
{
public:
    void doEvents() override;
};

class QtMessageBox final : public IMessageBox
{
public:
    QtMessageBox(Desktop& desktop, std::function<QWidget*()> owner)
        : m_desktop(desktop), m_owner(std::move(owner))
    {}
    void showMessage(const QString& text, MessageIcon icon, const QString& caption) override;

    // For tests: called with the message box once it is shown, instead of waiting for a person.
    std::function<void(QWidget* box)> answerer;

private:
    Desktop& m_desktop;
    std::function<QWidget*()> m_owner;
};

// The primary screen; twips per pixel are 1440 over the logical dots per inch of each axis.
class QtScreen final : public IScreen
{
public:
    double widthTwips() const override;
    double heightTwips() const override;
    double twipsPerPixelX() const override;
    double twipsPerPixelY() const override;
    QRect availableArea(const QRect& near) const override;
};

// The decoration around a top-level window: as the window manager drew it, or, before the first
// show, a title bar of about two lines of text and a thin border.
QMargins frameMarginsOf(const QWidget& window);

// Keeps every window and dialog, as it is shown, inside the available area of its screen: one that
// does not fit is moved, then shrunk. Watches the whole application while it lives.
class ScreenKeeper final : public QObject
{
public:
    ScreenKeeper();
    ~ScreenKeeper() override;

    // Fits one window now.
    static void fit(QWidget& window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// Twips to whole pixels on the primary screen, along each axis.
int toPixelsX(double twips);
int toPixelsY(double twips);

// Where a dialog goes to stand centred over its owner: each coordinate rounded to the nearest
// integer, halves to even.
QPoint centerOver(const QRect& owner, const QRect& dialog);

// The save dialog on QFileDialog: the proposed path, the title, the one filter, a question before
// replacing a file, centred over its owner; a cancel (or no display) is reported as cancelled.
class QtSaveDialog final : public ISaveDialog
{
public:
    explicit QtSaveDialog(Desktop& desktop) : m_desktop(desktop) {}
    bool getSaveFileName(SaveFileRecord& record) override;

    // For tests: called with the dialog once it is shown, instead of waiting for a person.
    std::function<void(QWidget* dialog)> answerer;

private:
    Desktop& m_desktop;
};

// Echoes the status texts of a build on standard error, besides showing them in the window: one
// line each, or on a terminal one line that is rewritten, with the bytes done and in all while a
// long add goes on, and cleared at the end.
class EchoingProgress final : public IProgressWindow
{
public:
    explicit EchoingProgress(std::unique_ptr<IProgressWindow> window);
    ~EchoingProgress() override;
    void Show() override;
    void setStatus(const QString& text) override;
    void setBytes(qint64 done, qint64 total) override;
    void Close() override;

private:
    std::unique_ptr<IProgressWindow> m_window;
    const std::unique_ptr<TerminalLine> m_line; // on standard error
    QString m_status;
};

// The program's icon, which every window of it carries (the main window makes it the application's).
QIcon programIcon();
// A window painted white, as the progress window and the About box are, whatever the desktop's
// theme: the text on it dark and its links blue, so a dark theme never gives white on white.
QPalette whitePalette(QPalette palette);

QWidget* widgetOf(WindowHandle handle);
WindowHandle handleOf(QWidget* widget);
