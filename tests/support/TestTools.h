#pragma once

#include <QString>
#include <QStringList>
#include <QTest>

// What the tests need besides the build: the programs and libraries that the "test" group of
// scripts/install-deps.sh installs. They are looked for when a test needs them, never when the
// project is configured, so the program builds without them; a test that needs one that is
// missing fails with the command that installs it.

// Why the programs cannot all be run: the first one missing from the PATH (or, for a path, the
// file), named with the install command; empty when all are there.
QString missingTestPrograms(const QStringList& programs);

// The host path of libnss_wrapper.so, or empty with the reason in why.
QString nssWrapperLibrary(QString* why);

// How a program run to its end ended: its exit status (-1 when it did not start or end), what it
// wrote on standard output and on standard error.
struct ToolRun
{
    int status = -1;
    QByteArray out;
    QByteArray err;
};

// Runs a program in a folder (the test's own when empty) with the bytes on its standard input.
ToolRun runTool(const QString& program, const QStringList& arguments, const QByteArray& input = {},
                const QString& folder = {});

// Fails the test function, naming the install command, when one of the programs is missing.
#define TS6_REQUIRE_PROGRAMS(...)                                                                            \
    do {                                                                                                     \
        const QString missingPrograms = missingTestPrograms(__VA_ARGS__);                                    \
        QVERIFY2(missingPrograms.isEmpty(), qPrintable(missingPrograms));                                    \
    } while (false)
