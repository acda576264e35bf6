#include "viewer/ReadCommands.h"

#include "base/ByteSize.h"
#include "base/CleanJson.h"
#include "base/ExitStatus.h"
#include "base/ShownText.h"
#include "case/HostState.h"
#include "platform/StopToken.h"
#include "viewer/CaseReport.h"
#include "viewer/PackageDiff.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

#include <cstdio>

namespace {

constexpr int kTrouble = ExitStatus::kTrouble;

// A line of the text output. What a package says (names, comments, manifest values, reasons that
// quote them) reaches the terminal only here, cleaned of anything that could steer it.
void out(const QString& line)
{
    std::fputs(qPrintable(shownText(line) + QLatin1Char('\n')), stdout);
}

void sayError(const QString& line)
{
    std::fputs(qPrintable(QStringLiteral("ts6satchel: ") + shownText(line) + QLatin1Char('\n')), stderr);
}

QString timeText(const QDateTime& time)
{
    return time.isValid() ? time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QStringLiteral("-");
}

QString isoTime(const QDateTime& time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODate) : QString();
}

QString spanText(const LogSpan& span)
{
    if (!span.fromStamps)
        return QStringLiteral("no time stamps; entry dated %1 UTC").arg(timeText(span.first));
    return timeText(span.first) + QStringLiteral(" .. ") + timeText(span.last);
}

QString entryState(const EntryReport& row)
{
    if (!row.problem.isEmpty())
        return row.checked ? QStringLiteral("damaged") : QStringLiteral("refused");
    return row.checked ? QStringLiteral("intact") : QStringLiteral("not read");
}

// --- show, as text --------------------------------------------------------------------------

void printIntegrity(const QStringList& damage, const QString& intactLine, const QString& indent = {})
{
    if (damage.isEmpty()) {
        out(indent + QStringLiteral("Integrity: intact; ") + intactLine);
        return;
    }
    out(indent + QStringLiteral("Integrity: DAMAGED, %1 %2:")
                     .arg(damage.size())
                     .arg(damage.size() == 1 ? "problem" : "problems"));
    for (const QString& item : damage)
        out(indent + QStringLiteral("  - ") + item);
}

void printPackage(const PackageFindings& report, const QString& indent)
{
    const ZipReader& zip = *report.zip;
    out(indent + QStringLiteral("Manifest (TSVERSION.TXT):"));
    if (!report.manifest.present)
        out(indent + QStringLiteral("  none in this package"));
    else if (!report.manifest.error.isEmpty())
        out(indent + QStringLiteral("  cannot be read: ") + report.manifest.error);
    for (const Manifest::Field& field : report.manifest.fields)
        out(indent + QStringLiteral("  ") + field.key + QStringLiteral(": ") + field.value);
    if (report.manifest.present)
        out(indent + QStringLiteral("  Files: %1 listed").arg(report.manifest.files.size()));
    out(QString());
    out(indent + QStringLiteral("Entries (%1):").arg(report.entries.size()));
    out(indent + QStringLiteral("  %1  %2  %3")
                     .arg(QStringLiteral("Size"), 12)
                     .arg(QStringLiteral("Modified (UTC)"), -19)
                     .arg(QStringLiteral("Name")));
    for (const EntryReport& row : report.entries) {
        const ZipEntry& entry = report.entry(row);
        QString line = indent + QStringLiteral("  %1  %2  %3")
                                    .arg(entry.size, 12)
                                    .arg(timeText(entry.modified), -19)
                                    .arg(entry.name);
        if (!row.problem.isEmpty())
            line += QStringLiteral("  [%1: %2]").arg(entryState(row), row.problem);
        if (!entry.unsafe.isEmpty())
            line += QStringLiteral("  [unsafe name: %1]").arg(entry.unsafe);
        out(line);
    }
    out(QString());
    out(indent + QStringLiteral("Left out (%1):").arg(report.leftOut.size()));
    for (const LeftOut& file : report.leftOut)
        out(indent + QStringLiteral("  ") + file.path +
            (file.reason.isEmpty() ? QString() : QStringLiteral(": ") + file.reason));
    out(QString());
    if (!report.masking.present) {
        out(indent + QStringLiteral("Masking: none; the package was built without --redact"));
    } else if (!report.masking.error.isEmpty()) {
        out(indent + QStringLiteral("Masking (REDACTED.TXT): cannot be read: ") + report.masking.error);
    } else {
        int values = 0;
        for (const MaskingReport::File& file : report.masking.files)
            values += file.values;
        out(indent +
            QStringLiteral("Masking (REDACTED.TXT): %1 files checked, %2 values masked in %3 files%4")
                .arg(report.masking.filesChecked)
                .arg(values)
                .arg(report.masking.files.size())
                .arg(report.masking.namesReplaced ? QStringLiteral("; names replaced") : QString()));
        for (const MaskingReport::File& file : report.masking.files)
            out(indent + QStringLiteral("  %1  %2").arg(file.values, 6).arg(file.entry) +
                (report.masking.namesReplaced ? QStringLiteral(" (%1 names)").arg(file.names) : QString()));
        for (const QString& entry : report.masking.notChecked)
            out(indent + QStringLiteral("  not checked (not text): ") + entry);
    }
    out(QString());
    qsizetype logs = 0;
    for (const EntryReport& row : report.entries)
        logs += row.log ? 1 : 0;
    out(indent + QStringLiteral("Logs (%1):").arg(logs));
    for (const EntryReport& row : report.entries)
        if (row.log)
            out(indent + QStringLiteral("  %1  %2  %3")
                             .arg(report.entry(row).name)
                             .arg(byteSizeText(report.entry(row).size))
                             .arg(spanText(*row.log)));
    Q_UNUSED(zip);
}

