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
    std::optional<quint64> packed{};       // the compressed size the headers give, when not the data's;
                                           // past 32 bits in a zip64 extra field
    std::optional<QByteArray> localName{}; // the name its local header gives, when not the directory's
    std::optional<quint32> localCrc{};     // what its local header gives, when not what the directory gives
    std::optional<quint64> localSize{};
    std::optional<quint16> localFlags{};
    std::optional<bool> localDeflate{};
    bool listed = true;      // false: written in the archive, left out of its directory
    bool claimsNext = false; // the compressed size its headers give takes in the entry after it
    bool descriptor = false; // its CRC and sizes follow its data (bit 3), not in its local header
    std::optional<quint32> descriptorCrc{}; // what that descriptor says, when not the directory's CRC
    quint32 mode = 0100644;                 // its Unix type and permissions, in the directory
    quint8 system = 3;                      // the system it was made on (3: Unix)
    QByteArray centralExtra{};              // extra fields of its directory record
};

// The bytes raw-deflated, as a zip entry holds them.
QByteArray rawDeflate(const QByteArray& data);

// A zip archive of the entries, written by hand so that its headers say what a test wants.
QByteArray handMade(const QList<RawEntry>& entries, const QByteArray& comment = {});
