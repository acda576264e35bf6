#include "components/zip/OutputGuard.h"

#include <QRegularExpression>

#include <fcntl.h>

#include <utility>

OutputGuard::OutputGuard(FileIdentity temporary, const std::vector<std::pair<Output, QByteArray>>& outputs)
    : m_temporary(temporary)
{
    for (const auto& [output, path] : outputs) {
        UniqueFd fd(::open(path.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat st
        {};
        if (fd && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode))
            m_held.push_back({std::move(fd), FileIdentity::of(st), output});
    }
}

const OutputGuard::Held* OutputGuard::find(const struct stat& input) const
{
    for (const Held& held : m_held)
        if (held.identity == FileIdentity::of(input))
            return &held;
    return nullptr;
}

OutputGuard::Hit OutputGuard::check(const struct stat& input) const
{
    if (FileIdentity::of(input) == m_temporary)
        return Hit::Temporary;
    return find(input) ? Hit::EarlierOutput : Hit::None;
}

bool OutputGuard::isEarlierOutput(const struct stat& input, const QByteArray& head) const
{
    const Held* held = find(input);
    if (!held)
        return false;
    static const QRegularExpression checksumLine(QStringLiteral("^\\\\?[0-9a-f]{64}  [^\\n]+\\n$"));
    static const QRegularExpression mapLine(QStringLiteral("^(host|user|ip)-[0-9]+ = "));
    switch (held->output) {
    case Output::Package:
        return head.startsWith("PK\x03\x04") || head.startsWith("PK\x05\x06");
    case Output::Checksum:
        return input.st_size == head.size() && checksumLine.match(QString::fromLatin1(head)).hasMatch();
    case Output::Names:
        return head.isEmpty() || mapLine.match(QString::fromLatin1(head)).hasMatch();
    }
    return false;
}

QString OutputGuard::inputReason(const struct stat& input, const QString& handed) const
{
    const Held* held = find(input);
    const Output output = held ? held->output : Output::Package;
    const QString what = output == Output::Checksum ? QStringLiteral("checksum path")
                         : output == Output::Names  ? QStringLiteral("map of names beside the package")
                                                    : QStringLiteral("package path");
    return QStringLiteral("The %1 names a file that goes into the package: %2").arg(what, handed);
}
