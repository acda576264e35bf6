#include "components/IniDocument.h"

#include "outside/Interruption.h"

#include <QStringView>

#include <algorithm>

namespace {

// How many lines a read takes between two looks at the stop signals.
constexpr qsizetype kLinesPerCheck = 4096;

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isHexDigit(char16_t c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

int octValue(char c)
{
    return c >= '0' && c <= '7' ? c - '0' : -1;
}

QByteArrayView withoutLeadingBlanks(QByteArrayView text)
{
    qsizetype i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    return text.sliced(i);
}

// A line a person or a program could have written: no control character but the tab, and UTF-8.
bool isText(QByteArrayView line)
{
    const bool noControl = std::none_of(
        line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 && c != '\t'; });
    return noControl && line.isValidUtf8();
}

// A key or a section name as written: "\" stands for "/", "%XX" and "%UXXXX" for one character.
QString unescapedKey(QByteArrayView raw)
{
    const QString decoded = QString::fromUtf8(raw);
    QString result;
    result.reserve(decoded.size());
    for (qsizetype i = 0; i < decoded.size();) {
        const QChar c = decoded.at(i);
        if (c == u'\\') {
            result += u'/';
            ++i;
            continue;
        }
        if (c != u'%' || i == decoded.size() - 1) {
            result += c;
            ++i;
            continue;
        }
        const bool wide = decoded.at(i + 1) == u'U';
        const qsizetype first = wide ? i + 2 : i + 1;
        const qsizetype digits = wide ? 4 : 2;
        bool ok = false;
        const ushort code = first + digits <= decoded.size()
                                ? QStringView(decoded).sliced(first, digits).toUShort(&ok, 16)
                                : 0;
        if (!ok) {
            result += u'%';
            ++i;
            continue;
        }
        result += QChar(code);
        i = first + digits;
    }
    return result;
}

void appendEscapedKey(QByteArray& out, const QString& key)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const QChar qc : key) {
        const char16_t c = qc.unicode();
        if (c == u'/') {
            out += '\\';
        } else if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
                   c == u'_' || c == u'-' || c == u'.') {
            out += static_cast<char>(c);
        } else if (c <= 0xFF) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            out += "%U";
            for (int shift = 12; shift >= 0; shift -= 4)
                out += kHex[(c >> shift) & 0xF];
        }
    }
}

