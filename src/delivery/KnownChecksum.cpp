#include "delivery/KnownChecksum.h"

#include "platform/OwnFiles.h"

#include <QFile>

#include <sys/stat.h>

namespace {

constexpr qint64 kMaxChecksumBytes = 4 << 20;

qint64 nanoseconds(const struct timespec& time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

// When the file was last written, or its times set: the later of its modification and change
// times. A file written and given an old modification time back still shows the write.
std::optional<qint64> writtenNs(const QString& path)
{
    struct stat info
    {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return std::max(nanoseconds(info.st_mtim), nanoseconds(info.st_ctim));
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
    // The checksum file's own modification time, against the file's last write.
    struct stat sumsInfo
    {};
    const std::optional<qint64> file = writtenNs(filePath);
    if (!file || ::lstat(QFile::encodeName(checksumPath).constData(), &sumsInfo) != 0 ||
        nanoseconds(sumsInfo.st_mtim) < *file)
        return std::nullopt;
    // Only the user's own: a checksum another could write would let a package pass as one already sent.
    const std::optional<QByteArray> text = OwnFiles::readOwnFile(checksumPath, kMaxChecksumBytes, nullptr);
    if (!text)
        return std::nullopt;
    const std::map<QByteArray, QByteArray> lines = parseChecksumLines(*text);
    const auto found = lines.find(name);
    if (found == lines.end())
        return std::nullopt;
    return KnownChecksum{found->second, checksumPath};
}
