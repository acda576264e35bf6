#include "diag/ErrorTrap.h"

#include <cstdio>

void sayOnStandardError(const QString& line)
{
    std::fprintf(stderr, "ts6satchel: %s\n", qPrintable(line));
    std::fflush(stderr);
}

void tellUnexpected(const RuntimeError& error)
{
    sayOnStandardError(QStringLiteral("unexpected error: ") +
                       Debug::composeErrorText(error.description(), error.number(), error.source()));
}
