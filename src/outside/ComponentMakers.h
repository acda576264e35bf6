#pragma once

#include "base/RuntimeError.h"

#include <QString>

#include <functional>
#include <memory>

class IHelpCatalog;
class ILogSink;
class IPathUtility;
class IProductInfo;
class ISettingsStore;
class ITemplateReader;
class IZipWriter;

// Makes a fresh outside component of interface I each time it is called.
template <typename I> using Maker = std::function<std::unique_ptr<I>()>;

// The outside components a part of the program uses, handed to it when it is built. Each user
// asks its maker when it needs a component, so it keeps the lifetime it needs (a path utility
// per question, a template reader per load, a help catalog per help command), and what depends
// on what is said where the program is assembled.
struct ComponentMakers
{
    Maker<IPathUtility> pathUtility;
    Maker<ITemplateReader> templateReader;
    Maker<IZipWriter> zipWriter;
    Maker<IProductInfo> productInfo;
    Maker<ISettingsStore> settingsStore;
    Maker<IHelpCatalog> helpCatalog;
    Maker<ILogSink> logSink;
};

// A component from its maker; a missing maker, or one that makes nothing, raises the run-time error
// "cannot create component" with the interface's class identifier as its source.
template <typename I> std::unique_ptr<I> make(const Maker<I>& maker)
{
    std::unique_ptr<I> made = maker ? maker() : nullptr;
    if (!made)
        raiseError(ErrorNumber::CannotCreateComponent, QStringLiteral("Cannot create component"),
                   QString::fromLatin1(I::ClassId));
    return made;
}
