#include "components/zip/OutputGuard.h"

#include <QRegularExpression>

#include <fcntl.h>

#include <utility>

OutputGuard::OutputGuard(FileIdentity temporary, const std::vector<QByteArray>& outputs)
    : m_temporary(temporary)
{
    bool first = true;
    for (const QByteArray& path : outputs) {
        const bool package = std::exchange(first, false);
        UniqueFd fd(::open(path.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat st
        {};
        if (fd && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode))
            m_held.push_back({std::move(fd), FileIdentity::Of(st), package});
    }
}

const OutputGuard::Held* OutputGuard::find(const struct stat& input) const
{
    for (const Held& held : m_held)
        if (held.identity == FileIdentity::Of(input))
            return &held;
    return nullptr;
}

OutputGuard::Hit OutputGuard::Check(const struct stat& input) const
{
    if (FileIdentity::Of(input) == m_temporary)
        return Hit::Temporary;
    return find(input) ? Hit::EarlierOutput : Hit::None;
}

bool OutputGuard::IsEarlierOutput(const struct stat& input, const QByteArray& head) const
{
    const Held* held = find(input);
    if (!held)
        return false;
    if (held->package)
        return head.startsWith("PK\x03\x04") || head.startsWith("PK\x05\x06");
    static const QRegularExpression checksumLine(QStringLiteral("^\\\\?[0-9a-f]{64}  [^\\n]+\\n$"));
    return input.st_size == head.size() && checksumLine.match(QString::fromLatin1(head)).hasMatch();
}

QString OutputGuard::InputReason(const struct stat& input, const QString& handed) const
{
    const Held* held = find(input);
    return (held && !held->package
                ? QStringLiteral("The checksum path names a file that goes into the package: ")
                : QStringLiteral("The package path names a file that goes into the package: ")) +
           handed;
}
