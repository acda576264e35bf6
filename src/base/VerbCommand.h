#pragma once

#include <QString>

#include <cstdio>
#include <optional>

// What the command line of a verb (collect, upload...) asks for: a run with its options, the verb's
// help, or nothing but the reason the line cannot be read.
template <typename Options> struct VerbCommand
{
    enum class Action
    {
        Run,
        Help,
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

inline constexpr int kUsageStatus = 64;

// The verb's answer to a command line that asks for no run: the help on standard output (status
// 0), or the reason and the usage on standard error (status 64). None when the verb is to run.
template <typename Options>
std::optional<int> answerWithoutRunning(const VerbCommand<Options>& command, const QString& help,
                                        const QString& usage)
{
    using Action = typename VerbCommand<Options>::Action;
    if (command.action == Action::Help) {
        std::fputs(qPrintable(help), stdout);
        return 0;
    }
    if (command.action == Action::UsageError) {
        std::fputs(qPrintable(QStringLiteral("ts6satchel: %1\n").arg(command.error)), stderr);
        std::fputs(qPrintable(usage), stderr);
        return kUsageStatus;
    }
    return std::nullopt;
}
