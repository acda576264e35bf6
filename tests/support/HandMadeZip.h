#pragma once

#include <QByteArray>
#include <QList>

#include <optional>

// An entry of a hand-made archive: its headers can lie.
struct RawEntry
{
    QByteArray name;
    QByteArray data;
    bool deflate = true;
    quint16 flags = 0x0800;                // UTF-8 names
    std::optional<quint32> crc{};          // what the headers say, when not the data's
    std::optional<quint64> size{};         // likewise
    std::optional<quint64> headerOffset{}; // where the central directory says the entry is
};

// The bytes raw-deflated, as a zip entry holds them.
QByteArray rawDeflate(const QByteArray& data);

// A zip archive of the entries, written by hand so that its headers say what a test wants.
QByteArray handMade(const QList<RawEntry>& entries, const QByteArray& comment = {});
