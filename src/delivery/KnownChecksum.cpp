#include "delivery/KnownChecksum.h"

#include <QFile>

#include <sys/stat.h>

namespace {

constexpr qint64 kMaxChecksumBytes = 4 << 20;

std::optional<qint64> modifiedNs(const QString& path)
{
    struct stat info
    {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

bool isHex(const QByteArray& text)
{
    return std::all_of(text.cbegin(), text.cend(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

QByteArray unescaped(const QByteArray& name)
{
    QByteArray plain;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 1 < name.size()) {
            plain += name[i + 1] == 'n' ? '\n' : name[i + 1];
            ++i;
        } else {
            plain += name[i];
        }
    }
    return plain;
}

} // namespace

std::map<QByteArray, QByteArray> parseChecksumLines(const QByteArray& text)
{
    std::map<QByteArray, QByteArray> sums;
    for (QByteArray line : text.split('\n')) {
        const bool escaped = line.startsWith('\\');
        if (escaped)
            line.remove(0, 1);
        const QByteArray sha = line.left(64).toLower();
        if (line.size() < 67 || !isHex(sha) || line[64] != ' ' || (line[65] != ' ' && line[65] != '*'))
            continue;
        const QByteArray name = line.mid(66);
        sums[escaped ? unescaped(name) : name] = sha;
    }
    return sums;
}

std::optional<KnownChecksum> knownChecksum(const QString& filePath, const QString& checksumPath,
                                           const QByteArray& name)
{
    const std::optional<qint64> file = modifiedNs(filePath);
    const std::optional<qint64> checksum = modifiedNs(checksumPath);
    if (!file || !checksum || *checksum < *file)
        return std::nullopt;
    QFile sums(checksumPath);
    if (!sums.open(QIODevice::ReadOnly) || sums.size() > kMaxChecksumBytes)
        return std::nullopt;
    const std::map<QByteArray, QByteArray> lines = parseChecksumLines(sums.readAll());
    const auto found = lines.find(name);
    if (found == lines.end())
        return std::nullopt;
    return KnownChecksum{found->second, checksumPath};
}
