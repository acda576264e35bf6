#pragma once

#include "outside/IDesktop.h"
#include "outside/IFolderTree.h"
#include "outside/IProgressWindow.h"
#include "outside/ISaveDialog.h"

#include <QStringList>

#include <functional>
#include <memory>

// A folder tree that selects whatever path it is given and raises after-select at once.
struct FakeFolderTree final : IFolderTree
{
    void selectFolder(const QString& path, int, bool raiseEvent) override
    {
        selected = path;
        if (raiseEvent && handler)
            handler();
    }
    QString selectedFolderPath() const override { return selected; }
    void setAfterSelectHandler(std::function<void()> h) override { handler = std::move(h); }

    QString selected;
    std::function<void()> handler;
};

struct FakeMousePointer final : IMousePointer
{
    void setBusy() override { calls.append(QStringLiteral("busy")); }
    void setDefault() override { calls.append(QStringLiteral("default")); }
    QStringList calls;
};

struct FakeMessageBox final : IMessageBox
{
    void showMessage(const QString& text, MessageIcon icon, const QString& caption) override
    {
        shown.append(text);
        lastIcon = icon;
        lastCaption = caption;
    }
    QStringList shown;
    MessageIcon lastIcon = MessageIcon::Information;
    QString lastCaption;
};

struct FakeEventLoop final : IEventLoop
{
    void doEvents() override
    {
        ++turns;
        if (during)
            during();
    }
    int turns = 0;
    std::function<void()> during; // what "happens" while the program lets events through
};

// A save dialog answered by the test: the path it "chooses", or cancel when that is empty.
struct FakeSaveDialog final : ISaveDialog
{
    bool getSaveFileName(SaveFileRecord& record) override
    {
        seen.append(record);
        if (answer.isEmpty())
            return false;
        record.file = answer + QChar(u'\0') + record.file.mid(answer.size() + 1);
        record.flags = returnedFlags ? returnedFlags : record.flags;
        return true;
    }
    QString answer;
    std::uint32_t returnedFlags = 0;
    QList<SaveFileRecord> seen;
};

// Records what a build shows in its progress windows: "show", each status text, "close".
struct FakeProgressWindow final : IProgressWindow
{
    explicit FakeProgressWindow(std::shared_ptr<QStringList> events) : m_events(std::move(events)) {}
    void Show() override { m_events->append(QStringLiteral("show")); }
    void setStatus(const QString& text) override { m_events->append(text); }
    void Close() override { m_events->append(QStringLiteral("close")); }
    std::shared_ptr<QStringList> m_events;
};
