#include "viewer/EntryPager.h"

#include "base/ShownText.h"

#include <QStringDecoder>

namespace {

constexpr size_t kKeptPages = 8;
constexpr qsizetype kDetectBytes = qsizetype(64) << 10;

bool highSurrogate(unsigned unit)
{
    return unit >= 0xd800 && unit <= 0xdbff;
}

} // namespace

EntryPager::EntryPager(std::shared_ptr<const ZipReader> zip, const ZipEntry& entry)
    : m_stream(std::move(zip), entry)
{
    m_bytes = readFrom(0, kTextPage);
    m_encoding = entryEncoding(m_bytes.left(kDetectBytes));
    trim(m_bytes, m_encoding == EntryEncoding::Binary ? kBinaryPage : kTextPage);
    m_kept.emplace_back(0, m_bytes);
}

bool EntryPager::hasNext() const
{
    if (m_current + 1 < m_starts.size())
        return true;
    if (!m_error.isEmpty() || m_bytes.isEmpty())
        return false;
    const quint64 end = offset() + quint64(m_bytes.size());
    if (end != cursor())
        return end < m_stream.entry().size;
    return !m_ahead.isEmpty() || !m_stream.atEnd();
}

void EntryPager::next()
{
    if (!hasNext())
        return;
    if (m_current + 1 == m_starts.size())
        m_starts.push_back(offset() + quint64(m_bytes.size()));
    ++m_current;
    load(m_starts[m_current]);
    if (m_bytes.isEmpty() && m_error.isEmpty()) { // the end came where no page was left
        m_starts.pop_back();
        --m_current;
        load(m_starts[m_current]);
    }
}

void EntryPager::previous()
{
    if (!hasPrevious())
        return;
    --m_current;
    load(m_starts[m_current]);
}

void EntryPager::load(quint64 offset)
{
    for (const auto& [start, bytes] : m_kept)
        if (start == offset) {
            m_bytes = bytes;
            return;
        }
    const qint64 want = m_encoding == EntryEncoding::Binary ? kBinaryPage : kTextPage;
    m_bytes = readFrom(offset, want);
    trim(m_bytes, want);
    m_kept.emplace_back(offset, m_bytes);
    if (m_kept.size() > kKeptPages)
        m_kept.pop_front();
}

QByteArray EntryPager::readFrom(quint64 offset, qint64 want)
{
    QByteArray bytes;
    if (offset == cursor())
        bytes = std::exchange(m_ahead, QByteArray());
    else {
        m_ahead.clear();
        if (!m_stream.seek(offset)) {
            m_error =
                m_stream.error().isEmpty() ? tr("it ends before byte %1").arg(offset) : m_stream.error();
            return {};
        }
    }
    while (bytes.size() < want) {
        const qsizetype had = bytes.size();
        bytes.resize(want);
        const quint64 before = m_stream.position();
        const qint64 n = m_stream.read(bytes.data() + had, want - had);
        bytes.resize(had +
                     qsizetype(m_stream.position() - before)); // a read that found damage gave its bytes
        if (n < 0)
            m_error = m_stream.error();
        if (n <= 0)
            break;
    }
    return bytes;
}

// A page holds at most want bytes and, when more follow, ends at a whole character: the rest
// waits for the next page.
void EntryPager::trim(QByteArray& bytes, qint64 want)
{
    if (bytes.size() < want)
        return;
    const qsizetype keep = m_encoding == EntryEncoding::Binary ? want : wholeCharacters(bytes.first(want));
    m_ahead.prepend(bytes.mid(keep));
    bytes.truncate(keep);
}

qsizetype EntryPager::wholeCharacters(const QByteArray& bytes) const
{
    const qsizetype n = bytes.size();
    const auto byte = [&](qsizetype i) { return unsigned(static_cast<unsigned char>(bytes[i])); };
    switch (m_encoding) {
    case EntryEncoding::Utf8:
        for (qsizetype back = 1; back <= 4 && back <= n; ++back) {
            const unsigned lead = byte(n - back);
            if ((lead & 0xc0) == 0x80)
                continue;
            const qsizetype length = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc0 ? 2 : 1;
            return length > back ? n - back : n;
        }
        return n;
    case EntryEncoding::Utf16LE:
        return n >= 2 && highSurrogate(byte(n - 2) | byte(n - 1) << 8) ? n - 2 : n;
    case EntryEncoding::Utf16BE:
        return n >= 2 && highSurrogate(byte(n - 2) << 8 | byte(n - 1)) ? n - 2 : n;
    case EntryEncoding::Latin1:
    case EntryEncoding::Binary:
        break;
    }
    return n;
}

QString EntryPager::text() const
{
    if (m_encoding == EntryEncoding::Binary)
        return hexDump(m_bytes, offset());
    // A byte-order mark is the encoding's only at the entry's start.
    QStringDecoder decoder(converterOf(m_encoding), offset() == 0
                                                        ? QStringConverter::Flag::Default
                                                        : QStringConverter::Flag::ConvertInitialBom);
    return shownText(decoder(m_bytes), true);
}

QString hexDump(const QByteArray& bytes, quint64 offset)
{
    static constexpr char16_t kDigits[] = u"0123456789abcdef";
    QString dump;
    dump.reserve((bytes.size() / 16 + 1) * 80);
    for (qsizetype line = 0; line < bytes.size(); line += 16) {
        dump += QStringLiteral("%1 ").arg(offset + quint64(line), 8, 16, QLatin1Char('0'));
        QString ascii;
        for (qsizetype k = 0; k < 16; ++k) {
            if (k % 8 == 0)
                dump += QLatin1Char(' ');
            if (line + k >= bytes.size()) {
                dump += QStringLiteral("   ");
                continue;
            }
            const auto b = static_cast<unsigned char>(bytes[line + k]);
            dump += QChar(kDigits[b >> 4]);
            dump += QChar(kDigits[b & 15]);
            dump += QLatin1Char(' ');
            ascii += b >= 0x20 && b < 0x7f ? QChar(b) : QLatin1Char('.');
        }
        dump += QLatin1Char(' ') + ascii + QLatin1Char('\n');
    }
    return dump;
}
