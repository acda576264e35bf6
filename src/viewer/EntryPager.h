#pragma once

#include "viewer/PackageFindings.h"
#include "viewer/ZipReader.h"

#include <QCoreApplication>

#include <deque>
#include <memory>
#include <utility>
#include <vector>

// An entry's bytes for the viewer's Entry pane, a page at a time. Its first bytes tell its
// encoding: text comes in pages of 1 MiB that end at a whole character, anything else in pages
// of 64 KiB, shown in hex. Only the page shown and the few before it are kept, so a large entry is
// never read whole into memory; a page no longer kept is read again (an earlier one from the
// entry's start). A damaged entry gives its bytes as far as they can be read, and the reason.
class EntryPager
{
    Q_DECLARE_TR_FUNCTIONS(EntryPager)

public:
    static constexpr qint64 kTextPage = qint64(1) << 20;
    static constexpr qint64 kBinaryPage = qint64(64) << 10;

    // Reads the first page.
    EntryPager(std::shared_ptr<const ZipReader> zip, const ZipEntry& entry);

    bool hasPrevious() const { return m_current > 0; }
    bool hasNext() const;
    void previous();
    void next();

    quint64 offset() const { return m_starts[m_current]; }
    // The entry's size as its headers say: ~0 when they do not.
    quint64 size() const { return m_stream.entry().size; }
    const QByteArray& bytes() const { return m_bytes; }
    EntryEncoding encoding() const { return m_encoding; }
    // Why the entry could not be read further, or empty.
    const QString& error() const { return m_error; }
    // The page as the pane shows it: its text, harmless, or its bytes in hex beside their offsets.
    QString text() const;

private:
    void load(quint64 offset);
    QByteArray readFrom(quint64 offset, qint64 want);
    void trim(QByteArray& bytes, qint64 want);
    qsizetype wholeCharacters(const QByteArray& bytes) const;
    quint64 cursor() const { return m_stream.position() - quint64(m_ahead.size()); }

    EntryStream m_stream;
    EntryEncoding m_encoding = EntryEncoding::Binary;
    std::vector<quint64> m_starts{0}; // of the pages seen so far, from the first
    size_t m_current = 0;
    QByteArray m_bytes;
    QByteArray m_ahead; // read past the page last read: the start of the next one
    QString m_error;
    std::deque<std::pair<quint64, QByteArray>> m_kept; // the last pages read
};

// Sixteen bytes a line: their offset, the bytes in hex, and the printable ASCII ones.
QString hexDump(const QByteArray& bytes, quint64 offset);
