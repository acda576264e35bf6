#pragma once

#include <QString>

enum class MessageIcon
{
    Information,
    Exclamation,
};

// The screen-wide mouse pointer.
class IMousePointer
{
public:
    virtual ~IMousePointer() = default;
    virtual void setBusy() = 0;
    virtual void setDefault() = 0;
};

// A message box with an OK button; returns when the user closes it.
class IMessageBox
{
public:
    virtual ~IMessageBox() = default;
    virtual void showMessage(const QString& text, MessageIcon icon, const QString& caption) = 0;
};

// Lets the event loop run once, so that windows repaint.
class IEventLoop
{
public:
    virtual ~IEventLoop() = default;
    virtual void doEvents() = 0;
};
