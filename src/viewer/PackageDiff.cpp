#include "viewer/PackageDiff.h"

#include "base/ByteSize.h"
#include "base/PackageFormat.h"

#include <QHash>
#include <QSet>

#include <algorithm>

namespace {

const QString kMask = QString::fromLatin1(PackageFormat::kMask);
const QString kManifestName = QString::fromLatin1(PackageFormat::kManifestName);
const QString kMaskedOnly = QStringLiteral("only masked values differ");
constexpr int kMaxEdits = 2000; // past this many changed lines, an entry is not compared line by line

struct Text
{
    QString text;
    QList<QStringView> lines; // views into text
    QString problem;          // why it is not compared line by line
};

Text readText(const ZipReader& zip, const ZipEntry& entry, const DiffLimits& limits)
{
    Text text;
    QString why;
    const std::optional<QByteArray> bytes = zip.readAll(entry, limits.maxTextSize, &why);
    if (!bytes) {
        text.problem = why;
        return text;
    }
    const EntryEncoding encoding = entryEncoding(bytes->left(8192));
    if (encoding == EntryEncoding::Binary) {
        text.problem = QStringLiteral("binary");
        return text;
    }
    text.text = decodeText(*bytes, encoding);
    text.text.remove(QLatin1Char('\r'));
    text.lines = QStringView(text.text).split(QLatin1Char('\n'));
    if (!text.lines.isEmpty() && text.lines.constLast().isEmpty())
        text.lines.removeLast();
    return text;
}

// The lines as numbers, equal lines the same number, so the comparison below compares integers.
std::pair<std::vector<int>, std::vector<int>> numbered(const QList<QStringView>& a,
                                                       const QList<QStringView>& b)
{
    QHash<QStringView, int> ids;
    const auto number = [&](const QList<QStringView>& lines) {
        std::vector<int> out;
        out.reserve(static_cast<size_t>(lines.size()));
        for (const QStringView line : lines) {
            auto found = ids.constFind(line);
            if (found == ids.cend())
                found = ids.insert(line, static_cast<int>(ids.size()));
            out.push_back(*found);
        }
        return out;
    };
    auto first = number(a);
    return {std::move(first), number(b)};
}

// The shortest edit script from a to b (Myers): for each line of each side whether it is kept.
// None when more than maxEdits lines differ, or when the search has taken the steps left to the
// run (then steps is 0): a search costs up to the lines times the edits, and lines that repeat
// make it take all of that.
struct Edits
{
    std::vector<bool> removed; // per line of a
    std::vector<bool> added;   // per line of b
};

std::optional<Edits> shortestEdits(const std::vector<int>& a, const std::vector<int>& b, int maxEdits,
                                   quint64& steps, const StopToken& stop)
{
    const int n = static_cast<int>(a.size());
    const int m = static_cast<int>(b.size());
    const int offset = maxEdits + 1;
    std::vector<int> v(static_cast<size_t>(2 * offset + 1), 0);
    std::vector<std::vector<int>> trace;
    int found = -1;
    for (int d = 0; d <= maxEdits && found < 0 && steps > 0 && !stop.stopRequested(); ++d) {
        trace.emplace_back(v.begin() + (offset - d), v.begin() + (offset + d + 1));
        for (int k = -d; k <= d; k += 2) {
            int x = (k == -d || (k != d && v[offset + k - 1] < v[offset + k + 1])) ? v[offset + k + 1]
                                                                                   : v[offset + k - 1] + 1;
            int y = x - k;
            const int from = x;
            while (x < n && y < m && a[static_cast<size_t>(x)] == b[static_cast<size_t>(y)]) {
                ++x;
                ++y;
            }
            const quint64 taken = quint64(x - from) + 1;
            steps -= std::min(steps, taken);
            v[static_cast<size_t>(offset + k)] = x;
            if (x >= n && y >= m) {
                found = d;
                break;
            }
        }
    }
    if (found < 0)
        return std::nullopt;
    Edits edits{std::vector<bool>(static_cast<size_t>(n), false),
                std::vector<bool>(static_cast<size_t>(m), false)};
    int x = n;
    int y = m;
    for (int d = found; d > 0; --d) {
        const std::vector<int>& before = trace[static_cast<size_t>(d)]; // v as it was when step d began
        const auto at = [&](int k) { return before[static_cast<size_t>(k + d)]; };
        const int k = x - y;
        const bool down = k == -d || (k != d && at(k - 1) < at(k + 1));
        const int previousK = down ? k + 1 : k - 1;
        const int previousX = at(previousK);
        const int previousY = previousX - previousK;
        while (x > previousX && y > previousY) {
            --x;
            --y;
        }
        if (down)
            edits.added[static_cast<size_t>(y - 1)] = true;
        else
            edits.removed[static_cast<size_t>(x - 1)] = true;
        x = previousX;
        y = previousY;
    }
    return edits;
}

// The edits of the lines between the common start and the common end: a log that grew compares
// only its new tail, and the search keeps to what changed.
std::optional<Edits> trimmedEdits(const std::vector<int>& a, const std::vector<int>& b, int maxEdits,
                                  quint64& steps, const StopToken& stop)
{
    size_t head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head])
        ++head;
    size_t tail = 0;
    while (tail < a.size() - head && tail < b.size() - head &&
           a[a.size() - 1 - tail] == b[b.size() - 1 - tail])
        ++tail;
    const std::vector<int> middleA(a.begin() + static_cast<std::ptrdiff_t>(head),
                                   a.end() - static_cast<std::ptrdiff_t>(tail));
    const std::vector<int> middleB(b.begin() + static_cast<std::ptrdiff_t>(head),
                                   b.end() - static_cast<std::ptrdiff_t>(tail));
    std::optional<Edits> middle = shortestEdits(middleA, middleB, maxEdits, steps, stop);
    if (!middle)
        return std::nullopt;
    Edits edits{std::vector<bool>(a.size(), false), std::vector<bool>(b.size(), false)};
    std::copy(middle->removed.begin(), middle->removed.end(),
              edits.removed.begin() + static_cast<std::ptrdiff_t>(head));
    std::copy(middle->added.begin(), middle->added.end(),
              edits.added.begin() + static_cast<std::ptrdiff_t>(head));
    return edits;
}

