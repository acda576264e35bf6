#include "support/ArchiveCheck.h"

#include <QProcess>

namespace {

const char* kListScript = R"(import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    bad = z.testzip()
    if bad is not None:
        print("BAD " + bad)
        sys.exit(1)
    for i in z.infolist():
        print(("U " if i.flag_bits & 0x800 else "N ") + i.filename)
    print("C " + z.comment.decode("utf-8", "replace").replace("\n", "\\n"))
)";

const char* kReadScript = R"(import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    sys.stdout.buffer.write(z.read(sys.argv[2]))
)";

QProcess::ExitStatus run(const QString& program, const QStringList& args, QByteArray& out, int& code)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    p.waitForFinished(300000);
    out = p.readAll();
    code = p.exitCode();
    return p.exitStatus();
}

} // namespace

ArchiveReport CheckArchive(const QString& hostPath)
{
    ArchiveReport report;
    QByteArray out;
    int code = -1;
    report.unzipOk =
        run(QStringLiteral("unzip"), {QStringLiteral("-tqq"), hostPath}, out, code) == QProcess::NormalExit &&
        code == 0;
    report.details = QStringLiteral("unzip: ") + QString::fromUtf8(out);
    report.sevenZipOk = run(QStringLiteral("7zz"),
                            {QStringLiteral("t"), QStringLiteral("-bd"), QStringLiteral("-bso0"), hostPath},
                            out, code) == QProcess::NormalExit &&
                        code == 0;
    report.details += QStringLiteral("\n7zz: ") + QString::fromUtf8(out);
    QProcess python;
    python.start(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromUtf8(kListScript), hostPath});
    python.waitForFinished(300000);
    const QString listing = QString::fromUtf8(python.readAllStandardOutput());
    report.pythonOk = python.exitStatus() == QProcess::NormalExit && python.exitCode() == 0;
    report.details +=
        QStringLiteral("\npython: ") + listing + QString::fromUtf8(python.readAllStandardError());
    report.allNamesUtf8 = true;
    for (const QString& line : listing.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (line.startsWith(QLatin1String("U ")) || line.startsWith(QLatin1String("N "))) {
            report.names.append(line.mid(2));
            report.allNamesUtf8 = report.allNamesUtf8 && line.startsWith(QLatin1String("U "));
        } else if (line.startsWith(QLatin1String("C "))) {
            report.comment = line.mid(2).replace(QStringLiteral("\\n"), QStringLiteral("\n"));
        }
    }
    return report;
}

QByteArray ReadEntry(const QString& hostPath, const QString& name)
{
    QProcess python;
    python.start(QStringLiteral("python3"),
                 {QStringLiteral("-c"), QString::fromUtf8(kReadScript), hostPath, name});
    python.waitForFinished(300000);
    return python.readAllStandardOutput();
}
