#include "diag/ErrorTrap.h"

#include <cstdio>

void SayOnStandardError(const QString& line)
{
    std::fprintf(stderr, "ts6satchel: %s\n", qPrintable(line));
    std::fflush(stderr);
}

void TellOnStandardError(const QString& what, const RuntimeError& error)
{
    SayOnStandardError(what + QStringLiteral(": ") +
                       Debug::ComposeErrorText(error.description(), error.number(), error.source()));
}

void TellUnexpected(const RuntimeError& error)
{
    TellOnStandardError(QStringLiteral("unexpected error"), error);
}