// Takes back changes that only a mask makes: a removed line and the added line in its place that
// match once a masked value stands for any value.
void forgiveMasks(const QList<QStringView>& a, const QList<QStringView>& b, Edits& edits)
{
    size_t i = 0;
    size_t j = 0;
    while (i < edits.removed.size() || j < edits.added.size()) {
        if (i < edits.removed.size() && edits.removed[i] && j < edits.added.size() && edits.added[j]) {
            if (linesMatch(a[static_cast<qsizetype>(i)], b[static_cast<qsizetype>(j)]))
                edits.removed[i] = edits.added[j] = false;
            ++i;
            ++j;
        } else if (i < edits.removed.size() && edits.removed[i]) {
            ++i;
        } else if (j < edits.added.size() && edits.added[j]) {
            ++j;
        } else {
            ++i;
            ++j;
        }
    }
}

// What a run may still spend comparing texts line by line.
struct Budget
{
    int lines;     // changed lines to show
    quint64 text;  // bytes of text to read and compare
    quint64 steps; // steps of the search for changed lines
};

// Compares a changed text line by line, as far as the run's budget goes; false when the budget
// was spent before it (change.note then says so).
bool compareText(const ZipReader& older, const ZipEntry& oldEntry, const ZipReader& newer,
                 const ZipEntry& newEntry, const DiffLimits& limits, Budget& budget, EntryChange& change)
{
    const quint64 cost = oldEntry.size + newEntry.size;
    if (oldEntry.size > limits.maxTextSize || newEntry.size > limits.maxTextSize) {
        change.note = QStringLiteral("larger than the %1 a text compared line by line may hold; compared by "
                                     "CRC and size")
                          .arg(byteSizeText(limits.maxTextSize));
        return true;
    }
    const QString pastBudget = QStringLiteral("not compared line by line: this run has %1; compared by CRC "
                                              "and size");
    const QString stepsSpent = QStringLiteral("taken the steps a run may take finding changed lines");
    if (budget.steps == 0) {
        change.note = pastBudget.arg(stepsSpent);
        return false;
    }
    if (cost > budget.text) {
        change.note = pastBudget.arg(QStringLiteral("compared the %1 of text a run compares line by line")
                                         .arg(byteSizeText(limits.textInAll)));
        return false;
    }
    budget.text -= cost;
    const Text a = readText(older, oldEntry, limits);
    const Text b = readText(newer, newEntry, limits);
    if (!a.problem.isEmpty() || !b.problem.isEmpty()) {
        change.note = a.problem.isEmpty() ? b.problem : a.problem;
        return true;
    }
    const auto [ids, otherIds] = numbered(a.lines, b.lines);
    std::optional<Edits> edits = trimmedEdits(ids, otherIds, kMaxEdits, budget.steps, newer.stop());
    if (!edits && budget.steps == 0) {
        change.note = pastBudget.arg(stepsSpent);
        return false;
    }
    if (!edits) {
        change.note = QStringLiteral("more than %1 lines changed").arg(kMaxEdits);
        return true;
    }
    forgiveMasks(a.lines, b.lines, *edits);
    // In reading order, a removed line and the added line in its place one after the other, so that
    // the limit, when it cuts, still shows what a line became.
    size_t i = 0;
    size_t j = 0;
    int shown = 0;
    const auto put = [&](char kind, size_t line, const QStringView text) {
        if (shown < limits.linesPerEntry && budget.lines > 0) {
            change.lines.push_back({kind, static_cast<int>(line) + 1, text.toString()});
            ++shown;
            --budget.lines;
        } else {
            ++change.linesLeftOut;
        }
    };
    while (i < edits->removed.size() || j < edits->added.size()) {
        const bool removed = i < edits->removed.size() && edits->removed[i];
        const bool added = j < edits->added.size() && edits->added[j];
        if (removed) {
            put('-', i, a.lines[static_cast<qsizetype>(i)]);
            ++i;
        }
        if (added) {
            put('+', j, b.lines[static_cast<qsizetype>(j)]);
            ++j;
        }
        if (!removed && !added) {
            ++i;
            ++j;
        }
    }
    if (change.lines.empty() && change.linesLeftOut == 0)
        change.note = kMaskedOnly;
    return true;
}