void showPackageText(const PackageFindings& report)
{
    out(QStringLiteral("Package: %1 (%2, %3)")
            .arg(report.path, byteSizeText(report.zip->fileSize()),
                 report.entries.size() == 1 ? QStringLiteral("1 entry")
                                            : QStringLiteral("%1 entries").arg(report.entries.size())));
    QString intact = QStringLiteral("every entry's CRC and size match");
    if (report.checksum && report.checksum->matches())
        intact += QStringLiteral("; the SHA-256 matches ") + report.checksum->file;
    printIntegrity(report.damage, intact);
    out(QString());
    printPackage(report, QString());
}

void showCaseText(const CaseReport& report)
{
    out(QStringLiteral("Case folder: %1 (%2 hosts)").arg(report.folder).arg(report.hosts.size()));
    out(QStringLiteral("Target: ") + report.index.target);
    if (!report.index.options.isEmpty())
        out(QStringLiteral("Options: ") + report.index.options.join(QLatin1Char(' ')));
    out(QStringLiteral("Started: %1; finished: %2")
            .arg(report.index.started.isValid() ? isoTime(report.index.started)
                                                : QStringLiteral("not recorded"),
                 report.index.finished ? isoTime(*report.index.finished) : QStringLiteral("not recorded")));
    printIntegrity(report.damage, QStringLiteral("every collected package matches the index"));
    out(QString());
    out(QStringLiteral("Hosts:"));
    for (const CaseHost& host : report.hosts) {
        QString line = QStringLiteral("  %1  %2").arg(host.record.host, -24).arg(host.shownState(), -18);
        if (!host.record.reason.isEmpty())
            line += QStringLiteral("  ") + host.record.reason;
        if (host.package && host.package->manifest.present)
            line +=
                QStringLiteral("  version %1").arg(host.package->manifest.value(QStringLiteral("Version")));
        while (line.endsWith(QLatin1Char(' '))) // a state padded for the columns, with nothing after it
            line.chop(1);
        out(line);
    }
    out(QString());
    if (report.differences.empty())
        out(QStringLiteral("Versions: the same on every host that was collected"));
    else
        out(QStringLiteral("Versions that differ between hosts:"));
    for (const VersionSpread& spread : report.differences) {
        out(QStringLiteral("  ") + spread.field + QLatin1Char(':'));
        for (const auto& [host, value] : spread.byHost)
            out(QStringLiteral("    %1  %2").arg(host, -24).arg(value));
    }
    for (const CaseHost& host : report.hosts) {
        if (!host.package || !host.package->readable())
            continue;
        out(QString());
        out(QStringLiteral("== %1: %2").arg(host.record.host, host.record.package));
        printIntegrity(host.package->damage, QStringLiteral("every entry's CRC and size match"),
                       QStringLiteral("  "));
        out(QString());
        printPackage(*host.package, QStringLiteral("  "));
    }
}

// --- show, as JSON --------------------------------------------------------------------------

