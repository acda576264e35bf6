#include "platform/CommandLine.h"

#include "platform/HostPath.h"

QString BuildCommandLine(const QStringList& arguments)
{
    QStringList quoted;
    quoted.reserve(arguments.size());
    for (const QString& argument : arguments) {
        const QString text = argument.startsWith(QLatin1Char('/')) ? HostPath::ToWindows(argument) : argument;
        quoted.append(QLatin1Char('"') + text + QLatin1Char('"'));
    }
    return quoted.join(QLatin1Char(' '));
}
