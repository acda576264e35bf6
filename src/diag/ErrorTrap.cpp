#include "diag/ErrorTrap.h"

#include <cstdio>

void TellOnStandardError(const QString& what, const RuntimeError& error)
{
    std::fprintf(stderr, "ts6satchel: %s: %s\n", qPrintable(what),
                 qPrintable(Debug::ComposeErrorText(error.description(), error.number(), error.source())));
    std::fflush(stderr);
}

void TellUnexpected(const RuntimeError& error)
{
    TellOnStandardError(QStringLiteral("unexpected error"), error);
}