QJsonArray jsonList(const QStringList& items)
{
    QJsonArray list;
    for (const QString& item : items)
        list.append(item);
    return list;
}

QJsonValue jsonSpan(const std::optional<LogSpan>& span)
{
    if (!span)
        return QJsonValue::Null;
    return QJsonObject{{QStringLiteral("first"), isoTime(span->first)},
                       {QStringLiteral("last"), isoTime(span->last)},
                       {QStringLiteral("from"),
                        span->fromStamps ? QStringLiteral("time stamps") : QStringLiteral("entry date")}};
}

// An entry as the JSON summary lists it.
QJsonObject entryJson(const PackageFindings& report, const EntryReport& row)
{
    const ZipEntry& entry = report.entry(row);
    QJsonObject item{{QStringLiteral("name"), entry.name.toString()},
                     {QStringLiteral("size"), static_cast<qint64>(entry.size)},
                     {QStringLiteral("packed"), static_cast<qint64>(entry.packed)},
                     {QStringLiteral("crc"), QStringLiteral("%1").arg(entry.crc, 8, 16, QLatin1Char('0'))},
                     {QStringLiteral("modified"), isoTime(entry.modified)},
                     {QStringLiteral("state"), entryState(row)}};
    if (!row.problem.isEmpty())
        item.insert(QStringLiteral("problem"), row.problem);
    if (!entry.unsafe.isEmpty())
        item.insert(QStringLiteral("unsafe"), entry.unsafe);
    return item;
}

// Writes JSON text to standard output, cleaned.
void writeJson(const QByteArray& json)
{
    const QByteArray clean = cleanJson(json);
    std::fwrite(clean.constData(), 1, static_cast<size_t>(clean.size()), stdout);
}

// A text as a JSON string, as QJsonDocument writes it: quotes, backslashes and control characters
// escaped, the rest in UTF-8 (writeJson escapes the invisible characters among it).
void appendJsonString(QByteArray& out, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    out += '"';
    qsizetype plain = 0; // the start of the bytes not yet copied, none of them to escape
    for (qsizetype at = 0; at < utf8.size(); ++at) {
        const auto byte = static_cast<unsigned char>(utf8[at]);
        if (byte >= 0x20 && byte != '"' && byte != '\\')
            continue;
        out.append(utf8.constData() + plain, at - plain);
        if (byte < 0x20) {
            appendUnitEscape(out, byte);
        } else {
            out += '\\';
            out += static_cast<char>(byte);
        }
        plain = at + 1;
    }
    out.append(utf8.constData() + plain, utf8.size() - plain);
    out += '"';
}

// An entry as one compact line of JSON, the same fields as entryJson, written straight into out:
// the long list of a large package costs no JSON objects.
void appendEntryJson(QByteArray& out, const PackageFindings& report, const EntryReport& row)
{
    const ZipEntry& entry = report.entry(row);
    out += "{\"crc\":\"" + QByteArray::number(entry.crc, 16).rightJustified(8, '0') + "\",\"modified\":";
    appendJsonString(out, isoTime(entry.modified));
    out += ",\"name\":";
    appendJsonString(out, entry.name.toString());
    out += ",\"packed\":" + QByteArray::number(entry.packed);
    if (!row.problem.isEmpty()) {
        out += ",\"problem\":";
        appendJsonString(out, row.problem);
    }
    out += ",\"size\":" + QByteArray::number(entry.size) + ",\"state\":";
    appendJsonString(out, entryState(row));
    if (!entry.unsafe.isEmpty()) {
        out += ",\"unsafe\":";
        appendJsonString(out, entry.unsafe);
    }
    out += '}';
}