// One backslash escape at raw[i] (just past the backslash): appends what it stands for and
// returns the place after it. "\x" and octal take every digit that follows; an unknown escape
// stands for nothing.
qsizetype appendEscape(QByteArrayView raw, qsizetype i, QString& out)
{
    static constexpr char kNamed[][2] = {{'a', '\a'}, {'b', '\b'},  {'f', '\f'}, {'n', '\n'},
                                         {'r', '\r'}, {'t', '\t'},  {'v', '\v'}, {'"', '"'},
                                         {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
    const char c = raw[i++];
    for (const auto& named : kNamed) {
        if (c == named[0]) {
            out += QLatin1Char(named[1]);
            return i;
        }
    }
    const bool hex = c == 'x';
    if (!hex && octValue(c) < 0)
        return i;
    char16_t code = hex ? 0 : static_cast<char16_t>(octValue(c));
    if (hex && (i >= raw.size() || hexValue(raw[i]) < 0))
        return i; // "\x" without a digit
    for (; i < raw.size(); ++i) {
        const int digit = hex ? hexValue(raw[i]) : octValue(raw[i]);
        if (digit < 0)
            break;
        code = static_cast<char16_t>((code << (hex ? 4 : 3)) + digit);
    }
    out += QChar(code);
    return i;
}

// A text that begins with "@" is written with a second one, one that holds NUL as "@String(...)";
// "@Invalid()" is no value.
QString textOf(QString written)
{
    if (!written.startsWith(u'@'))
        return written;
    if (written.startsWith(QLatin1String("@String(")) && written.endsWith(u')'))
        return written.sliced(8).chopped(1);
    if (written == QLatin1String("@Invalid()"))
        return QString();
    if (written.startsWith(QLatin1String("@@")))
        written.remove(0, 1);
    return written;
}

QString writtenOf(const QString& text)
{
    if (text.contains(QChar(0)))
        return QStringLiteral("@String(") + text + u')';
    return text.startsWith(u'@') ? u'@' + text : text;
}

// A value as written after "=": blanks around it dropped unless quoted, escapes replaced, quotes
// removed. A comma outside quotes makes it a list, which reads as the empty text.
QString unescapedValue(QByteArrayView raw)
{
    QString out;
    out.reserve(raw.size());
    bool inQuotes = false;
    bool quoted = false;
    qsizetype keep = 0; // trailing blanks before this length stay: they came from an escape
    qsizetype i = 0;
    const auto skipBlanks = [&] {
        while (i < raw.size() && isBlank(raw[i]))
            ++i;
        keep = out.size();
    };
    skipBlanks();
    while (i < raw.size()) {
        const char c = raw[i];
        if (c == '\\') {
            if (++i < raw.size())
                i = appendEscape(raw, i, out);
            keep = out.size();
        } else if (c == '"') {
            ++i;
            quoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes)
                skipBlanks();
        } else if (c == ',' && !inQuotes) {
            return QString();
        } else {
            qsizetype j = i + 1;
            while (j < raw.size() && raw[j] != '\\' && raw[j] != '"' && (inQuotes || raw[j] != ','))
                ++j;
            out += QString::fromUtf8(raw.sliced(i, j - i));
            i = j;
        }
    }
    if (!quoted) {
        while (out.size() > keep && (out.endsWith(u' ') || out.endsWith(u'\t')))
            out.chop(1);
    }
    return textOf(out);
}

void appendEscapedText(QByteArray& out, const QString& value)
{
    const QString text = writtenOf(value);
    const qsizetype start = out.size();
    bool needsQuotes = false;
    bool escapeNextIfDigit = false; // after "\x..." or "\0" a hex digit would join the escape
    const auto escapeCode = [&](char16_t c) {
        out += "\\x" + QByteArray::number(c, 16);
        escapeNextIfDigit = true;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c == u';' || c == u',' || c == u'=')
            needsQuotes = true;
        if (escapeNextIfDigit && isHexDigit(c)) {
            escapeCode(c);
            continue;
        }
        escapeNextIfDigit = false;
        switch (c) {
        case u'\0':
            out += "\\0";
            escapeNextIfDigit = true;
            break;
        case u'\a':
            out += "\\a";
            break;
        case u'\b':
            out += "\\b";
            break;
        case u'\f':
            out += "\\f";
            break;
        case u'\n':
            out += "\\n";
            break;
        case u'\r':
            out += "\\r";
            break;
        case u'\t':
            out += "\\t";
            break;
        case u'\v':
            out += "\\v";
            break;
        case u'"':
        case u'\\':
            out += '\\';
            out += static_cast<char>(c);
            break;
        default:
            if (c <= 0x1F) {
                escapeCode(c);
            } else if (c < 0x80) {
                out += static_cast<char>(c);
            } else if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
                out += QStringView(text).sliced(i, 2).toUtf8();
                ++i;
            } else if (QChar::isSurrogate(c)) {
                escapeCode(c); // a lone half, such as a host-name byte that is not UTF-8
            } else {
                out += QStringView(text).sliced(i, 1).toUtf8();
            }
        }
    }
    if (needsQuotes || (out.size() > start && (out.at(start) == ' ' || out.back() == ' '))) {
        out.insert(start, '"');
        out += '"';
    }
}

QString sectionName(QByteArrayView raw)
{
    const QByteArrayView general("general");
    if (raw.size() == general.size() && qstrnicmp(raw.data(), general.data(), general.size()) == 0)
        return QString();
    if (raw.size() == general.size() + 1 && raw.front() == '%' &&
        qstrnicmp(raw.data() + 1, general.data(), general.size()) == 0)
        return QString::fromLatin1(raw.sliced(1));
    return unescapedKey(raw);
}

