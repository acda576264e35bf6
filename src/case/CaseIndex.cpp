#include "case/CaseIndex.h"

#include "base/ExitStatus.h"
#include "case/CaseFolder.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstring>

namespace {

QJsonValue orNull(const QString& text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QString isoTime(const QDateTime& time)
{
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate);
}

QJsonObject hostJson(const HostRecord& h)
{
    const bool collected = h.state == HostState::Collected;
    QJsonObject o{
        {QStringLiteral("host"), h.host},
        {QStringLiteral("state"), stateName(h.state)},
        {QStringLiteral("reason"), orNull(h.reason)},
        {QStringLiteral("version"), orNull(h.version)},
        {QStringLiteral("fingerprint"), orNull(h.fingerprint)},
        {QStringLiteral("package"), collected ? QJsonValue(h.package) : QJsonValue()},
        {QStringLiteral("size"), collected ? QJsonValue(h.size) : QJsonValue()},
        {QStringLiteral("sha256"), collected ? QJsonValue(QString::fromLatin1(h.sha256)) : QJsonValue()},
        {QStringLiteral("seconds"), h.state == HostState::Pending ? QJsonValue() : QJsonValue(h.seconds)}};
    if (!h.folder.isEmpty())
        o.insert(QStringLiteral("folder"), h.folder);
    return o;
}

} // namespace

QString hostFolder(const QString& host)
{
    QString name = host;
    for (QChar& c : name)
        if (c == QLatin1Char('/') || c == QLatin1Char(':') || c == QLatin1Char('@'))
            c = QLatin1Char('_');
    if (name.count(QLatin1Char('.')) == name.size())
        name.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("hosts/") + name;
}

QByteArray indexJson(const CaseIndex& index)
{
    QJsonArray hosts;
    for (const HostRecord& h : index.hosts)
        hosts.append(hostJson(h));
    const QJsonObject caseObject{
        {QStringLiteral("target"), index.target},
        {QStringLiteral("options"), QJsonArray::fromStringList(index.options)},
        {QStringLiteral("started"), isoTime(index.started)},
        {QStringLiteral("finished"), index.finished ? QJsonValue(isoTime(*index.finished)) : QJsonValue()}};
    return QJsonDocument(QJsonObject{{QStringLiteral("case"), caseObject}, {QStringLiteral("hosts"), hosts}})
               .toJson(QJsonDocument::Compact) +
           '\n';
}

QByteArray indexText(const CaseIndex& index)
{
    QString text = QStringLiteral("Case of %1\nOptions: %2\nStarted: %3\nFinished: %4\n\n")
                       .arg(index.target, index.options.join(QLatin1Char(' ')), isoTime(index.started),
                            index.finished ? isoTime(*index.finished) : QStringLiteral("not yet"));
    for (const HostRecord& h : index.hosts) {
        text += QStringLiteral("%1  %2").arg(h.host, stateName(h.state));
        if (h.state == HostState::Collected)
            text += QStringLiteral("  %1  %2 bytes  %3")
                        .arg(h.package)
                        .arg(h.size)
                        .arg(QString::fromLatin1(h.sha256));
        else if (!h.reason.isEmpty())
            text += QStringLiteral("  ") + h.reason;
        if (h.state != HostState::Pending)
            text += QStringLiteral("  (%1 s)").arg(h.seconds, 0, 'f', 1);
        text += QLatin1Char('\n');
    }
    return text.toUtf8();
}

QByteArray sha256Sums(const CaseIndex& index)
{
    QByteArray sums;
    for (const HostRecord& h : index.hosts)
        if (h.state == HostState::Collected)
            sums += h.sha256 + "  " + h.package.toUtf8() + '\n';
    return sums;
}

std::optional<CaseIndex> readIndex(const QByteArray& json, QString* why)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    const QJsonObject root = document.object();
    const QJsonObject caseObject = root.value(QStringLiteral("case")).toObject();
    if (parseError.error != QJsonParseError::NoError || !root.value(QStringLiteral("hosts")).isArray() ||
        !caseObject.value(QStringLiteral("target")).isString()) {
        *why = QStringLiteral("index.json is not the index of a case");
        return std::nullopt;
    }
    CaseIndex index;
    index.target = caseObject.value(QStringLiteral("target")).toString();
    for (const QJsonValue option : caseObject.value(QStringLiteral("options")).toArray())
        index.options.append(option.toString());
    index.started =
        QDateTime::fromString(caseObject.value(QStringLiteral("started")).toString(), Qt::ISODate);
    if (const QDateTime finished =
            QDateTime::fromString(caseObject.value(QStringLiteral("finished")).toString(), Qt::ISODate);
        finished.isValid())
        index.finished = finished;
    for (const QJsonValue value : root.value(QStringLiteral("hosts")).toArray()) {
        const QJsonObject o = value.toObject();
        HostRecord h;
        h.host = o.value(QStringLiteral("host")).toString();
        h.folder = o.value(QStringLiteral("folder")).toString();
        const std::optional<HostState> state = stateFromName(o.value(QStringLiteral("state")).toString());
        if (h.host.isEmpty() || !state) {
            *why = QStringLiteral("index.json names a host without a name or a known state");
            return std::nullopt;
        }
        h.state = *state;
        h.reason = o.value(QStringLiteral("reason")).toString();
        h.version = o.value(QStringLiteral("version")).toString();
        h.fingerprint = o.value(QStringLiteral("fingerprint")).toString();
        h.package = o.value(QStringLiteral("package")).toString();
        h.size = o.value(QStringLiteral("size")).toInteger();
        h.sha256 = o.value(QStringLiteral("sha256")).toString().toLatin1();
        h.seconds = o.value(QStringLiteral("seconds")).toDouble();
        index.hosts.push_back(h);
    }
    return index;
}

bool writeIndex(const CaseFolder& caseFolder, const CaseIndex& index, QString* why)
{
    // The sums first, the index last: an index never names a package the sums leave out.
    for (const auto& [name, bytes] :
         {std::pair{"SHA256SUMS", sha256Sums(index)}, std::pair{"index.txt", indexText(index)},
          std::pair{"index.json", indexJson(index)}})
        if (!caseFolder.writeFile(QLatin1String(name), bytes, why))
            return false;
    return true;
}

int exitStatusOf(const CaseIndex& index)
{
    const auto collected = std::count_if(index.hosts.cbegin(), index.hosts.cend(),
                                         [](const HostRecord& h) { return h.state == HostState::Collected; });
    if (collected == static_cast<qsizetype>(index.hosts.size()) && collected > 0)
        return ExitStatus::kSuccess;
    return collected > 0 ? ExitStatus::kPartial : ExitStatus::kFailure;
}