// The summary of a package; its entries only when asked (a long list is printed as it is made).
QJsonObject packageJson(const PackageFindings& report, bool withEntries = true)
{
    QJsonObject json;
    json.insert(QStringLiteral("path"), report.path);
    json.insert(QStringLiteral("kind"), QStringLiteral("package"));
    json.insert(QStringLiteral("intact"), report.intact());
    json.insert(QStringLiteral("damage"), jsonList(report.damage));
    json.insert(QStringLiteral("size"), static_cast<qint64>(report.zip->fileSize()));
    if (report.checksum)
        json.insert(QStringLiteral("sha256_file"),
                    QJsonObject{{QStringLiteral("file"), report.checksum->file},
                                {QStringLiteral("expected"), QString::fromLatin1(report.checksum->expected)},
                                {QStringLiteral("actual"), QString::fromLatin1(report.checksum->actual)},
                                {QStringLiteral("matches"), report.checksum->matches()}});
    else
        json.insert(QStringLiteral("sha256_file"), QJsonValue::Null);
    if (report.manifest.present) {
        QJsonObject fields;
        for (const Manifest::Field& field : report.manifest.fields)
            fields.insert(field.key, field.value);
        QJsonObject manifest{{QStringLiteral("fields"), fields},
                             {QStringLiteral("files"), jsonList(report.manifest.files)}};
        if (!report.manifest.error.isEmpty())
            manifest.insert(QStringLiteral("error"), report.manifest.error);
        json.insert(QStringLiteral("manifest"), manifest);
    } else {
        json.insert(QStringLiteral("manifest"), QJsonValue::Null);
    }
    QJsonArray entries;
    QJsonArray logs;
    for (const EntryReport& row : report.entries) {
        if (withEntries)
            entries.append(entryJson(report, row));
        if (row.log) {
            QJsonObject log = jsonSpan(row.log).toObject();
            log.insert(QStringLiteral("name"), report.entry(row).name.toString());
            log.insert(QStringLiteral("size"), static_cast<qint64>(report.entry(row).size));
            logs.append(log);
        }
    }
    if (withEntries)
        json.insert(QStringLiteral("entries"), entries);
    QJsonArray leftOut;
    for (const LeftOut& file : report.leftOut)
        leftOut.append(
            QJsonObject{{QStringLiteral("path"), file.path}, {QStringLiteral("reason"), file.reason}});
    json.insert(QStringLiteral("left_out"), leftOut);
    if (report.masking.present) {
        QJsonArray files;
        for (const MaskingReport::File& file : report.masking.files)
            files.append(QJsonObject{{QStringLiteral("entry"), file.entry},
                                     {QStringLiteral("values"), file.values},
                                     {QStringLiteral("names"), file.names},
                                     {QStringLiteral("encoding"), file.encoding}});
        QJsonObject masking{{QStringLiteral("files_checked"), report.masking.filesChecked},
                            {QStringLiteral("names_replaced"), report.masking.namesReplaced},
                            {QStringLiteral("files"), files},
                            {QStringLiteral("not_checked"), jsonList(report.masking.notChecked)}};
        if (!report.masking.error.isEmpty())
            masking.insert(QStringLiteral("error"), report.masking.error);
        json.insert(QStringLiteral("masking"), masking);
    } else {
        json.insert(QStringLiteral("masking"), QJsonValue::Null);
    }
    json.insert(QStringLiteral("logs"), logs);
    return json;
}

QJsonObject caseJson(const CaseReport& report)
{
    QJsonArray hosts;
    for (const CaseHost& host : report.hosts) {
        QJsonObject item{{QStringLiteral("host"), host.record.host},
                         {QStringLiteral("state"), stateName(host.record.state)},
                         {QStringLiteral("reason"), host.record.reason},
                         {QStringLiteral("version"), host.record.version},
                         {QStringLiteral("package"), host.record.package.isEmpty()
                                                         ? QJsonValue(QJsonValue::Null)
                                                         : QJsonValue(host.record.package)},
                         {QStringLiteral("problem"), host.problem}};
        item.insert(QStringLiteral("summary"), host.package && host.package->readable()
                                                   ? QJsonValue(packageJson(*host.package))
                                                   : QJsonValue(QJsonValue::Null));
        hosts.append(item);
    }
    QJsonArray differences;
    for (const VersionSpread& spread : report.differences) {
        QJsonObject byHost;
        for (const auto& [host, value] : spread.byHost)
            byHost.insert(host, value);
        differences.append(
            QJsonObject{{QStringLiteral("field"), spread.field}, {QStringLiteral("hosts"), byHost}});
    }
    return {{QStringLiteral("path"), report.folder},
            {QStringLiteral("kind"), QStringLiteral("case")},
            {QStringLiteral("intact"), report.intact()},
            {QStringLiteral("damage"), jsonList(report.damage)},
            {QStringLiteral("case"),
             QJsonObject{{QStringLiteral("target"), report.index.target},
                         {QStringLiteral("options"), jsonList(report.index.options)},
                         {QStringLiteral("started"), isoTime(report.index.started)},
                         {QStringLiteral("finished"), report.index.finished
                                                          ? QJsonValue(isoTime(*report.index.finished))
                                                          : QJsonValue(QJsonValue::Null)}}},
            {QStringLiteral("hosts"), hosts},
            {QStringLiteral("version_differences"), differences}};
}

