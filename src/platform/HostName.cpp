#include "platform/HostName.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char16_t kEscapeBase = 0xDC00;

bool isContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// The length of the valid UTF-8 sequence at p (at most n bytes), or 0.
int sequenceLength(const unsigned char* p, qsizetype n)
{
    const unsigned char c = p[0];
    if (c < 0x80)
        return 1;
    int len = 0;
    char32_t min = 0;
    if ((c & 0xE0) == 0xC0) {
        len = 2;
        min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        len = 3;
        min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        len = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (n < len)
        return 0;
    char32_t cp = c & (0x7F >> len);
    for (int i = 1; i < len; ++i) {
        if (!isContinuation(p[i]))
            return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

} // namespace

namespace HostName {

QString decode(const char* bytes, qsizetype size)
{
    if (size < 0)
        size = static_cast<qsizetype>(std::strlen(bytes));
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    QString out;
    out.reserve(size);
    for (qsizetype i = 0; i < size;) {
        const int len = sequenceLength(p + i, size - i);
        if (len == 0) {
            out.append(QChar(static_cast<char16_t>(kEscapeBase + p[i])));
            ++i;
            continue;
        }
        out.append(QString::fromUtf8(bytes + i, len));
        i += len;
    }
    return out;
}

QString entryComponent(const QString& name)
{
    const auto isTrailing = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('.'); };
    qsizetype keep = name.size();
    while (keep > 0 && isTrailing(name.at(keep - 1)))
        --keep;
    const bool endsBadly = keep < name.size();
    if (!endsBadly && !name.contains(QLatin1Char('\\')) && !name.contains(QLatin1Char('%')))
        return name;
    QString out;
    out.reserve(name.size() + 8);
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name.at(i);
        if (c == QLatin1Char('%'))
            out += QStringLiteral("%25");
        else if (c == QLatin1Char('\\'))
            out += QStringLiteral("%5C");
        else if (i >= keep)
            out += c == QLatin1Char('.') ? QStringLiteral("%2E") : QStringLiteral("%20");
        else
            out += c;
    }
    return out;
}

bool hasRawBytes(const QString& name)
{
    for (const QChar c : name)
        if (c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF)
            return true;
    return false;
}

QByteArray encode(const QString& name)
{
    if (!hasRawBytes(name))
        return name.toUtf8();
    QByteArray out;
    out.reserve(name.size() * 2);
    qsizetype runStart = 0;
    for (qsizetype i = 0; i <= name.size(); ++i) {
        const bool escape =
            i < name.size() && name.at(i).unicode() >= 0xDC80 && name.at(i).unicode() <= 0xDCFF;
        if (i == name.size() || escape) {
            out += QStringView(name).mid(runStart, i - runStart).toUtf8();
            if (escape)
                out += static_cast<char>(name.at(i).unicode() - kEscapeBase);
            runStart = i + 1;
        }
    }
    return out;
}

bool isDirectory(const QString& hostPath)
{
    struct stat st
    {};
    return ::stat(encode(hostPath).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isRegularFile(const QString& hostPath)
{
    struct stat st
    {};
    return ::stat(encode(hostPath).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

UniqueFd openRegularFile(const QString& hostPath, QString& error)
{
    const QByteArray path = encode(hostPath);
    struct stat st
    {};
    // Looked at before opening, so that no device is ever opened; checked again on what opened.
    if (::stat(path.constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
        error = QStringLiteral("not a regular file");
        return {};
    }
    UniqueFd fd(::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return {};
    }
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = QStringLiteral("not a regular file");
        return {};
    }
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool isOtherThanRegularFile(const QString& hostPath)
{
    struct stat st
    {};
    return ::stat(encode(hostPath).constData(), &st) == 0 && !S_ISREG(st.st_mode);
}

bool sameEntry(const QString& first, const QString& second)
{
    const QByteArray a = encode(first);
    const QByteArray b = encode(second);
    const qsizetype cutA = a.lastIndexOf('/');
    const qsizetype cutB = b.lastIndexOf('/');
    if (cutA < 0 || cutB < 0 || a.mid(cutA + 1) != b.mid(cutB + 1))
        return false;
    struct stat folderA
    {};
    struct stat folderB
    {};
    return ::stat(cutA == 0 ? "/" : a.left(cutA).constData(), &folderA) == 0 &&
           ::stat(cutB == 0 ? "/" : b.left(cutB).constData(), &folderB) == 0 &&
           folderA.st_dev == folderB.st_dev && folderA.st_ino == folderB.st_ino;
}

bool exists(const QString& hostPath)
{
    struct stat st
    {};
    return ::stat(encode(hostPath).constData(), &st) == 0;
}

} // namespace HostName