// The end of the part of a line before its comment, and where its first "=" outside quotes is.
struct LineShape
{
    qsizetype equals = -1;
    qsizetype end = 0;
};

LineShape shapeOf(QByteArrayView line)
{
    LineShape shape{-1, line.size()};
    bool inQuotes = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\\') {
            ++i;
        } else if (c == '"') {
            inQuotes = !inQuotes;
        } else if (c == '=' && !inQuotes && shape.equals < 0) {
            shape.equals = i;
        } else if (c == ';' && !inQuotes) {
            shape.end = i;
            break;
        }
    }
    return shape;
}

} // namespace

IniDocument IniDocument::parse(QByteArrayView text)
{
    IniDocument document;
    if (text.startsWith("\xef\xbb\xbf"))
        text = text.sliced(3);
    // The section of the lines read; none after a header without "]", whose lines are dropped.
    std::optional<QString> section = QString();
    qsizetype lines = 0;
    for (qsizetype start = 0; start < text.size();) {
        if (++lines % kLinesPerCheck == 0)
            Interruption::check();
        qsizetype end = start;
        while (end < text.size() && text[end] != '\n' && text[end] != '\r')
            ++end;
        const QByteArrayView line = withoutLeadingBlanks(text.sliced(start, end - start));
        start = end + 1;
        if (line.isEmpty() || line.front() == ';' || line.front() == '#' || !isText(line))
            continue;
        if (line.front() == '[') {
            const qsizetype close = line.indexOf(']');
            section =
                close < 0 ? std::nullopt : std::optional(sectionName(line.sliced(1, close - 1).trimmed()));
            continue;
        }
        const LineShape shape = shapeOf(line);
        if (!section || shape.equals < 0 || shape.equals >= shape.end)
            continue;
        const QByteArrayView key = line.first(shape.equals).trimmed();
        if (key.isEmpty())
            continue;
        document.setValue(*section, unescapedKey(key),
                          unescapedValue(line.sliced(shape.equals + 1, shape.end - shape.equals - 1)));
    }
    return document;
}

QByteArray IniDocument::toText() const
{
    QByteArray out;
    for (const Section& section : m_sections) {
        if (section.entries.isEmpty())
            continue;
        if (!out.isEmpty())
            out += '\n';
        if (section.name.isEmpty()) {
            out += "[General]";
        } else {
            out += section.name.compare(QLatin1String("general"), Qt::CaseInsensitive) == 0 ? "[%" : "[";
            appendEscapedKey(out, section.name);
            out += ']';
        }
        out += '\n';
        for (const Entry& entry : section.entries) {
            appendEscapedKey(out, entry.key);
            out += '=';
            appendEscapedText(out, entry.value);
            out += '\n';
        }
    }
    return out;
}

bool IniDocument::hasSection(const QString& section) const
{
    return m_index.contains(section);
}

std::optional<QString> IniDocument::value(const QString& section, const QString& key) const
{
    const auto place = m_index.constFind(section);
    if (place == m_index.cend())
        return std::nullopt;
    const Section& found = m_sections.at(*place);
    const auto entry = found.index.constFind(key);
    if (entry == found.index.cend())
        return std::nullopt;
    return found.entries.at(*entry).value;
}

void IniDocument::setValue(const QString& section, const QString& key, const QString& value)
{
    Section& target = sectionNamed(section);
    const auto entry = target.index.constFind(key);
    if (entry != target.index.cend()) {
        target.entries[*entry].value = value;
        return;
    }
    target.index.insert(key, target.entries.size());
    target.entries.append({key, value});
}

IniDocument::Section& IniDocument::sectionNamed(const QString& name)
{
    const auto place = m_index.constFind(name);
    if (place != m_index.cend())
        return m_sections[*place];
    m_index.insert(name, m_sections.size());
    m_sections.append({name, {}, {}});
    return m_sections.last();
}