void printJson(const QJsonObject& json)
{
    writeJson(QJsonDocument(json).toJson(QJsonDocument::Indented));
}

// The items of a JSON list, each handed as one line of JSON to the function given, as they are made.
using JsonItems = std::function<void(const std::function<void(const QByteArray&)>&)>;

// Prints json with the list under key written an item at a time as items makes them, and the
// fields tail gives (known only once the list is written) at its end: a list of millions of items
// never is JSON in memory at once. A random mark holds the list's place in the rest of the document.
void printJsonWithList(QJsonObject json, const QString& key, const JsonItems& items,
                       const std::function<QJsonObject()>& tail = {})
{
    const QString mark = QStringLiteral("%1-%2%3")
                             .arg(key)
                             .arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'))
                             .arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'));
    json.insert(key, mark);
    const QByteArray text = QJsonDocument(json).toJson(QJsonDocument::Indented);
    const QByteArray name = '"' + key.toUtf8() + "\": ";
    const QByteArray place = name + '"' + mark.toUtf8() + '"';
    const qsizetype at = text.indexOf(place);
    writeJson(text.left(at) + name + '[');
    bool first = true;
    items([&](const QByteArray& item) {
        writeJson((first ? "\n        " : ",\n        ") + item);
        first = false;
    });
    writeJson(first ? "]" : "\n    ]");
    QByteArray rest = text.mid(at + place.size());
    if (tail) {
        // The tail's fields as the document writes its own, inserted before its closing brace.
        const QByteArray more = QJsonDocument(tail()).toJson(QJsonDocument::Indented);
        const qsizetype open = more.indexOf('{');
        const QByteArray fields = more.mid(open + 1, more.lastIndexOf('}') - open - 1).chopped(1);
        if (!fields.trimmed().isEmpty())
            rest.insert(rest.lastIndexOf("\n}"), ',' + fields);
    }
    writeJson(rest);
}

// The summary of a package with its entries written one by one as they are made: a package of a
// hundred thousand entries never has them all as JSON in memory at once.
void printPackageJson(const PackageFindings& report)
{
    printJsonWithList(packageJson(report, false), QStringLiteral("entries"), [&](const auto& put) {
        QByteArray line;
        for (const EntryReport& row : report.entries) {
            line.clear();
            appendEntryJson(line, report, row);
            put(line);
        }
    });
}

// Why a package cannot be read at all: it cannot be opened, or not one entry could be found in it.
QString unreadable(const PackageFindings& report)
{
    if (!report.readable())
        return QStringLiteral("cannot open %1: %2").arg(report.path, report.openError);
    if (report.zip->entries().empty() && !report.damage.isEmpty())
        return QStringLiteral("cannot read %1: %2").arg(report.path, report.damage.constFirst());
    return {};
}

// Says why a run ends early: its reason on standard error and, with --json, in the result.
int trouble(const QString& why, bool json)
{
    sayError(why);
    if (json)
        printJson({{QStringLiteral("error"), why}});
    return kTrouble;
}

bool interrupted(const StopToken& stop, bool json)
{
    if (stop.stopRequested()) {
        trouble(stop.reason(), json);
        return true;
    }
    return false;
}

// --- diff -----------------------------------------------------------------------------------

const char* changeKind(EntryChange::Kind kind)
{
    switch (kind) {
    case EntryChange::Kind::Added:
        return "added";
    case EntryChange::Kind::Removed:
        return "removed";
    case EntryChange::Kind::Changed:
        break;
    }
    return "changed";
}

QString changeMark(EntryChange::Kind kind)
{
    switch (kind) {
    case EntryChange::Kind::Added:
        return QStringLiteral("+");
    case EntryChange::Kind::Removed:
        return QStringLiteral("-");
    case EntryChange::Kind::Changed:
        break;
    }
    return QStringLiteral("~");
}

// The two packages being compared, and what comparing their manifests found.
struct DiffRun
{
    const ReadOptions& options;
    const PackageFindings& older;
    const PackageFindings& newer;
    ManifestDiff manifest;
    bool damaged() const { return !older.intact() || !newer.intact(); }
};

