#include "Corpus.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <cstring>

#include <random>

namespace {

const char* const kWords[] = {"INFO",    "WARN",    "order",   "customer", "screen", "ORDERS",  "saved",
                              "opened",  "closed",  "query",   "STOCK",    "region", "printed", "batch",
                              "user",    "session", "timeout", "ms",       "record", "field",   "value",
                              "updated", "commit",  "retry",   "agent",    "license"};

QByteArray logText(std::mt19937& random, qint64 bytes)
{
    QByteArray out;
    out.reserve(bytes + 256);
    std::uniform_int_distribution<int> word(0, std::size(kWords) - 1);
    std::uniform_int_distribution<int> number(0, 99999);
    int line = 0;
    while (out.size() < bytes) {
        out += "2026-12-0" + QByteArray::number(1 + line % 9) + ' ' + QByteArray::number(10 + line % 14) +
               ':' + QByteArray::number(10 + line % 50) + ':' + QByteArray::number(10 + number(random) % 50) +
               '.' + QByteArray::number(number(random) % 1000);
        for (int w = 0; w < 9; ++w)
            out += ' ' + QByteArray(kWords[word(random)]) + '=' + QByteArray::number(number(random));
        if (line % 8 == 0) // where a request came from, and the node that served it
            out += " client=10.1." + QByteArray::number(number(random) % 256) + '.' +
                   QByteArray::number(number(random) % 256) + " server=app-node" +
                   QByteArray::number(line % 5) + ".corp.example";
        out += "\r\n";
        ++line;
    }
    return out;
}

QByteArray dataRecords(std::mt19937& random, qint64 bytes)
{
    QByteArray out;
    out.reserve(bytes + 64);
    std::uniform_int_distribution<int> byte(0, 255);
    int record = 0;
    while (out.size() < bytes) {
        QByteArray r(64, ' ');
        r.replace(0, 8, QByteArray::number(100000 + record++));
        r.replace(10, 12, QByteArray(kWords[record % std::size(kWords)]).leftJustified(12));
        for (int i = 24; i < 40; ++i)
            r[i] = char(byte(random) % 16 + 'A');
        out += r;
    }
    return out;
}

QByteArray noise(std::mt19937& random, qint64 bytes)
{
    QByteArray out(bytes, Qt::Uninitialized);
    for (qint64 i = 0; i < bytes; i += 4) {
        const quint32 v = random();
        std::memcpy(out.data() + i, &v, static_cast<size_t>(std::min<qint64>(4, bytes - i)));
    }
    return out;
}

qint64 put(const QString& path, const QByteArray& content)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(content);
    return content.size();
}

} // namespace

qint64 writeCorpus(const QString& folder, int totalMegabytes)
{
    std::mt19937 random(6);
    const qint64 total = qint64(totalMegabytes) * 1024 * 1024;
    qint64 written = 0;
    QDir().mkpath(folder + QStringLiteral("/config"));
    QDir().mkpath(folder + QStringLiteral("/data"));
    QDir().mkpath(folder + QStringLiteral("/logs/archive"));
    QDir().mkpath(folder + QStringLiteral("/blobs"));
    for (int i = 0; i < 3000; ++i) // small configuration files: about 5% of the corpus
        written += put(folder + QStringLiteral("/config/app%1.config").arg(i),
                       logText(random, 1024 + (i * 37) % 8192));
    for (int i = 0; i < 40 && written < total * 25 / 100; ++i) // data files: about 20%
        written +=
            put(folder + QStringLiteral("/data/table%1.tsd6").arg(i), dataRecords(random, total / 200));
    for (int i = 0; i < 10 && written < total * 88 / 100; ++i) // large logs
        written +=
            put(folder + QStringLiteral("/logs/archive/ts6-%1.log").arg(i), logText(random, total / 16));
    for (int i = 0; written < total; ++i) // incompressible files
        written += put(folder + QStringLiteral("/blobs/image%1.jpg").arg(i),
                       noise(random, std::min<qint64>(8 << 20, total - written)));
    return written;
}

qint64 writeTinyFiles(const QString& folder, int count)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<int> size(256, 4096);
    qint64 written = 0;
    for (int i = 0; i < count; ++i) {
        const QString sub = folder + QStringLiteral("/d%1").arg(i / 1000);
        if (i % 1000 == 0)
            QDir().mkpath(sub);
        written += put(sub + QStringLiteral("/f%1.config").arg(i), logText(random, size(random)));
    }
    return written;
}

Measured measureCommand(const QString& program, const QStringList& arguments, const QString& workingFolder)
{
    QProcess p;
    if (!workingFolder.isEmpty())
        p.setWorkingDirectory(workingFolder);
    p.start(QStringLiteral("/usr/bin/time"),
            QStringList{QStringLiteral("-f"), QStringLiteral("TIME %e %M %U %S"), program} + arguments);
    p.waitForFinished(-1);
    Measured m;
    m.ok = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    const QStringList lines = QString::fromUtf8(p.readAllStandardError()).split(QLatin1Char('\n'));
    for (const QString& line : lines)
        if (line.startsWith(QLatin1String("TIME "))) {
            m.seconds = line.section(QLatin1Char(' '), 1, 1).toDouble();
            m.peakMegabytes = line.section(QLatin1Char(' '), 2, 2).toDouble() / 1024.0;
            m.cpuSeconds = line.section(QLatin1Char(' '), 3, 3).toDouble() +
                           line.section(QLatin1Char(' '), 4, 4).toDouble();
        }
    return m;
}
