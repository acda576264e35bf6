#include "support/TestTools.h"

#include <QFileInfo>
#include <QStandardPaths>

namespace {

QString notInstalled(const QString& what)
{
    return what + QStringLiteral(" is not installed: run bash scripts/install-deps.sh test");
}

} // namespace

QString missingTestPrograms(const QStringList& programs)
{
    for (const QString& program : programs) {
        const bool found = program.startsWith(QLatin1Char('/'))
                               ? QFileInfo(program).isExecutable()
                               : !QStandardPaths::findExecutable(program).isEmpty();
        if (!found)
            return notInstalled(program);
    }
    return {};
}

QString nssWrapperLibrary(QString* why)
{
    // The folders the compiler links from, the system's library folders among them.
    for (const QString& folder :
         QStringLiteral(TS6_LIBRARY_DIRS).split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        const QString library = folder + QStringLiteral("/libnss_wrapper.so");
        if (QFileInfo::exists(library))
            return library;
    }
    *why = notInstalled(QStringLiteral("libnss_wrapper.so (libnss-wrapper)"));
    return {};
}