QString pastBudgetLine(const EntriesDiff& entries)
{
    return QStringLiteral("%1 changed %2 compared by CRC and size only: a run compares at most %3 of text "
                          "line by line")
        .arg(entries.textsPastBudget)
        .arg(entries.textsPastBudget == 1 ? QStringLiteral("text was") : QStringLiteral("texts were"))
        .arg(byteSizeText(DiffLimits{}.textInAll));
}

void printChangeText(const EntryChange& change)
{
    QString line = QStringLiteral("%1 %2").arg(changeMark(change.kind), change.name);
    if (change.kind == EntryChange::Kind::Added)
        line += QStringLiteral(" (%1)").arg(byteSizeText(change.newSize));
    else if (change.kind == EntryChange::Kind::Removed)
        line += QStringLiteral(" (%1)").arg(byteSizeText(change.oldSize));
    else
        line += QStringLiteral(" (%1 -> %2)").arg(byteSizeText(change.oldSize), byteSizeText(change.newSize));
    if (change.oldSpan && change.newSpan)
        line += QStringLiteral("; spans %1 -> %2").arg(spanText(*change.oldSpan), spanText(*change.newSpan));
    if (!change.note.isEmpty())
        line += QStringLiteral("; ") + change.note;
    out(line);
    for (const LineChange& text : change.lines)
        out(QStringLiteral("    %1%2: %3").arg(QLatin1Char(text.kind)).arg(text.line).arg(text.text));
    if (change.linesLeftOut > 0)
        out(QStringLiteral("    ... %1 more changed lines not shown").arg(change.linesLeftOut));
}

// The differences as text, each entry's as it is found; the counts and the verdict at the end.
EntriesDiff printDiffText(const DiffRun& run)
{
    for (const PackageFindings* package : {&run.older, &run.newer})
        for (const QString& damage : package->damage)
            out(QStringLiteral("damaged: %1: %2").arg(package->path, damage));
    out(QStringLiteral("--- %1").arg(run.older.path));
    out(QStringLiteral("+++ %1").arg(run.newer.path));
    if (!run.manifest.empty()) {
        out(QStringLiteral("Manifest:"));
        for (const ManifestChange& change : run.manifest.fields)
            out(QStringLiteral("  %1: %2 -> %3").arg(change.key, change.oldValue, change.newValue));
        for (const QString& file : run.manifest.filesRemoved)
            out(QStringLiteral("  - listed file ") + file);
        for (const QString& file : run.manifest.filesAdded)
            out(QStringLiteral("  + listed file ") + file);
    }
    const EntriesDiff entries = diffEntries(run.older, run.newer, run.options.logs, printChangeText);
    out(QStringLiteral("Entries: %1 added, %2 removed, %3 changed")
            .arg(entries.added)
            .arg(entries.removed)
            .arg(entries.changed));
    if (entries.textsPastBudget > 0)
        out(pastBudgetLine(entries));
    if (run.manifest.empty() && entries.empty())
        out(run.damaged()
                ? QStringLiteral("The entries that could be read are the same, but a damaged package "
                                 "is never called equal to another.")
                : QStringLiteral("The packages hold the same manifest and entries."));
    return entries;
}

// A change as one compact line of JSON.
QByteArray changeJson(const EntryChange& change)
{
    QByteArray out = "{\"name\":";
    appendJsonString(out, change.name);
    out += QByteArray(",\"change\":\"") + changeKind(change.kind) +
           "\",\"log\":" + (change.log ? "true" : "false");
    if (change.kind != EntryChange::Kind::Added)
        out += ",\"old_size\":" + QByteArray::number(change.oldSize);
    if (change.kind != EntryChange::Kind::Removed)
        out += ",\"new_size\":" + QByteArray::number(change.newSize);
    for (const auto& [key, span] : {std::pair{"old_span", &change.oldSpan}, {"new_span", &change.newSpan}})
        if (*span)
            out += QByteArray(",\"") + key +
                   "\":" + QJsonDocument(jsonSpan(*span).toObject()).toJson(QJsonDocument::Compact);
    if (change.kind == EntryChange::Kind::Changed) {
        out += ",\"lines\":[";
        for (const LineChange& line : change.lines) {
            out += &line == &change.lines.front() ? "{\"kind\":\"" : ",{\"kind\":\"";
            out += line.kind;
            out += "\",\"line\":" + QByteArray::number(line.line) + ",\"text\":";
            appendJsonString(out, line.text);
            out += '}';
        }
        out += "],\"lines_left_out\":" + QByteArray::number(change.linesLeftOut);
    }
    if (!change.note.isEmpty()) {
        out += ",\"note\":";
        appendJsonString(out, change.note);
    }
    out += '}';
    return out;
}

