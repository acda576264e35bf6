#pragma once

#include <QString>
#include <QStringList>

// What the command line of a verb asks for: a run with its options, the verb's help, the program's
// version, or nothing but the reason the line cannot be read.
template <typename Options> struct VerbCommand
{
    enum class Action
    {
        Run,
        Help,
        Version,
        UsageError,
    };
    Action action = Action::Run;
    QString error{};
    Options options{};

    static VerbCommand usageError(QString why)
    {
        VerbCommand command;
        command.action = Action::UsageError;
        command.error = std::move(why);
        return command;
    }
};
