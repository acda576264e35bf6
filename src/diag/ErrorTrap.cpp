#include "diag/ErrorTrap.h"

#include <cstdio>

void sayOnStandardError(const QString& line)
{
    std::fprintf(stderr, "ts6satchel: %s\n", qPrintable(line));
    std::fflush(stderr);
}

void tellOnStandardError(const QString& what, const RuntimeError& error)
{
    sayOnStandardError(what + QStringLiteral(": ") +
                       Debug::composeErrorText(error.description(), error.number(), error.source()));
}

void tellUnexpected(const RuntimeError& error)
{
    tellOnStandardError(QStringLiteral("unexpected error"), error);
}
