#pragma once

#include "outside/IDesktop.h"
#include "outside/IFolderTree.h"

#include <QStringList>

#include <functional>

// A folder tree that selects whatever path it is given and raises after-select at once.
class FakeFolderTree final : public IFolderTree
{
public:
    void SelectFolder(const QString& path, int, bool raiseEvent) override
    {
        selected = path;
        if (raiseEvent && handler)
            handler();
    }
    QString SelectedFolderPath() const override { return selected; }
    void SetAfterSelectHandler(std::function<void()> h) override { handler = std::move(h); }

    QString selected;
    std::function<void()> handler;
};

class FakeMousePointer final : public IMousePointer
{
public:
    void SetBusy() override { calls.append(QStringLiteral("busy")); }
    void SetDefault() override { calls.append(QStringLiteral("default")); }
    QStringList calls;
};

class FakeMessageBox final : public IMessageBox
{
public:
    void Show(const QString& text, MessageIcon icon, const QString& caption) override
    {
        shown.append(text);
        lastIcon = icon;
        lastCaption = caption;
    }
    QStringList shown;
    MessageIcon lastIcon = MessageIcon::Information;
    QString lastCaption;
};

class FakeEventLoop final : public IEventLoop
{
public:
    void DoEvents() override { ++turns; }
    int turns = 0;
};
