#include "support/ArchiveCheck.h"

#include <QProcess>

namespace {

const char* kListScript = R"(import hashlib, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    for i in z.infolist():
        digest = hashlib.sha256(z.read(i)).hexdigest()
        print("E", i.filename, i.flag_bits & 0x800, i.file_size, "%04d-%02d-%02d %02d:%02d:%02d" % i.date_time,
              i.external_attr >> 16, i.create_system, i.compress_type, digest, sep="\t")
    print("C\t" + z.comment.decode("utf-8", "replace").replace("\n", "\\n"))
)";

const char* kReadScript = R"(import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    sys.stdout.buffer.write(z.read(sys.argv[2]))
)";

bool run(const QString& program, const QStringList& args, QByteArray& out, QByteArray* err = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(err ? QProcess::SeparateChannels : QProcess::MergedChannels);
    p.start(program, args);
    p.waitForFinished(300000);
    out = p.readAllStandardOutput();
    if (err)
        *err = p.readAllStandardError();
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

ArchiveReport CheckArchive(const QString& hostPath)
{
    ArchiveReport report;
    QByteArray out, err;
    report.unzipOk = run(QStringLiteral("unzip"), {QStringLiteral("-tqq"), hostPath}, out);
    report.details = QStringLiteral("unzip: ") + QString::fromUtf8(out);
    report.sevenZipOk =
        run(QStringLiteral("7zz"),
            {QStringLiteral("t"), QStringLiteral("-bd"), QStringLiteral("-bso0"), hostPath}, out);
    report.details += QStringLiteral("\n7zz: ") + QString::fromUtf8(out);
    report.pythonOk = run(QStringLiteral("python3"),
                          {QStringLiteral("-c"), QString::fromUtf8(kListScript), hostPath}, out, &err);
    const QString listing = QString::fromUtf8(out);
    report.details += QStringLiteral("\npython: ") + listing + QString::fromUtf8(err);
    for (const QString& line : listing.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList f = line.split(QLatin1Char('\t'));
        if (f.first() == QLatin1String("C")) {
            report.comment = f.value(1).replace(QStringLiteral("\\n"), QStringLiteral("\n"));
        } else if (f.size() == 9) {
            report.names.append(f.at(1));
            report.entries.append({f.at(1), f.at(2) != QLatin1String("0"), f.at(3).toLongLong(), f.at(4),
                                   f.at(5).toInt(), f.at(6).toInt(), f.at(7).toInt(), f.at(8).toLatin1()});
        }
    }
    // An archive of no entries is well formed; unzip only warns that it is empty.
    report.unzipOk = report.unzipOk || (report.pythonOk && report.names.isEmpty() &&
                                        report.details.contains(QLatin1String("zipfile is empty")));
    return report;
}

QByteArray ReadEntry(const QString& hostPath, const QString& name)
{
    QByteArray out, err;
    run(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromUtf8(kReadScript), hostPath, name},
        out, &err);
    return out;
}
