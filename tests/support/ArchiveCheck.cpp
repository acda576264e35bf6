#include "support/ArchiveCheck.h"

#include "support/TestTools.h"

#include <QProcess>

namespace {

const char* kListScript = R"(import hashlib, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    if len(sys.argv) > 2:
        sys.stdout.buffer.write(z.read(sys.argv[2]))
        sys.exit()
    for i in z.infolist():
        digest = hashlib.sha256(z.read(i)).hexdigest()
        print("E", i.filename, i.file_size, "%04d-%02d-%02d %02d:%02d:%02d" % i.date_time,
              i.external_attr >> 16, i.compress_type, digest, sep="\t")
    print("C\t" + z.comment.hex())
)";

// Runs a tool; whether it ended well, and what it printed on standard output (and on standard
// error too when err is not given).
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

ArchiveReport checkArchive(const QString& hostPath)
{
    ArchiveReport report;
    report.details = missingTestPrograms({"unzip", "7zz", "python3"});
    if (!report.details.isEmpty())
        return report;
    QByteArray out, err;
    const bool unzipOk = run("unzip", {"-tqq", hostPath}, out);
    report.details = "unzip: " + QString::fromUtf8(out);
    const bool sevenZipOk = run("7zz", {"t", "-bd", "-bso0", hostPath}, out);
    report.details += "\n7zz: " + QString::fromUtf8(out);
    const bool pythonOk = run("python3", {"-c", kListScript, hostPath}, out, &err);
    const QString listing = QString::fromUtf8(out);
    report.details += "\npython: " + listing + QString::fromUtf8(err);
    for (const QString& line : listing.split('\n', Qt::SkipEmptyParts)) {
        const QStringList f = line.split('\t');
        if (f.first() == "C") {
            report.comment = QString::fromUtf8(QByteArray::fromHex(f.value(1).toLatin1()));
        } else if (f.size() == 7) {
            report.names.append(f.at(1));
            report.entries.append({f.at(1), f.at(2).toLongLong(), f.at(3), f.at(4).toInt(), f.at(5).toInt(),
                                   f.at(6).toLatin1()});
        }
    }
    // An archive of no entries is well formed; unzip only warns that it is empty.
    const bool empty = report.names.isEmpty() && report.details.contains("zipfile is empty");
    report.allRead = (unzipOk || empty) && sevenZipOk && pythonOk;
    return report;
}

QByteArray readEntry(const QString& hostPath, const QString& name)
{
    QByteArray out, err;
    run("python3", {"-c", kListScript, hostPath, name}, out, &err);
    return out;
}