// The differences as JSON, each entry's written as it is found; the counts and the verdict last.
EntriesDiff printDiffJson(const DiffRun& run)
{
    QJsonArray manifest;
    for (const ManifestChange& change : run.manifest.fields)
        manifest.append(QJsonObject{{QStringLiteral("key"), change.key},
                                    {QStringLiteral("old"), change.oldValue},
                                    {QStringLiteral("new"), change.newValue}});
    const QJsonObject head{
        {QStringLiteral("old"), run.older.path},
        {QStringLiteral("new"), run.newer.path},
        {QStringLiteral("damage"), QJsonObject{{QStringLiteral("old"), jsonList(run.older.damage)},
                                               {QStringLiteral("new"), jsonList(run.newer.damage)}}},
        {QStringLiteral("manifest"), manifest},
        {QStringLiteral("manifest_files_added"), jsonList(run.manifest.filesAdded)},
        {QStringLiteral("manifest_files_removed"), jsonList(run.manifest.filesRemoved)}};
    EntriesDiff entries;
    printJsonWithList(
        head, QStringLiteral("entries"),
        [&](const auto& put) {
            entries = diffEntries(run.older, run.newer, run.options.logs,
                                  [&](const EntryChange& change) { put(changeJson(change)); });
        },
        [&] {
            QJsonObject tail{
                {QStringLiteral("equal"), !run.damaged() && run.manifest.empty() && entries.empty()},
                {QStringLiteral("counts"), QJsonObject{{QStringLiteral("added"), entries.added},
                                                       {QStringLiteral("removed"), entries.removed},
                                                       {QStringLiteral("changed"), entries.changed}}},
                {QStringLiteral("lines_left_out"), entries.linesLeftOut},
                {QStringLiteral("texts_past_budget"), entries.textsPastBudget}};
            if (const StopToken& stop = run.newer.zip->stop(); stop.stopRequested())
                tail.insert(QStringLiteral("error"), stop.reason());
            return tail;
        });
    return entries;
}

} // namespace

int runShow(const ReadOptions& options)
{
    const QString& path = options.paths.constFirst();
    const auto stop = std::make_shared<const StopToken>(); // a signal stops the read
    if (isFolder(path)) {
        const CaseReport report = readCase(path, {.stop = stop});
        if (!report.readable())
            return trouble(report.openError, options.json);
        if (interrupted(*stop, options.json))
            return kTrouble;
        options.json ? printJson(caseJson(report)) : showCaseText(report);
        return report.intact() ? 0 : 1;
    }
    const PackageFindings report = readPackage(path, {.stop = stop});
    if (const QString why = unreadable(report); !why.isEmpty())
        return trouble(why, options.json);
    if (interrupted(*stop, options.json))
        return kTrouble;
    options.json ? printPackageJson(report) : showPackageText(report);
    return report.intact() ? 0 : 1;
}

int runDiff(const ReadOptions& options)
{
    std::vector<PackageFindings> packages;
    // The two packages are held together: one budget for both.
    const auto budget = std::make_shared<ReadBudget>();
    const auto stop = std::make_shared<const StopToken>(); // a signal stops the read
    for (const QString& path : options.paths) {
        if (isFolder(path))
            return trouble(QStringLiteral("%1 is a folder: diff compares two packages").arg(path),
                           options.json);
        // Every entry's bytes are read, as show reads them: a package whose data is damaged, or
        // that hides bytes between its entries, is never equal to another.
        packages.push_back(
            readPackage(path, {.checkData = true, .checkDigest = false, .budget = budget, .stop = stop}));
        if (const QString why = unreadable(packages.back()); !why.isEmpty())
            return trouble(why, options.json);
        if (interrupted(*stop, options.json))
            return kTrouble;
    }
    const DiffRun run{options, packages[0], packages[1],
                      diffManifests(packages[0].manifest, packages[1].manifest)};
    const EntriesDiff entries = options.json ? printDiffJson(run) : printDiffText(run);
    if (stop->stopRequested()) {
        sayError(stop->reason());
        return kTrouble;
    }
    return !run.damaged() && run.manifest.empty() && entries.empty() ? 0 : 1;
}