// A log's time span: as reading the package found it, else read now.
LogSpan spanOf(const PackageFindings& package, size_t index)
{
    if (const std::optional<LogSpan>& span = package.entries[index].log)
        return *span;
    const ZipEntry& entry = package.zip->entries()[index];
    LogSpanReader reader;
    QString why; // a damaged log gives the span of what could be read
    package.zip->read(
        entry,
        [&](const char* data, size_t size) {
            reader.add(data, size);
            return !package.zip->stop().stopRequested();
        },
        &why);
    return reader.span(entry.modified);
}

} // namespace

bool linesMatch(QStringView a, QStringView b)
{
    if (a == b)
        return true;
    const bool maskInA = a.contains(kMask);
    const QStringView pattern = maskInA ? a : b;
    const QStringView other = maskInA ? b : a;
    if (!pattern.contains(kMask))
        return false;
    // The pieces between the masks, in order: the first at the start, the last at the end.
    const QList<QStringView> pieces = pattern.split(kMask);
    if (!other.startsWith(pieces.constFirst()) || !other.endsWith(pieces.constLast()) ||
        other.size() < pieces.constFirst().size() + pieces.constLast().size())
        return false;
    qsizetype at = pieces.constFirst().size();
    const qsizetype end = other.size() - pieces.constLast().size();
    for (qsizetype k = 1; k + 1 < pieces.size(); ++k) {
        const qsizetype found = other.indexOf(pieces.at(k), at);
        if (found < 0 || found + pieces.at(k).size() > end)
            return false;
        at = found + pieces.at(k).size();
    }
    return at <= end;
}

ManifestDiff diffManifests(const Manifest& older, const Manifest& newer)
{
    ManifestDiff diff;
    QStringList keys;
    for (const Manifest::Field& field : older.fields)
        keys.append(field.key);
    for (const Manifest::Field& field : newer.fields)
        if (!keys.contains(field.key))
            keys.append(field.key);
    for (const QString& key : keys)
        if (older.value(key) != newer.value(key))
            diff.fields.push_back({key, older.value(key), newer.value(key)});
    const QSet<QString> oldFiles(older.files.cbegin(), older.files.cend());
    const QSet<QString> newFiles(newer.files.cbegin(), newer.files.cend());
    for (const QString& file : newer.files)
        if (!oldFiles.contains(file))
            diff.filesAdded.append(file);
    for (const QString& file : older.files)
        if (!newFiles.contains(file))
            diff.filesRemoved.append(file);
    return diff;
}

EntriesDiff diffEntries(const PackageFindings& older, const PackageFindings& newer, bool compareLogText,
                        const std::function<void(const EntryChange&)>& each, const DiffLimits& limits)
{
    EntriesDiff diff;
    const std::vector<ZipEntry>& oldEntries = older.zip->entries();
    const std::vector<ZipEntry>& newEntries = newer.zip->entries();
    // One table of names, the old package's; each new entry learns its old one, and the old
    // entries no new one took are the removed ones.
    std::vector<qsizetype> before(newEntries.size(), -1);
    std::vector<bool> taken(oldEntries.size(), false);
    {
        QHash<QStringView, qsizetype> oldNames;
        oldNames.reserve(static_cast<qsizetype>(oldEntries.size()));
        for (size_t i = 0; i < oldEntries.size(); ++i)
            oldNames.insert(oldEntries[i].name, static_cast<qsizetype>(i));
        for (size_t i = 0; i < newEntries.size(); ++i)
            if (const auto found = oldNames.constFind(newEntries[i].name); found != oldNames.cend()) {
                before[i] = *found;
                taken[static_cast<size_t>(*found)] = true;
            }
    }
    const StopToken& stop = newer.zip->stop();
    for (size_t i = 0; i < oldEntries.size() && !stop.stopRequested(); ++i) {
        const ZipEntry& entry = oldEntries[i];
        if (taken[i] || entry.name == kManifestName)
            continue;
        ++diff.removed;
        each({.kind = EntryChange::Kind::Removed,
              .name = entry.name.toString(),
              .oldSize = entry.size,
              .oldCrc = entry.crc,
              .log = isLogEntry(entry.name)});
    }
    Budget budget{limits.linesInAll, limits.textInAll, limits.searchSteps};
    for (size_t i = 0; i < newEntries.size() && !stop.stopRequested(); ++i) {
        const ZipEntry& entry = newEntries[i];
        if (entry.name == kManifestName)
            continue;
        if (before[i] < 0) {
            ++diff.added;
            each({.kind = EntryChange::Kind::Added,
                  .name = entry.name.toString(),
                  .newSize = entry.size,
                  .newCrc = entry.crc,
                  .log = isLogEntry(entry.name)});
            continue;
        }
        const size_t oldIndex = static_cast<size_t>(before[i]);
        const ZipEntry& was = oldEntries[oldIndex];
        if (was.crc == entry.crc && was.size == entry.size)
            continue;
        EntryChange change{.kind = EntryChange::Kind::Changed,
                           .name = entry.name.toString(),
                           .oldSize = was.size,
                           .newSize = entry.size,
                           .oldCrc = was.crc,
                           .newCrc = entry.crc,
                           .log = isLogEntry(entry.name)};
        if (change.log && !compareLogText) {
            change.oldSpan = spanOf(older, oldIndex);
            change.newSpan = spanOf(newer, i);
        } else if (!entry.isFolder()) {
            if (!compareText(*older.zip, was, *newer.zip, entry, limits, budget, change))
                ++diff.textsPastBudget;
            if (change.note == kMaskedOnly)
                continue; // masked values count as equal
        }
        ++diff.changed;
        diff.linesShown += static_cast<int>(change.lines.size());
        diff.linesLeftOut += change.linesLeftOut;
        each(change);
    }
    return diff;
}

PackageDiff diffPackages(const PackageFindings& older, const PackageFindings& newer, bool compareLogText,
                         const DiffLimits& limits)
{
    PackageDiff diff;
    diff.manifest = diffManifests(older.manifest, newer.manifest);
    diff.counts = diffEntries(
        older, newer, compareLogText, [&](const EntryChange& change) { diff.entries.push_back(change); },
        limits);
    diff.damaged = !older.intact() || !newer.intact();
    return diff;
}
